// What the command-line tools share: reading a module file, the wording of their failures, the
// options they have in common and --version.
#pragma once

#include "beatxm.h"
#include "tools/common/output_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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

} // namespace tools
