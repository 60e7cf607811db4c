// The shipped demo's hooks: none. It reads no configuration and reports nothing of its own.
#include "hooks.h"

namespace driver {

void startHooks() {}

bool heldClock(uint32_t* /*clockMs*/) {
    return false;
}

void markStartup(StartupStep /*step*/) {}

void notePictureWork(double /*decodeMs*/, double /*resampleMs*/) {}

void reportFirstFrame(const display::Window& /*window*/, bool /*playerLoaded*/) {}

void reportLook(uint32_t /*clockMs*/) {}

void reportFrame(uint32_t /*clockMs*/, const BeatFrame& /*frame*/) {}

void reportEnd(uint64_t /*frames*/, uint64_t /*looks*/, uint32_t /*lastClockMs*/) {}

} // namespace driver
