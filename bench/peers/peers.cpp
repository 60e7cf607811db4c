// Renders the same modules with our player, libxmp and libopenmpt, in alternating turns, and
// prints render cost per second of audio, the ratio to ours, and each player's peak memory.
#include "heap_counter.h"
#include "xm_generator.h"

#include "music/channel.h"
#include "music/mixer.h"
#include "music/module.h"
#include "music/offline_render.h"
#include "music/profile.h"
#include "music/stream.h"

#include <libopenmpt/libopenmpt.h>
#include <xmp.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

constexpr int32_t outputRateHz = 44100;
constexpr int32_t blockFrames = 4096;
constexpr int32_t stereoSeparationPercent = 100;

struct Module {
    std::string name;
    std::vector<uint8_t> bytes;
};

// One player behind a common face: load from memory, render 16-bit stereo, unload.
struct Contender {
    const char* name;
    void* (*load)(const Module& module);
    // Frames written; fewer than asked means the player stopped.
    int32_t (*render)(void* state, int16_t* out, int32_t frames);
    void (*unload)(void* state);
};

// --- ours: the offline renderer over the same chunk renderer the device path uses, in the FT2
// replay profile (what the tools play files from elsewhere with) and the demo's own.
void* oursLoad(const Module& m, music::ProfileId profile) {
    music::MemoryStream description{static_cast<int32_t>(m.bytes.size()), 0, m.bytes.data()};
    music::Player* player = music::createPlayer(&description);
    if (player == nullptr) return nullptr;
    music::setReplayProfile(player, profile);
    if (!music::offlineBegin(player)) {
        music::destroyPlayer(player);
        return nullptr;
    }
    return player;
}
void* oursFt2Load(const Module& m) {
    return oursLoad(m, music::ProfileId::Ft2);
}
void* oursDemoLoad(const Module& m) {
    return oursLoad(m, music::ProfileId::Demo);
}
int32_t oursRender(void* state, int16_t* out, int32_t frames) {
    return music::offlineRender(static_cast<music::Player*>(state), out, frames);
}
void oursUnload(void* state) {
    music::offlineEnd(static_cast<music::Player*>(state));
    music::destroyPlayer(static_cast<music::Player*>(state));
}

// --- libxmp: linear interpolation, full stereo separation, no DSP, loops for ever.
void* xmpLoad(const Module& m) {
    xmp_context ctx = xmp_create_context();
    if (xmp_load_module_from_memory(ctx, m.bytes.data(), static_cast<long>(m.bytes.size())) != 0) {
        xmp_free_context(ctx);
        return nullptr;
    }
    if (xmp_start_player(ctx, outputRateHz, 0) != 0) {
        xmp_release_module(ctx);
        xmp_free_context(ctx);
        return nullptr;
    }
    xmp_set_player(ctx, XMP_PLAYER_INTERP, XMP_INTERP_LINEAR);
    xmp_set_player(ctx, XMP_PLAYER_MIX, stereoSeparationPercent);
    xmp_set_player(ctx, XMP_PLAYER_DSP, 0);
    if (xmp_get_player(ctx, XMP_PLAYER_INTERP) != XMP_INTERP_LINEAR) {
        std::fprintf(stderr, "peers: libxmp refused linear interpolation\n");
        std::exit(1);
    }
    return ctx;
}
int32_t xmpRender(void* state, int16_t* out, int32_t frames) {
    // A loop count of 0 plays on past the end, as our player and libopenmpt do here.
    int r = xmp_play_buffer(static_cast<xmp_context>(state), out, frames * 4, 0);
    return r == 0 ? frames : 0;
}
void xmpUnload(void* state) {
    xmp_context ctx = static_cast<xmp_context>(state);
    xmp_end_player(ctx);
    xmp_release_module(ctx);
    xmp_free_context(ctx);
}

