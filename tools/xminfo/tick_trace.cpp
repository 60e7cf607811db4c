// xminfo --ticks: plays a module offline and prints the player's state after every tick, one
// line each, so that it can be held against another player tick by tick.
#include "tick_trace.h"

#include "music/channel.h"
#include "music/format.h"
#include "music/mixer.h"
#include "music/module.h"
#include "music/offline_render.h"
#include "music/profile.h"
#include "music/sequencer.h"

#include <cstdint>
#include <cstdio>
#include <vector>

namespace tools {
namespace {

// What --ticks follows while the song plays.
struct TickTrace {
    music::TickHandler sequencerTick;
    int64_t ticks;
    int64_t maxTicks;
    int64_t tickStartFrame;
    std::vector<uint8_t> visited; // one byte per (order, row)
    bool done;
};

TickTrace trace;

void printChannel(const music::Player* player, int32_t c) {
    const music::Voice* voice = player->channels[c].voice;
    const bool idle = voice == nullptr || voice->sample == nullptr || voice->sample->length == 0;
    if (idle) {
        std::printf(" 0 0 0");
        return;
    }
    const double step = voice->stepWhole + voice->stepFraction / 4294967296.0;
    // The voice's volume is what is heard: 0..127 (0..127 x 256 with fine levels) for 0..64.
    const double fullVolume = voice->fineLevels != 0 ? 127.5 * 256.0 : 127.5;
    const double volume = voice->voiceVolume * 64.0 / fullVolume;
    int32_t pan = voice->voicePanning;
    if (!music::profileOf(player).panningZeroIsLeft) pan = 255 - pan; // 255 sounds left there
    std::printf(" %.3f %.2f %d", step * player->outputRate, volume, pan);
}

void tracingTick(music::Player* player) {
    const int32_t frame = player->tick;
    // As in the library's end rule: a loop's last pass ends the loop during its last row's tick.
    const bool loopWasRunning = music::patternLoopRunning(player);
    trace.sequencerTick(player);
    const int64_t start = trace.tickStartFrame;
    trace.tickStartFrame += player->samplesPerTick > 0 ? player->samplesPerTick : 1;
    if (trace.done) return;
    if (frame == 0 && player->order >= 0 && player->order < 256 && player->row >= 0 &&
        player->row < 256) {
        uint8_t& seen = trace.visited[static_cast<size_t>(player->order) * 256 +
                                      static_cast<size_t>(player->row)];
        if (seen != 0 && !loopWasRunning && !music::patternLoopRunning(player)) {
            trace.done = true;
            return;
        }
        seen = 1;
    }
    std::printf("%lld %d %d %d %d %d %.3f |", static_cast<long long>(trace.ticks), player->order,
                player->row, frame, player->tempo, player->bpm,
                static_cast<double>(start) * 1000.0 / player->outputRate);
    const int32_t channels = player->channelCount < music::channelTableSize
                                 ? player->channelCount
                                 : music::channelTableSize;
    for (int32_t c = 0; c < channels; ++c) printChannel(player, c);
    std::printf("\n");
    if (++trace.ticks >= trace.maxTicks) trace.done = true;
    if (player->tempo == 0 && music::profileOf(player).speedZeroEndsSong) trace.done = true;
}

} // namespace

bool printTicks(music::Player* player, int64_t maxTicks) {
    trace = TickTrace{};
    trace.sequencerTick = player->tickHandler;
    trace.maxTicks = maxTicks;
    trace.visited.assign(256 * 256, 0);
    if (trace.sequencerTick == nullptr || !music::offlineBegin(player)) return false;
    player->tickHandler = tracingTick;
    std::vector<int16_t> block(static_cast<size_t>(player->outputRate) * 2);
    while (!trace.done) {
        if (music::offlineRender(player, block.data(), player->outputRate) == 0) break;
    }
    music::offlineEnd(player);
    player->tickHandler = trace.sequencerTick;
    return true;
}

} // namespace tools
