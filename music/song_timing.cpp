// The timing-only copy of a song, for the duration pass.
#include "song_timing.h"

#include "xm_format.h"

#include <cstdlib>

namespace music {

bool movesPositionOrTempo(const Cell& cell) {
    switch (cell.effect) {
    case xm::effectPositionJump:
    case xm::effectPatternBreak:
    case xm::effectSetSpeed: return true;
    case xm::effectExtended: {
        const uint8_t command = xm::commandNibble(cell.param);
        return command == xm::extendedPatternLoop || command == xm::extendedPatternDelay;
    }
    default: return false;
    }
}

bool makeTimingCopy(const Player* from, TimingCopy* copy) {
    *copy = TimingCopy{};
    copy->player = *from;
    Player& to = copy->player;
    to.patterns = nullptr;
    to.instruments = nullptr;
    to.instrumentCount = 0;

    const int32_t channels = from->channelCount < maxChannels ? from->channelCount : maxChannels;
    int32_t kept[maxChannels] = {};
    bool used[maxChannels] = {};
    for (int32_t p = 0; p < from->patternRecordCount; ++p) {
        const Pattern& pattern = from->patterns[p];
        if (pattern.cells == nullptr) continue;
        for (int32_t r = 0; r < pattern.rowCount; ++r)
            for (int32_t c = 0; c < channels; ++c)
                if (movesPositionOrTempo(pattern.cells[static_cast<int64_t>(r) * channels + c]))
                    used[c] = true;
    }
    int32_t keptCount = 0;
    for (int32_t c = 0; c < channels; ++c)
        if (used[c]) kept[keptCount++] = c;

    to.patterns = static_cast<Pattern*>(std::calloc(
        static_cast<size_t>(from->patternRecordCount > 0 ? from->patternRecordCount : 1),
        sizeof(Pattern)));
    if (to.patterns == nullptr) {
        *copy = TimingCopy{};
        return false;
    }
    to.channelCount = static_cast<int16_t>(keptCount);
    copy->channels = keptCount;
    for (int32_t p = 0; p < from->patternRecordCount; ++p) {
        const Pattern& pattern = from->patterns[p];
        Pattern& shadow = to.patterns[p];
        shadow.rowCount = pattern.rowCount;
        if (pattern.cells == nullptr || keptCount == 0) continue;
        bool any = false;
        for (int64_t i = 0; i < static_cast<int64_t>(pattern.rowCount) * channels && !any; ++i)
            any = movesPositionOrTempo(pattern.cells[i]);
        if (!any) continue;
        shadow.cells = static_cast<Cell*>(
            std::calloc(static_cast<size_t>(pattern.rowCount) * keptCount, sizeof(Cell)));
        if (shadow.cells == nullptr) {
            freeTimingCopy(copy);
            return false;
        }
        for (int32_t r = 0; r < pattern.rowCount; ++r) {
            for (int32_t k = 0; k < keptCount; ++k) {
                const Cell& cell = pattern.cells[static_cast<int64_t>(r) * channels + kept[k]];
                if (!movesPositionOrTempo(cell)) continue;
                Cell& out = shadow.cells[static_cast<int64_t>(r) * keptCount + k];
                out.effect = cell.effect;
                out.param = cell.param;
            }
        }
    }
    return true;
}

void freeTimingCopy(TimingCopy* copy) {
    if (copy->player.patterns != nullptr) {
        for (int32_t p = 0; p < copy->player.patternRecordCount; ++p)
            std::free(copy->player.patterns[p].cells);
        std::free(copy->player.patterns);
    }
    *copy = TimingCopy{};
}

} // namespace music
