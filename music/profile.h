// Replay profiles: which rules the sequencer, effects, voice update and mixer follow.
//
// `demo` is the player's own rule set, bit for bit what the demo plays. `ft2` follows
// FastTracker 2 for modules written with it. Every difference is one named switch, listed with
// its rule and both values in replay_switches.h and consulted where its rule lives; there is no
// second copy of any playback code.
#pragma once

#include <cstdint>

namespace music {

enum class ProfileId : uint8_t {
    Demo = 0, // what createPlayer gives; zero-filled Players play this
    Ft2 = 1,
};

struct ReplayProfile {
    ProfileId id;
#define REPLAY_SWITCH(name, demo, ft2) bool name;
#include "replay_switches.h"
#undef REPLAY_SWITCH
};

// The two fixed profiles; never null.
const ReplayProfile* replayProfile(ProfileId id);

// "demo" or "ft2"; false for any other name.
bool parseProfileName(const char* name, ProfileId* id);
const char* profileName(ProfileId id);

} // namespace music
