// The tick handler: song position, rows and ticks, and the order of every channel's work in a
// tick. What a channel does lives below it: note_start, envelope, volume_column, auto_vibrato,
// effects, voice_update.
#pragma once

#include <cstdint>

namespace music {

struct Player;

// One tick of the whole song: the row tick reads the cells of the current row, the other ticks
// run the modulations; every channel ends its tick with the voice update. Installed as the
// Player's tickHandler; it reads and writes the Player's channels and voices.
void sequencerTick(Player* player);

// Per-channel work of the row tick and of the other ticks; sequencerTick calls them.
void processRow(Player* player);
void processTick(Player* player);

// Whether any channel is inside a pattern loop (E6x still has passes to go). Rows such a loop
// plays again are part of the song, not a sign that it has come round to its start.
bool patternLoopRunning(const Player* player);

// The sequencer's state as playback starts: position, tempo, BPM, global volume, every channel
// and voice of the Player and its stand-ins. The one reset that playback start, the offline
// renderer and the tests use.
void resetSequencer(Player* player);

// Makes the next tick the row tick of row 0 of order (taken as given; the caller checks it):
// the tick count, the pattern delay, the pending pattern-loop row and the channels' loop
// counters start over, the rest of the channels' state plays on.
void seekOrder(Player* player, int32_t order);

} // namespace music
