// FastTracker 2's Amiga period table, built at compile time from the rule FT2's numbers follow.
#pragma once

#include <cstdint>

namespace music {

// Entries of the table: 1/16 semitone apart, entry 16 is C-0, so a note n (0 = C-0) with finetune
// f (-128..127) sits at 16 n + 16 + (f >> 3). Ten octaves from B below C-0, and 16 entries past
// them that FT2 filled from memory behind its own table.
constexpr int32_t ft2AmigaTableEntries = 1936;

// Entry `index` of the table, the index clamped to it.
int32_t ft2AmigaTablePeriod(int32_t index);

// Amiga period of a note (0 = C-0) with finetune -128..127 as FT2 plays it: the finetune counts in
// steps of 1/16 semitone, its low three bits dropped.
int32_t ft2AmigaNotePeriod(int32_t realNote, int32_t finetune);

// FT2's arpeggio and glissando: the period of the note `semitones` (0..15) above the note that
// `period` is nearest to, searched at the given finetune. Like FT2 the search covers notes up to
// B-7 and the result stops 1/16 semitone below C-8.
int32_t ft2AmigaSnappedPeriod(int32_t period, int32_t finetune, int32_t semitones);

} // namespace music
