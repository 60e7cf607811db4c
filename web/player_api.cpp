// The module player page's side in the module: the library's calls with plain numbers and
// strings for the page's script, which holds the file bytes and plays what is rendered here.
#include "beatxm.h"

#include <emscripten.h>

#include <cstdio>

namespace {

bxm_player* player;
bxm_module_info info;
bxm_position position;
bxm_channel_state channel;
char failure[160];

// One render call's worth of 16-bit stereo frames, read by the page after each call.
constexpr int32_t renderCapacityFrames = 16384;
int16_t renderBuffer[renderCapacityFrames * 2];

} // namespace

extern "C" {

// Opens the module for playing at rate with profile (0 ft2, 1 demo); 0 when it cannot be
// loaded, with the reason in web_failure, worded as the tools word it.
EMSCRIPTEN_KEEPALIVE int32_t web_open(const uint8_t* data, int32_t size, int32_t profile,
                                      int32_t rate) {
    bxm_close(player);
    player = nullptr;
    failure[0] = '\0';
    bxm_options options = BXM_OPTIONS_INIT;
    options.profile = profile;
    options.sample_rate = rate;
    options.play_count = 1;
    bxm_error error{};
    player = bxm_open(data, static_cast<size_t>(size), &options, &error);
    if (player == nullptr) {
        if (error.reason[0] != '\0') {
            std::snprintf(failure, sizeof failure, "%s", error.reason);
        } else if (error.offset >= 0) {
            std::snprintf(failure, sizeof failure, "%s at byte %lld", bxm_error_text(error.code),
                          static_cast<long long>(error.offset));
        } else {
            std::snprintf(failure, sizeof failure, "%s", bxm_error_text(error.code));
        }
        return 0;
    }
    bxm_get_module_info(player, &info);
    return 1;
}

EMSCRIPTEN_KEEPALIVE const char* web_failure() {
    return failure;
}

EMSCRIPTEN_KEEPALIVE void web_close() {
    bxm_close(player);
    player = nullptr;
}

EMSCRIPTEN_KEEPALIVE const char* web_title() {
    return info.title;
}

EMSCRIPTEN_KEEPALIVE const char* web_tracker() {
    return info.tracker;
}

EMSCRIPTEN_KEEPALIVE int32_t web_duration_ms() {
    return info.duration_ms;
}

EMSCRIPTEN_KEEPALIVE int32_t web_orders() {
    return info.orders;
}

EMSCRIPTEN_KEEPALIVE int32_t web_channels() {
    return info.channels;
}

// Renders up to frames frames into the page's buffer; the count written, 0 once the song ended.
EMSCRIPTEN_KEEPALIVE int32_t web_render(int32_t frames) {
    if (player == nullptr) return 0;
    if (frames > renderCapacityFrames) frames = renderCapacityFrames;
    const int32_t written = bxm_render_s16(player, renderBuffer, frames);
    return written > 0 ? written : 0;
}

EMSCRIPTEN_KEEPALIVE const int16_t* web_render_buffer() {
    return renderBuffer;
}

// Order, row, song time and whether the song ended, in that order by index.
EMSCRIPTEN_KEEPALIVE int32_t web_position(int32_t field) {
    if (player == nullptr || bxm_get_position(player, &position) != 0) return 0;
    switch (field) {
    case 0: return position.order;
    case 1: return position.row;
    case 2: return position.time_ms;
    default: return position.ended;
    }
}

EMSCRIPTEN_KEEPALIVE int32_t web_seek(int32_t order) {
    return player != nullptr ? bxm_seek_order(player, order) : -1;
}

// Whether it sounds, note, level (0..127), panning and frequency of a channel, by index.
EMSCRIPTEN_KEEPALIVE int32_t web_channel(int32_t index, int32_t field) {
    if (player == nullptr || bxm_get_channel_state(player, index, &channel) != 0) return 0;
    switch (field) {
    case 0: return channel.active;
    case 1: return channel.note;
    case 2: return channel.level;
    case 3: return channel.panning;
    default: return channel.frequency_hz;
    }
}

} // extern "C"
