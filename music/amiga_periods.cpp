// FastTracker 2's Amiga period table. FT2 keeps one octave of periods in eighth-semitone steps
// and derives everything else from it; the rule below rebuilds that octave and the derivation:
//
// 1. The base octave, B-4 to A#-5 plus seven eighths, 96 steps s (s = 8 is C-5): the nearest
//    integer to 856 x 2^((8 - s) / 96), except that the notes C-5 to A#-5 themselves keep the MOD
//    format's periods (856, 808, 762, 720, 678, 640, 604, 570, 538, 508, 480) and F-5 plus an
//    eighth is 636 (637 by the formula).
// 2. Octave o (0..9) of the table: the base octave times 2^(5 - o); halving rounds to the nearest
//    integer, a half down.
// 3. The table holds these at even entries and the floored mean of the two neighbours at odd ones.
// 4. The 16 entries past the tenth octave, which FT2 filled from memory behind its own data: the
//    even ones cycle 16, 0, 32 and the last is 0. A tone portamento to B-9 reaches them.
//
// Entry 16 n + 16 + (f >> 3) belongs to note n (0 = C-0) at finetune f; entries are 1/16 semitone
// apart.
#include "amiga_periods.h"

namespace music {

namespace {

constexpr int32_t stepsPerOctave = 96; // eighth semitones
constexpr int32_t stepsPerSemitone = 8;
constexpr int32_t entriesPerStep = 2;
constexpr int32_t entriesPerSemitone = stepsPerSemitone * entriesPerStep;
constexpr int32_t tableOctaves = 10;
constexpr int32_t baseOctave = 5;
constexpr int32_t baseStepOfC = 8;
constexpr int32_t periodOfC5 = 856;
constexpr int32_t modNotePeriods[11] = {856, 808, 762, 720, 678, 640, 604, 570, 538, 508, 480};
constexpr int32_t fPlusEighthStep = baseStepOfC + 5 * stepsPerSemitone + 1;
constexpr int32_t fPlusEighthPeriod = 636;
constexpr int32_t pastTableCycle[3] = {16, 0, 32};

// 2^(1/96), by bisection on x^96 = 2: x^96 = ((x^3)^32).
constexpr double eighthSemitoneRatio() {
    double low = 1.0;
    double high = 1.01;
    for (int32_t i = 0; i < 64; ++i) {
        const double middle = (low + high) / 2.0;
        double power = middle * middle * middle;
        for (int32_t square = 0; square < 5; ++square) power *= power;
        if (power < 2.0) {
            low = middle;
        } else {
            high = middle;
        }
    }
    return low;
}

constexpr int32_t basePeriod(int32_t step) {
    const int32_t fromC = step - baseStepOfC;
    if (fromC >= 0 && fromC % stepsPerSemitone == 0)
        return modNotePeriods[fromC / stepsPerSemitone];
    if (step == fPlusEighthStep) return fPlusEighthPeriod;
    // Every nearest integer here is at least 0.009 from a half, far beyond the rounding error.
    const double ratio = eighthSemitoneRatio();
    double period = periodOfC5;
    for (int32_t i = 0; i < fromC; ++i) period /= ratio;
    for (int32_t i = fromC; i < 0; ++i) period *= ratio;
    return static_cast<int32_t>(period + 0.5);
}

constexpr int32_t octavePeriod(int32_t base, int32_t octave) {
    if (octave <= baseOctave) return base << (baseOctave - octave);
    const int32_t halvings = octave - baseOctave;
    return (base + (1 << (halvings - 1)) - 1) >> halvings;
}

constexpr int32_t tableEntries = 1936;

struct AmigaTable {
    uint16_t period[tableEntries];
};

constexpr AmigaTable buildTable() {
    AmigaTable table{};
    for (int32_t step = 0; step < stepsPerOctave; ++step) {
        const int32_t base = basePeriod(step);
        for (int32_t octave = 0; octave < tableOctaves; ++octave) {
            const int32_t entry = (octave * stepsPerOctave + step) * entriesPerStep;
            table.period[entry] = static_cast<uint16_t>(octavePeriod(base, octave));
        }
    }
    constexpr int32_t pastEnd = tableOctaves * stepsPerOctave * entriesPerStep;
    for (int32_t entry = pastEnd; entry < tableEntries; entry += entriesPerStep)
        table.period[entry] =
            static_cast<uint16_t>(pastTableCycle[(entry - pastEnd) / entriesPerStep % 3]);
    for (int32_t entry = 1; entry + 1 < tableEntries; entry += entriesPerStep)
        table.period[entry] =
            static_cast<uint16_t>((table.period[entry - 1] + table.period[entry + 1]) / 2);
    table.period[tableEntries - 1] = 0;
    return table;
}

constexpr AmigaTable amigaTable = buildTable();

static_assert(amigaTable.period[16 + 48 * entriesPerSemitone] == 1712, "C-4 at finetune 0");

int32_t finetuneEntry(int32_t finetune) {
    return (finetune >> 3) + entriesPerSemitone;
}

int32_t tablePeriod(int32_t entry) {
    if (entry < 0) entry = 0;
    if (entry >= tableEntries) entry = tableEntries - 1;
    return amigaTable.period[entry];
}

} // namespace

int32_t ft2AmigaNotePeriod(int32_t realNote, int32_t finetune) {
    return tablePeriod(realNote * entriesPerSemitone + finetuneEntry(finetune));
}

int32_t ft2AmigaSnappedPeriod(int32_t period, int32_t finetune, int32_t semitones) {
    constexpr int32_t searchedNotes = 96;
    constexpr int32_t lastReachable = 1550; // from here on FT2 plays the entry after it
    const int32_t offset = finetuneEntry(finetune);
    int32_t low = 0;
    int32_t high = searchedNotes * entriesPerSemitone;
    for (int32_t i = 0; i < 8; ++i) {
        // Compared with the point half a semitone below each note.
        const int32_t middle = ((low + high) >> 1) & ~(entriesPerSemitone - 1);
        const int32_t halfBelow = middle + offset - entriesPerSemitone / 2;
        if (period >= tablePeriod(halfBelow)) {
            high = middle;
        } else {
            low = middle;
        }
    }
    int32_t entry = low + offset + semitones * entriesPerSemitone;
    if (entry >= lastReachable) entry = lastReachable + 1;
    return tablePeriod(entry);
}

} // namespace music