// --- libopenmpt: linear interpolation, default volume ramping, full separation, repeats forever.
void* openmptLoad(const Module& m) {
    openmpt_module* mod =
        openmpt_module_create_from_memory2(m.bytes.data(), m.bytes.size(), nullptr, nullptr,
                                           nullptr, nullptr, nullptr, nullptr, nullptr);
    if (mod == nullptr) return nullptr;
    openmpt_module_set_render_param(mod, OPENMPT_MODULE_RENDER_INTERPOLATIONFILTER_LENGTH, 2);
    openmpt_module_set_render_param(mod, OPENMPT_MODULE_RENDER_STEREOSEPARATION_PERCENT,
                                    stereoSeparationPercent);
    openmpt_module_set_render_param(mod, OPENMPT_MODULE_RENDER_VOLUMERAMPING_STRENGTH, -1);
    openmpt_module_set_render_param(mod, OPENMPT_MODULE_RENDER_MASTERGAIN_MILLIBEL, 0);
    openmpt_module_set_repeat_count(mod, -1);
    return mod;
}
int32_t openmptRender(void* state, int16_t* out, int32_t frames) {
    return static_cast<int32_t>(openmpt_module_read_interleaved_stereo(
        static_cast<openmpt_module*>(state), outputRateHz, static_cast<size_t>(frames), out));
}
void openmptUnload(void* state) {
    openmpt_module_destroy(static_cast<openmpt_module*>(state));
}

const Contender contenders[] = {
    {"ours-ft2", oursFt2Load, oursRender, oursUnload},
    {"ours-demo", oursDemoLoad, oursRender, oursUnload},
    {"libxmp", xmpLoad, xmpRender, xmpUnload},
    {"libopenmpt", openmptLoad, openmptRender, openmptUnload},
};
constexpr int32_t contenderCount = 4;
constexpr int32_t oursCount = 2; // the first two contenders are ours

double cpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}
double wallSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

struct Turn {
    bool ok;
    double loadMs;
    double cpuMsPerSecond;
    double wallMsPerSecond;
    double rms; // of the rendered output, to show each player made sound
};

// One turn: load, render the whole duration, unload. Only the render is timed per second.
Turn runTurn(const Contender& c, const Module& m, int64_t frames, std::vector<int16_t>& block) {
    Turn t{};
    double loadStart = wallSeconds();
    void* state = c.load(m);
    t.loadMs = (wallSeconds() - loadStart) * 1000.0;
    if (state == nullptr) return t;
    double sumSquares = 0.0;
    int64_t done = 0;
    double cpu0 = cpuSeconds(), wall0 = wallSeconds();
    while (done < frames) {
        int32_t n = static_cast<int32_t>(std::min<int64_t>(blockFrames, frames - done));
        int32_t got = c.render(state, block.data(), n);
        if (got != n) break;
        // Cheap enough not to matter, and it keeps the output observably used.
        for (int32_t i = 0; i < n * 2; i += 16) sumSquares += double(block[i]) * block[i];
        done += n;
    }
    double cpu1 = cpuSeconds(), wall1 = wallSeconds();
    c.unload(state);
    double seconds = static_cast<double>(frames) / outputRateHz;
    t.ok = done == frames;
    t.cpuMsPerSecond = (cpu1 - cpu0) * 1000.0 / seconds;
    t.wallMsPerSecond = (wall1 - wall0) * 1000.0 / seconds;
    t.rms = std::sqrt(sumSquares / (static_cast<double>(done) * 2.0 / 16.0 + 1.0));
    return t;
}

struct MemoryFigures {
    bool ok;
    int64_t heapPeakBytes; // above what the process held before the load
    int64_t maxRssKiB;     // of the whole child process
};

