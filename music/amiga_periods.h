// FastTracker 2's Amiga period table, built at compile time from the rule FT2's numbers follow.
#pragma once

#include <cstdint>

namespace music {

// Amiga period of a note (0 = C-0) with finetune -128..127 as FT2 plays it: the finetune counts in
// steps of 1/16 semitone, its low three bits dropped. Notes FT2 never plays (above B-9) read the
// table's last entry.
int32_t ft2AmigaNotePeriod(int32_t realNote, int32_t finetune);

// FT2's arpeggio and glissando: the period of the note `semitones` (0..15) above the note that
// `period` is nearest to, searched at the given finetune. Like FT2 the search covers notes up to
// B-7 and the result stops 1/16 semitone below C-8.
int32_t ft2AmigaSnappedPeriod(int32_t period, int32_t finetune, int32_t semitones);

} // namespace music
