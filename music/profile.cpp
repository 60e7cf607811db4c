// The two fixed replay profiles.
#include "profile.h"

#include "module.h"

#include <cstring>

namespace music {

namespace {

constexpr ReplayProfile demoProfile = {ProfileId::Demo};
constexpr ReplayProfile ft2Profile = {ProfileId::Ft2};

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
