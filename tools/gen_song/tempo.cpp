// Tempo steering: the song time of the player, computed exactly as its renderer adds it up.
#include "tempo.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace gensong {
namespace {

constexpr int32_t chunkFrames = 884;
constexpr double beatMs = 1000.0 / 3.0;
constexpr int32_t timedBeats = 160; // beats whose start is steered (orders 0..4)
constexpr int32_t lowestBpm = 80;
constexpr int32_t highestBpm = 125;

int32_t samplesPerTickForBpm(int32_t bpm) {
    float t = static_cast<float>(bpm * 2) / 5.0f;
    t = 1000.0f / t;
    t = t * static_cast<float>(outputRateHz);
    t = t / 1000.0f;
    return static_cast<int32_t>(t);
}

int32_t songMsForRun(int32_t frames) {
    const float secondsPerFrame = 1.0f / static_cast<float>(outputRateHz);
    return static_cast<int32_t>(static_cast<float>(frames) * secondsPerFrame * 1000.0f);
}

struct SongClock {
    int32_t songTimeMs = 0;
    int32_t frameInChunk = 0;
};

void advanceTick(SongClock& clock, int32_t samplesPerTick) {
    int32_t left = samplesPerTick;
    while (left > 0) {
        const int32_t n = std::min(left, chunkFrames - clock.frameInChunk);
        clock.songTimeMs += songMsForRun(n);
        clock.frameInChunk = (clock.frameInChunk + n) % chunkFrames;
        left -= n;
    }
}

// Puts an effect on the row into the first channel whose effect column is free.
bool placeRowEffect(Pattern& p, int32_t row, uint8_t type, uint8_t param) {
    static constexpr std::array<int32_t, channelCount> preference = {chKick,  chBass,   chChords,
                                                                     chDrums, chColour, chLead};
    for (int32_t ch : preference) {
        Cell& c = p.at(row, ch);
        if (c.effect == 0 && c.param == 0) {
            c.effect = type;
            c.param = param;
            return true;
        }
    }
    return false;
}

} // namespace

TimingReport steerTempo(std::array<Pattern, storedPatternCount>& patterns) {
    TimingReport report;
    SongClock clock;
    int32_t current = -1;
    for (int32_t beat = 0; beat < timedBeats; ++beat) {
        const double target = (beat + 1) * beatMs;
        int32_t best = referenceBpm;
        double bestError = 1e9;
        for (int32_t bpm = lowestBpm; bpm <= highestBpm; ++bpm) {
            SongClock trial = clock;
            for (int32_t t = 0; t < rowsPerBeat * ticksPerRow; ++t)
                advanceTick(trial, samplesPerTickForBpm(bpm));
            const double error = std::fabs(trial.songTimeMs - target);
            if (error < bestError - 1e-9 ||
                (std::fabs(error - bestError) < 1e-9 && bpm == current)) {
                best = bpm;
                bestError = error;
            }
        }
        const double offset = clock.songTimeMs - beat * beatMs;
        report.beatStartMs.push_back(clock.songTimeMs);
        if (beat < 144 && std::fabs(offset) > std::fabs(report.worstOffsetMs)) {
            report.worstOffsetMs = offset;
            report.worstBeat = beat;
        }
        const int32_t order = beat / (rowsPerPattern / rowsPerBeat);
        const int32_t row = (beat % (rowsPerPattern / rowsPerBeat)) * rowsPerBeat;
        Pattern& p = patterns[orderTable[static_cast<size_t>(order)]];
        if (beat == 0) report.defaultBpm = best;
        if (best != current || row == 0) {
            if (!placeRowEffect(p, row, fxSpeed, static_cast<uint8_t>(best))) {
                std::fprintf(stderr, "gen_song: no free effect column at order %d row %d\n", order,
                             row);
                std::exit(1);
            }
            if (best != current) ++report.bpmChanges;
            current = best;
        }
        for (int32_t t = 0; t < rowsPerBeat * ticksPerRow; ++t)
            advanceTick(clock, samplesPerTickForBpm(best));
    }
    return report;
}

bool startUntimedPatternsAtReferenceBpm(std::array<Pattern, storedPatternCount>& patterns) {
    const auto timedEnd = orderTable.begin() + timedBeats / (rowsPerPattern / rowsPerBeat);
    for (int32_t index = 0; index < storedPatternCount; ++index) {
        if (std::find(orderTable.begin(), timedEnd, index) != timedEnd) continue;
        if (!placeRowEffect(patterns[static_cast<size_t>(index)], 0, fxSpeed, referenceBpm))
            return false;
    }
    return true;
}

} // namespace gensong
