// Note periods on the linear and the Amiga table, and the arpeggio's notes on FT2's table.
#include "periods.h"

#include "amiga_periods.h"
#include "channel.h"
#include "module.h"
#include "profile.h"
#include "xm_format.h"

#include <cmath>
#include <cstdint>

namespace music {

namespace {

constexpr int32_t linearPeriodOfNoteZero = 7680;

constexpr int32_t linearPeriodsPerSemitone = 64;

} // namespace

bool linearTable(const Player* player) {
    return (player->flags & xm::flagLinearFrequencies) != 0;
}

namespace {

int32_t periodOfSemitoneStep(int32_t k) {
    const float octaves = static_cast<float>(k) / 12.0f;
    return static_cast<int32_t>(13.375 * std::pow(2.0, static_cast<double>(octaves)));
}

} // namespace

int32_t amigaPeriod(int32_t realNote, int32_t finetune) {
    const int32_t p0 = periodOfSemitoneStep(132 - realNote);
    if (finetune < 0 && realNote != 0) {
        const int32_t lower = periodOfSemitoneStep(133 - realNote);
        return p0 + (-finetune) * (lower - p0) / 128;
    }
    const int32_t higher = periodOfSemitoneStep(131 - realNote);
    return p0 - finetune * (p0 - higher) / 128;
}

int32_t notePeriodFor(const Player* player, int32_t realNote, int32_t finetune) {
    if (!linearTable(player) && profileOf(player).ft2AmigaPeriodTable)
        return ft2AmigaNotePeriod(realNote, finetune);
    if (profileOf(player).finetuneSixteenthSteps) {
        // Steps of 1/16 semitone: 4 linear period units each.
        const int32_t step = finetune >> 3;
        if (linearTable(player))
            return linearPeriodOfNoteZero - linearPeriodsPerSemitone * realNote - 4 * step;
        return amigaPeriod(realNote, step * 8);
    }
    if (linearTable(player))
        return linearPeriodOfNoteZero - linearPeriodsPerSemitone * realNote - finetune / 2;
    return amigaPeriod(realNote, finetune);
}

int32_t linearArpeggioPeriod(int32_t period, int32_t finetune, int32_t semitones) {
    // FT2's linear note table: entry i is 7744 - 4 i, a note n at finetune step f sits at
    // 16 n + 16 + f. The search compares with the point half a semitone below each note.
    constexpr int32_t tableTop = 7744;
    constexpr int32_t entriesPerNote = 16;
    constexpr int32_t searchedNotes = 96;
    constexpr int32_t lastReachable = 1550; // from here on FT2 plays entry 1551
    const int32_t offset = (finetune >> 3) + entriesPerNote;
    int32_t low = 0;
    int32_t high = searchedNotes * entriesPerNote;
    for (int32_t i = 0; i < 8; ++i) {
        const int32_t middle = ((low + high) >> 1) & ~(entriesPerNote - 1);
        int32_t halfBelow = middle + offset - entriesPerNote / 2;
        if (halfBelow < 0) halfBelow = 0;
        if (period >= tableTop - 4 * halfBelow) {
            high = middle;
        } else {
            low = middle;
        }
    }
    int32_t entry = low + offset + semitones * entriesPerNote;
    if (entry >= lastReachable) entry = lastReachable + 1;
    return tableTop - 4 * entry;
}

} // namespace music
