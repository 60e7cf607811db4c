// What the command-line tools share: reading a module file, the wording of their failures, the
// options they have in common and --version.
#pragma once

#include "beatxm.h"
#include "tools/common/command_line.h"
#include "tools/common/output_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace tools {

// Exit codes, the same in every tool.
constexpr int exitOk = 0;
constexpr int exitOutputFailed = 1; // the output cannot be written (xmrender), no audio (xmplay)
constexpr int exitBadInput = 2;     // a file cannot be read or loaded, or the command line is wrong
constexpr int64_t maxModuleBytes = 64 * 1024 * 1024;

// The whole file into bytes, "-" standard input; on failure false with the reason in *reason
// ("Is a directory", "No such file or directory", "file too large").
inline bool readModuleFile(const char* path, std::vector<uint8_t>* bytes, const char** reason) {
    const bool fromStdin = std::strcmp(path, "-") == 0;
    struct stat st {};
    if (!fromStdin && stat(path, &st) == 0 && S_ISDIR(st.st_mode)) {
        *reason = std::strerror(EISDIR);
        return false;
    }
    errno = 0;
    FILE* f = fromStdin ? stdin : std::fopen(path, "rb");
    if (f == nullptr) {
        *reason = std::strerror(errno);
        return false;
    }
    uint8_t block[65536];
    bool ok = true;
    for (;;) {
        const size_t n = std::fread(block, 1, sizeof block, f);
        bytes->insert(bytes->end(), block, block + n);
        if (static_cast<int64_t>(bytes->size()) > maxModuleBytes) {
            *reason = "file too large";
            ok = false;
            break;
        }
        if (n < sizeof block) {
            if (std::ferror(f)) {
                *reason = std::strerror(errno != 0 ? errno : EIO);
                ok = false;
            }
            break;
        }
    }
    if (!fromStdin) std::fclose(f);
    return ok;
}

// Reads and opens a module; on failure prints the tool's one line and returns null.
inline bxm_player* openModuleFile(const char* tool, const char* path, const bxm_options& options) {
    std::vector<uint8_t> bytes;
    const char* reason = "";
    if (!readModuleFile(path, &bytes, &reason)) {
        std::fprintf(stderr, "%s: cannot read %s: %s\n", tool, path, reason);
        return nullptr;
    }
    bxm_error error{};
    bxm_options sized = options; // the tools are built with this header's layout
    sized.size = sizeof sized;
    bxm_player* player = bxm_open(bytes.data(), bytes.size(), &sized, &error);
    if (player == nullptr) {
        if (error.reason[0] != 0) {
            std::fprintf(stderr, "%s: cannot load %s: %s\n", tool, path, error.reason);
        } else if (error.offset >= 0) {
            std::fprintf(stderr, "%s: cannot load %s: %s at byte %lld\n", tool, path,
                         bxm_error_text(error.code), static_cast<long long>(error.offset));
        } else {
            std::fprintf(stderr, "%s: cannot load %s: %s\n", tool, path,
                         bxm_error_text(error.code));
        }
    }
    return player;
}

inline bool parseProfile(const char* text, int32_t* profile) {
    if (std::strcmp(text, "ft2") == 0) {
        *profile = BXM_PROFILE_FT2;
        return true;
    }
    if (std::strcmp(text, "demo") == 0) {
        *profile = BXM_PROFILE_DEMO;
        return true;
    }
    return false;
}

inline bool parseRate(const char* text, int32_t* rate) {
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (end == text || *end != 0 || value < BXM_RATE_MIN || value > BXM_RATE_MAX) return false;
    *rate = static_cast<int32_t>(value);
    return true;
}

// "TOOL 1.0.0 (beatxm library 1.0.0)": the same first words in every tool.
inline void printVersion(const char* tool) {
    std::printf("%s %s (beatxm library %s)\n", tool, BXM_VERSION_STRING, bxm_version());
}

// "m:ss" of a time in ms.
inline void formatTime(int64_t ms, char* out, size_t size) {
    if (ms < 0) ms = 0;
    const int64_t seconds = ms / 1000;
    std::snprintf(out, size, "%lld:%02lld", static_cast<long long>(seconds / 60),
                  static_cast<long long>(seconds % 60));
}

