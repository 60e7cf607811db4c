// xminfo: what an XM module says about itself, as stored in the file, and how long it plays.
#include "beatxm.h"
#include "tick_trace.h"
#include "tools/common/command_line.h"
#include "tools/common/tool_common.h"

#include "music/load_result.h"
#include "music/module.h"
#include "music/profile.h"
#include "music/stream.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

const char* loopName(int32_t type) {
    switch (type) {
    case BXM_LOOP_FORWARD: return "forward";
    case BXM_LOOP_PINGPONG: return "ping-pong";
    default: return "none";
    }
}

constexpr int64_t defaultMaxTicks = 100000;

enum OptionId {
    optionProfile = 'p',
    optionTicks = 't',
    optionMaxTicks = tools::optionFirstLongOnly,
};

const tools::OptionSpec optionTable[] = {
    {optionProfile, "profile", "NAME",
     "ft2 (FastTracker 2's rules, the default) or demo\n(the demo's own rules, what the demo "
     "plays)"},
    {optionTicks, "ticks", nullptr,
     "play the song instead and print one line per tick\nuntil it comes back to a row it has "
     "played, or N\nticks are done: tick order row frame speed bpm\ntimeMs | and then for each "
     "channel: hz vol pan\n(hz 0 when silent, vol 0..64 after envelope,\nfadeout and global "
     "volume, pan 0..255 with 0 left)"},
    {optionMaxTicks, "max-ticks", "N", "at most N lines with --ticks (default 100000)"},
    {tools::optionHelp, "help", nullptr, "print this and exit"},
    {tools::optionVersion, "version", nullptr, "print the version and exit"},
};

const tools::ExitSpec exitTable[] = {
    {0, "done"},
    {2, "a file cannot be read or loaded (the others are still\nprinted), or a wrong command "
        "line"},
};

const tools::ToolSpec toolSpec = {
    "xminfo",
    "[options] FILE.xm...\n--ticks [--max-ticks N] [options] FILE.xm...",
    "Prints what each FILE.xm says about itself, as stored in the file: title,\n"
    "tracker, channels, song length, restart position, orders, patterns with\n"
    "their rows, instruments with their envelopes and samples (length, loop\n"
    "start and length in sample frames, loop type and bits as stored, volume,\n"
    "finetune, panning, relative note), and the song's duration as xmrender\n"
    "renders it with the same profile (once through, 44100 Hz). FILE may be -\n"
    "for standard input; with more than one file each starts with a line\n"
    "\"file: FILE\" and a blank line separates them.",
    optionTable,
    static_cast<int>(sizeof optionTable / sizeof optionTable[0]),
    nullptr,
    exitTable,
    static_cast<int>(sizeof exitTable / sizeof exitTable[0]),
};

void printEnvelope(const char* name, const bxm_envelope& e) {
    std::printf("  %s envelope: %d point%s, type %d (%s%s%s)", name, e.point_count,
                e.point_count == 1 ? "" : "s", e.type, e.type & 1 ? "on" : "off",
                e.type & 2 ? ", sustain" : "", e.type & 4 ? ", loop" : "");
    if (e.type & 2) std::printf(", sustain point %d", e.sustain_point);
    if (e.type & 4) std::printf(", loop points %d-%d", e.loop_start_point, e.loop_end_point);
    std::printf("\n");
    const int32_t shown = e.point_count < 12 ? e.point_count : 12;
    if (shown <= 0) return;
    std::printf("   ");
    for (int32_t i = 0; i < shown; ++i) std::printf(" (%u,%u)", e.x[i], e.y[i]);
    std::printf("\n");
}

void printModule(const bxm_player* player) {
    bxm_module_info m{};
    bxm_get_module_info(player, &m);
    std::printf("title: %s\n", m.title);
    std::printf("tracker: %s\n", m.tracker);
    std::printf("format version: %x.%02x\n", m.version >> 8, m.version & 0xFF);
    std::printf("channels: %d\n", m.channels);
    std::printf("song length: %d\n", m.orders);
    std::printf("restart: %d\n", m.restart_order);
    std::printf("orders:");
    for (int32_t i = 0; i < m.orders; ++i) std::printf(" %d", bxm_get_order(player, i));
    std::printf("\n");
    std::printf("frequency table: %s\n", m.linear_frequencies ? "linear" : "Amiga");
    // As stored; the player starts within FT2's range, which the position before playing shows.
    bxm_position start{};
    bxm_get_position(player, &start);
    std::printf("tempo: %d", m.initial_tempo);
    if (start.tempo != m.initial_tempo) std::printf(" (plays as %d)", start.tempo);
    std::printf("\nbpm: %d", m.initial_bpm);
    if (start.bpm != m.initial_bpm) std::printf(" (plays as %d)", start.bpm);
    std::printf("\n");
    char time[32];
    tools::formatTime(m.duration_ms, time, sizeof time);
    std::printf("duration: %s (%d ms)%s\n", time, m.duration_ms,
                m.duration_limited ? ", no end within 20 minutes" : "");
    std::printf("patterns: %d stored", m.stored_patterns);
    if (m.patterns > m.stored_patterns)
        std::printf(", %d more named by the orders", m.patterns - m.stored_patterns);
    std::printf("\n");
    for (int32_t i = 0; i < m.patterns; ++i) {
        const int32_t rows = bxm_get_pattern_rows(player, i);
        std::printf("  pattern %d: %d row%s\n", i, rows, rows == 1 ? "" : "s");
    }
    std::printf("instruments: %d\n", m.instruments);
    for (int32_t i = 0; i < m.instruments; ++i) {
        bxm_instrument_info ins{};
        if (bxm_get_instrument_info(player, i, &ins) != 0) continue;
        std::printf("instrument %d: %d sample%s, \"%s\"\n", i + 1, ins.sample_count,
                    ins.sample_count == 1 ? "" : "s", ins.name);
        if (ins.sample_count == 0) continue;
        printEnvelope("volume", ins.volume_envelope);
        printEnvelope("panning", ins.panning_envelope);
        std::printf("  fadeout %d, vibrato type %d sweep %d depth %d rate %d\n", ins.fadeout,
                    ins.vibrato_type, ins.vibrato_sweep, ins.vibrato_depth, ins.vibrato_rate);
        for (int32_t s = 0; s < ins.sample_count; ++s) {
            bxm_sample_info smp{};
            if (bxm_get_sample_info(player, i, s, &smp) != 0) continue;
            std::printf("  sample %d: \"%s\", length %u, loop %s", s + 1, smp.name, smp.length,
                        loopName(smp.loop_type));
            if (smp.loop_type != BXM_LOOP_NONE)
                std::printf(" start %u length %u", smp.loop_start, smp.loop_length);
            std::printf(", %d bits, volume %d, finetune %d, panning %d, relative note %d\n",
                        smp.bits, smp.volume, smp.finetune, smp.panning, smp.relative_note);
        }
    }
}