// In a child of its own, so that one player's heap and pages never count towards another's.
MemoryFigures measureMemory(const Contender& c, const Module& m, int64_t frames) {
    int fds[2];
    if (pipe(fds) != 0) return {};
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        std::vector<int16_t> block(static_cast<size_t>(blockFrames) * 2);
        MemoryFigures f{};
        const int64_t before = peers::heapLiveBytes();
        peers::heapResetPeak();
        void* state = c.load(m);
        if (state != nullptr) {
            int64_t done = 0;
            while (done < frames) {
                int32_t n = static_cast<int32_t>(std::min<int64_t>(blockFrames, frames - done));
                if (c.render(state, block.data(), n) != n) break;
                done += n;
            }
            c.unload(state);
            f.ok = done == frames;
        }
        f.heapPeakBytes = peers::heapPeakBytes() - before;
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        f.maxRssKiB = usage.ru_maxrss;
        ssize_t w = write(fds[1], &f, sizeof f);
        _exit(w == static_cast<ssize_t>(sizeof f) ? 0 : 1);
    }
    close(fds[1]);
    MemoryFigures f{};
    if (pid < 0 || read(fds[0], &f, sizeof f) != static_cast<ssize_t>(sizeof f)) f = {};
    close(fds[0]);
    if (pid > 0) waitpid(pid, nullptr, 0);
    return f;
}

bool readFile(const std::string& path, std::vector<uint8_t>& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    uint8_t buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
        bytes.insert(bytes.end(), buffer, buffer + n);
    std::fclose(f);
    return true;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    size_t n = v.size();
    return n == 0 ? 0.0 : (n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]));
}

void usage() {
    std::fprintf(stderr, "usage: peers [--seconds S] [--rounds R] [--only MODULE] [--player NAME]\n"
                         "             [--no-memory] [--song FILE]...\n"
                         "  renders the generated 4/8/16/32-channel modules and each --song file;\n"
                         "  --player and --no-memory are for profiling one player alone\n");
}

} // namespace

