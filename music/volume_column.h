// The volume column of a cell.
#pragma once

#include <cstdint>

namespace music {

struct Channel;
struct ReplayProfile;

// The volume column on the row tick (only for a non-zero byte) and on every other tick; no
// profile means the demo's rules.
void volumeColumnRow(Channel* channel, uint8_t v, const ReplayProfile* rules = nullptr);
void volumeColumnTick(Channel* channel, uint8_t v, const ReplayProfile* rules = nullptr);

} // namespace music
