// The two fixed replay profiles.
#include "profile.h"

#include "module.h"

#include <cstring>

namespace music {

namespace {

constexpr ReplayProfile makeDemoProfile() {
    ReplayProfile p{};
    p.id = ProfileId::Demo;
#define REPLAY_SWITCH(name, demo, ft2) p.name = demo;
#include "replay_switches.h"
#undef REPLAY_SWITCH
    return p;
}

constexpr ReplayProfile demoProfile = makeDemoProfile();

constexpr ReplayProfile makeFt2Profile() {
    ReplayProfile p{};
    p.id = ProfileId::Ft2;
#define REPLAY_SWITCH(name, demo, ft2) p.name = ft2;
#include "replay_switches.h"
#undef REPLAY_SWITCH
    return p;
}

constexpr ReplayProfile ft2Profile = makeFt2Profile();

} // namespace

const ReplayProfile* replayProfile(ProfileId id) {
    return id == ProfileId::Ft2 ? &ft2Profile : &demoProfile;
}

bool parseProfileName(const char* name, ProfileId* id) {
    if (name == nullptr) return false;
    if (std::strcmp(name, "demo") == 0) {
        *id = ProfileId::Demo;
        return true;
    }
    if (std::strcmp(name, "ft2") == 0) {
        *id = ProfileId::Ft2;
        return true;
    }
    return false;
}

void setReplayProfile(Player* player, ProfileId id) {
    if (player != nullptr) player->profile = replayProfile(id);
}

const char* profileName(ProfileId id) {
    return id == ProfileId::Ft2 ? "ft2" : "demo";
}

} // namespace music