// Loads the file as the player's own Player and prints its ticks.
int traceTicks(const char* path, int32_t profile, int64_t maxTicks) {
    std::vector<uint8_t> bytes;
    const char* reason = "";
    if (!tools::readModuleFile(path, &bytes, &reason)) {
        std::fprintf(stderr, "xminfo: cannot read %s: %s\n", path, reason);
        return tools::exitBadInput;
    }
    const music::MemoryStream description{static_cast<int32_t>(bytes.size()), 0, bytes.data()};
    music::LoadResult result{};
    music::Player* player = music::createPlayerWithResult(&description, &result);
    if (player == nullptr) {
        char text[128];
        std::fprintf(stderr, "xminfo: cannot load %s: %s\n", path,
                     music::loadErrorText(result, text, static_cast<int32_t>(sizeof text)));
        return tools::exitBadInput;
    }
    music::setReplayProfile(player, profile == BXM_PROFILE_DEMO ? music::ProfileId::Demo
                                                                : music::ProfileId::Ft2);
    const bool played = tools::printTicks(player, maxTicks);
    music::destroyPlayer(player);
    if (!played) {
        std::fprintf(stderr, "xminfo: cannot play %s\n", path);
        return tools::exitBadInput;
    }
    return tools::exitOk;
}

} // namespace

int main(int argc, char** argv) {
    int32_t profile = BXM_PROFILE_FT2;
    bool ticks = false;
    int64_t maxTicks = defaultMaxTicks;
    tools::CommandLine line{};
    tools::startCommandLine(&line, toolSpec, argc, argv);
    for (;;) {
        const char* value = nullptr;
        const int id = tools::nextOption(&line, &value);
        if (id == tools::commandLineEnd) break;
        switch (id) {
        case tools::commandLineWrong: return tools::exitBadInput;
        case tools::optionHelp: tools::printHelp(toolSpec, stdout); return tools::exitOk;
        case tools::optionVersion: tools::printVersion("xminfo"); return tools::exitOk;
        case optionTicks: ticks = true; break;
        case optionProfile:
            if (!tools::parseProfile(value, &profile)) {
                std::fprintf(stderr, "xminfo: --profile wants ft2 or demo, not %s\n", value);
                return tools::exitBadInput;
            }
            break;
        case optionMaxTicks: {
            char* end = nullptr;
            maxTicks = std::strtoll(value, &end, 10);
            if (end == value || *end != 0 || maxTicks < 1) {
                std::fprintf(stderr, "xminfo: --max-ticks wants a whole number above 0, not %s\n",
                             value);
                return tools::exitBadInput;
            }
            break;
        }
        default: return tools::exitBadInput;
        }
    }
    const std::vector<const char*> files = tools::operands(line);
    if (files.empty()) {
        tools::complain(toolSpec, "wants a file");
        return tools::exitBadInput;
    }
    int exitCode = tools::exitOk;
    for (size_t i = 0; i < files.size(); ++i) {
        const char* path = files[i];
        if (files.size() > 1) {
            std::printf("%sfile: %s\n", i > 0 ? "\n" : "", path);
            // A failure's line on standard error then comes under its file's line.
            std::fflush(stdout);
        }
        int result = tools::exitOk;
        if (ticks) {
            result = traceTicks(path, profile, maxTicks);
        } else {
            bxm_options options{};
            options.profile = profile;
            bxm_player* player = tools::openModuleFile("xminfo", path, options);
            if (player == nullptr) {
                result = tools::exitBadInput;
            } else {
                printModule(player);
                bxm_close(player);
            }
        }
        std::fflush(stdout);
        if (result != tools::exitOk) exitCode = result;
    }
    return exitCode;
}