// A bar of width cells filled to fraction (0..1).
inline void formatBar(double fraction, int width, char* out) {
    if (!(fraction >= 0.0)) fraction = 0.0;
    if (fraction > 1.0) fraction = 1.0;
    const int filled = static_cast<int>(fraction * width);
    for (int i = 0; i < width; ++i) out[i] = i < filled ? '#' : '.';
    out[width] = 0;
}

// What the listener asks of a song on the command line: --gain, --stereo-separation, --start,
// --mute and --solo, the same in every tool that plays one.
struct ListenerOptions {
    int32_t gainMillibel = 0;
    int32_t separationPercent = 100;
    int32_t startMs = -1;    // --start TIME, or -1
    int32_t startOrder = -1; // --start order:N, or -1
    uint64_t muted = 0;      // bit c: channel c (from 0) muted
    uint64_t solo = 0;       // bit c: channel c heard, all others muted; 0 when none is named
    int32_t interpolation = BXM_INTERPOLATION_LINEAR;
};

inline bool parseInterpolation(const char* text, int32_t* interpolation) {
    if (std::strcmp(text, "linear") == 0) {
        *interpolation = BXM_INTERPOLATION_LINEAR;
    } else if (std::strcmp(text, "none") == 0) {
        *interpolation = BXM_INTERPOLATION_NONE;
    } else if (std::strcmp(text, "cubic") == 0) {
        *interpolation = BXM_INTERPOLATION_CUBIC;
    } else {
        return false;
    }
    return true;
}

constexpr int32_t maxChannelNumber = 64;

// "-6", "+3.5", "-6dB": decibels, -96 to 24, to the nearest 1/100.
inline bool parseGain(const char* text, int32_t* millibel) {
    char* end = nullptr;
    const double db = std::strtod(text, &end);
    if (end == text || (*end != 0 && std::strcmp(end, "dB") != 0 && std::strcmp(end, "db") != 0))
        return false;
    const double mb = db * 100.0;
    const double lowest = BXM_GAIN_MIN_MILLIBEL, highest = BXM_GAIN_MAX_MILLIBEL;
    if (!(mb >= lowest - 0.5 && mb <= highest + 0.5)) return false;
    const long rounded = std::lround(mb);
    if (rounded < BXM_GAIN_MIN_MILLIBEL || rounded > BXM_GAIN_MAX_MILLIBEL) return false;
    *millibel = static_cast<int32_t>(rounded);
    return true;
}

// "0" to "200", a trailing '%' allowed.
inline bool parseSeparation(const char* text, int32_t* percent) {
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (end == text || (*end != 0 && std::strcmp(end, "%") != 0) || value < 0 ||
        value > BXM_SEPARATION_MAX_PERCENT) {
        return false;
    }
    *percent = static_cast<int32_t>(value);
    return true;
}

// "order:N" (orders counted from 0, as the status line shows them), "M:SS" or "M:SS.s", or
// seconds: "80.5", "80.5s".
inline bool parseStart(const char* text, int32_t* ms, int32_t* order) {
    char* end = nullptr;
    if (std::strncmp(text, "order:", 6) == 0) {
        const long n = std::strtol(text + 6, &end, 10);
        if (end == text + 6 || *end != 0 || n < 0 || n > 255) return false;
        *order = static_cast<int32_t>(n);
        *ms = -1;
        return true;
    }
    double seconds = std::strtod(text, &end);
    if (end == text || !(seconds >= 0.0)) return false;
    if (*end == ':') {
        // Minutes are whole; the seconds after them are below 60.
        if (seconds != std::floor(seconds)) return false;
        const char* rest = end + 1;
        if (!std::isdigit(static_cast<unsigned char>(*rest))) return false;
        const double within = std::strtod(rest, &end);
        if (end == rest || !(within >= 0.0 && within < 60.0)) return false;
        seconds = seconds * 60.0 + within;
    }
    if (*end == 's') ++end;
    if (*end != 0 || !(seconds < 24.0 * 3600.0)) return false;
    *ms = static_cast<int32_t>(std::llround(seconds * 1000.0));
    *order = -1;
    return true;
}