int main(int argc, char** argv) {
    double seconds = 60.0;
    int32_t rounds = 5;
    std::vector<std::string> songs;
    std::string only;
    std::string onlyPlayer;
    bool memory = true;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--seconds" && i + 1 < argc)
            seconds = std::atof(argv[++i]);
        else if (a == "--rounds" && i + 1 < argc)
            rounds = std::atoi(argv[++i]);
        else if (a == "--song" && i + 1 < argc)
            songs.push_back(argv[++i]);
        else if (a == "--only" && i + 1 < argc)
            only = argv[++i];
        else if (a == "--player" && i + 1 < argc)
            onlyPlayer = argv[++i];
        else if (a == "--no-memory")
            memory = false;
        else {
            usage();
            return 2;
        }
    }
    if (seconds <= 0 || rounds < 1) {
        usage();
        return 2;
    }

    std::vector<Module> modules;
    for (const std::string& path : songs) {
        Module m;
        m.name = path.substr(path.find_last_of('/') + 1);
        if (!readFile(path, m.bytes)) {
            std::fprintf(stderr, "peers: cannot read %s (skipped)\n", path.c_str());
            continue;
        }
        modules.push_back(std::move(m));
    }
    for (int32_t channels : {4, 8, 16, 32}) {
        char name[32];
        std::snprintf(name, sizeof name, "gen_%02dch", static_cast<int>(channels));
        modules.push_back({name, benchgen::generateModule(benchgen::benchShape(channels))});
    }
    if (!only.empty())
        modules.erase(std::remove_if(modules.begin(), modules.end(),
                                     [&](const Module& m) { return m.name != only; }),
                      modules.end());

    const int64_t frames = static_cast<int64_t>(seconds * outputRateHz);
    std::vector<int16_t> block(static_cast<size_t>(blockFrames) * 2);

    // results[module][contender][round]
    std::vector<std::vector<std::vector<Turn>>> results(
        modules.size(), std::vector<std::vector<Turn>>(contenderCount));
    for (int32_t r = 0; r < rounds; ++r) {
        for (size_t mi = 0; mi < modules.size(); ++mi) {
            for (int32_t ci = 0; ci < contenderCount; ++ci) {
                if (!onlyPlayer.empty() && onlyPlayer != contenders[ci].name) continue;
                results[mi][static_cast<size_t>(ci)].push_back(
                    runTurn(contenders[ci], modules[mi], frames, block));
            }
        }
        std::fprintf(stderr, "peers: round %d of %d done\n", static_cast<int>(r + 1),
                     static_cast<int>(rounds));
    }

    std::printf(
        "Rendered %.0f s per turn at %d Hz, 16-bit stereo, linear interpolation; %d rounds of "
        "turns ours (ft2 and demo profiles)/libxmp/libopenmpt.\n",
        seconds, static_cast<int>(outputRateHz), static_cast<int>(rounds));
    std::printf("cpu best, cpu med, wall med: ms of CPU time per second of audio rendered (load "
                "excluded), the lowest and the median over the rounds, and the median wall time. "
                "speed: player's cpu best / ours-ft2's; the aim holds peers against the slower of "
                "ours. Other figures are medians.\n");
    std::printf("heap: peak bytes live on the heap during load + render + unload, above the "
                "process's own, in a fresh child per player and module%s; rss: that child's "
                "ru_maxrss.\n\n",
                peers::heapCounting() ? "" : " (NOT COUNTED in this build)");
    std::printf("%-22s %-10s %9s %9s %9s %7s %9s %10s %9s %8s\n", "module", "player", "cpu best",
                "cpu med", "wall med", "speed", "load ms", "heap KiB", "rss KiB", "rms");
    bool aimMet = true;
    for (size_t mi = 0; mi < modules.size(); ++mi) {
        double oursCpu = 0.0;
        double slowerOursCpu = 0.0;
        int64_t oursHeap = 0;
        for (int32_t ci = 0; ci < contenderCount; ++ci) {
            const std::vector<Turn>& turns = results[mi][static_cast<size_t>(ci)];
            if (turns.empty()) continue;
            std::vector<double> cpu, wall, load, rms;
            bool ok = true;
            for (const Turn& t : turns) {
                ok = ok && t.ok;
                cpu.push_back(t.cpuMsPerSecond);
                wall.push_back(t.wallMsPerSecond);
                load.push_back(t.loadMs);
                rms.push_back(t.rms);
            }
            MemoryFigures mem{true, 0, 0};
            if (memory) mem = measureMemory(contenders[ci], modules[mi], frames);
            // The best round: on a shared host, other work only ever adds time to a turn.
            const double c = *std::min_element(cpu.begin(), cpu.end());
            if (ci == 0) oursCpu = c;
            if (ci < oursCount) {
                slowerOursCpu = std::max(slowerOursCpu, c);
                oursHeap = std::max(oursHeap, mem.heapPeakBytes);
            }
            double speed = oursCpu > 0 ? c / oursCpu : 0.0;
            const double speedOverSlower = slowerOursCpu > 0 ? c / slowerOursCpu : 0.0;
            std::printf("%-22s %-10s %9.3f %9.3f %9.3f %6.2fx %9.2f %10.1f %9ld %8.0f%s\n",
                        modules[mi].name.c_str(), contenders[ci].name, c, median(cpu), median(wall),
                        speed, median(load), static_cast<double>(mem.heapPeakBytes) / 1024.0,
                        static_cast<long>(mem.maxRssKiB), median(rms),
                        ok && mem.ok ? "" : "  (FAILED to load or render)");
            if (ci == 2 && (speedOverSlower < 2.0 || mem.heapPeakBytes <= oursHeap)) aimMet = false;
            if (ci == 3 && (speedOverSlower < 3.0 || mem.heapPeakBytes <= oursHeap)) aimMet = false;
            if (!ok || !mem.ok) aimMet = false;
        }
    }
    std::printf(
        "\nour Player on the heap, counted above: %zu B, of it voices %zu B, channels %zu B\n",
        sizeof(music::Player), sizeof music::Player::mixer.voices, sizeof music::Player::channels);
    if (!onlyPlayer.empty() || !memory) aimMet = false;
    std::printf("aim (>= 2x libxmp, >= 3x libopenmpt, less heap than both, every module): %s\n",
                aimMet                             ? "met"
                : (!onlyPlayer.empty() || !memory) ? "not judged (partial run)"
                                                   : "NOT met");
    return 0;
}
