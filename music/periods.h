// Note periods on the linear and the Amiga table.
#pragma once

#include <cstdint>

namespace music {

struct Player;

// Whether the song plays on the linear table (the file's flag); the Amiga table otherwise.
bool linearTable(const Player* player);

// Amiga period of a note (0..255, up to 15 more from the arpeggio) with finetune -128..127.
int32_t amigaPeriod(int32_t realNote, int32_t finetune);

// Period of a note on the table the Player's flags select.
int32_t notePeriodFor(const Player* player, int32_t realNote, int32_t finetune);

// Arpeggio period on the linear table as FT2 finds it: the playing period snapped to the
// nearest note at the finetune (in 1/16 semitone steps), semitones added, capped at FT2's top.
int32_t linearArpeggioPeriod(int32_t period, int32_t finetune, int32_t semitones);

} // namespace music