// "1,3,5-8": channel numbers from 1, into bits from 0.
inline bool parseChannelList(const char* text, uint64_t* bits) {
    uint64_t result = 0;
    const char* p = text;
    for (;;) {
        char* end = nullptr;
        const long first = std::strtol(p, &end, 10);
        if (end == p || first < 1 || first > maxChannelNumber) return false;
        long last = first;
        if (*end == '-') {
            p = end + 1;
            last = std::strtol(p, &end, 10);
            if (end == p || last < first || last > maxChannelNumber) return false;
        }
        for (long c = first; c <= last; ++c) result |= uint64_t{1} << (c - 1);
        if (*end == 0) break;
        if (*end != ',') return false;
        p = end + 1;
    }
    *bits = result;
    return true;
}

// Applies the options to a player just opened; on a value the song cannot take (a channel it
// lacks, a start past its end) prints the tool's line and returns false.
inline bool isListenerOption(int id) {
    return id >= optionGain && id < optionFirstToolOwn;
}

// Takes the value of one of the listener's options; false, with the reason printed as
// "TOOL: ..." on standard error, when the value is wrong.
inline bool takeListenerOption(const char* tool, int id, const char* value, ListenerOptions* o) {
    bool taken = false;
    const char* wanted = "";
    switch (id) {
    case optionGain:
        taken = parseGain(value, &o->gainMillibel);
        wanted = "--gain wants dB from -96 to 24";
        break;
    case optionSeparation:
        taken = parseSeparation(value, &o->separationPercent);
        wanted = "--stereo-separation wants 0 to 200 (%)";
        break;
    case optionStart:
        taken = parseStart(value, &o->startMs, &o->startOrder);
        wanted = "--start wants a time (1:20, 80.5) or order:N";
        break;
    case optionInterpolation:
        taken = parseInterpolation(value, &o->interpolation);
        wanted = "--interpolation wants linear, none or cubic";
        break;
    case optionMute:
        taken = parseChannelList(value, &o->muted);
        wanted = "--mute wants channel numbers from 1 to 64 like 1,3,5-8";
        break;
    case optionSolo:
        taken = parseChannelList(value, &o->solo);
        wanted = "--solo wants channel numbers from 1 to 64 like 1,3,5-8";
        break;
    default: wanted = "unknown option"; break;
    }
    if (!taken) std::fprintf(stderr, "%s: %s, not %s\n", tool, wanted, value);
    return taken;
}

inline bool applyListenerOptions(const char* tool, const char* path, bxm_player* player,
                                 const ListenerOptions& o) {
    bxm_module_info info{};
    bxm_get_module_info(player, &info);
    const uint64_t named = o.muted | o.solo;
    for (int32_t c = info.channels; c < maxChannelNumber; ++c) {
        if ((named >> c & 1) != 0) {
            std::fprintf(stderr, "%s: %s has no channel %d, only 1 to %d\n", tool, path, c + 1,
                         info.channels);
            return false;
        }
    }
    bxm_set_gain(player, o.gainMillibel);
    bxm_set_stereo_separation(player, o.separationPercent);
    bxm_set_interpolation(player, o.interpolation);
    for (int32_t c = 0; c < info.channels; ++c) {
        const bool mute = (o.muted >> c & 1) != 0 || (o.solo != 0 && (o.solo >> c & 1) == 0);
        bxm_set_channel_mute(player, c, mute ? 1 : 0);
    }
    if (o.startOrder >= 0 && bxm_seek_order(player, o.startOrder) != 0) {
        std::fprintf(stderr, "%s: --start order:%d is past the end of %s, orders 0 to %d\n", tool,
                     o.startOrder, path, info.orders - 1);
        return false;
    }
    if (o.startMs >= 0 && bxm_seek_ms(player, o.startMs) != 0) {
        char length[32];
        formatTime(info.duration_ms, length, sizeof length);
        std::fprintf(stderr, "%s: --start %d ms is past the end of %s, which lasts %s\n", tool,
                     o.startMs, path, length);
        return false;
    }
    return true;
}

} // namespace tools
