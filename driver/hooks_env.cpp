// The probe build's hooks, set from the environment for the system tests and the benchmarks:
// DEMO_CLOCK_MS holds the music clock at a value, DEMO_DIAGNOSTICS=1 prints start-up facts and
// timings on standard error, DEMO_NO_MESSAGE_BOX=1 leaves fatal errors on standard error alone,
// DEMO_FRAME_LOG=FILE writes, at the end, "look CLOCK" for each new clock value the frame loop
// read and "frame CLOCK SLOT FLASH" for each presented frame, in the order they happened.
#include "hooks.h"

#include "display/entry_points.h"
#include "display/platform.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace driver {
namespace {

using Clock = std::chrono::steady_clock;

struct ProbeSettings {
    bool fixedClock;
    uint32_t clockMs;
    bool diagnostics;
    const char* frameLogPath;
};

struct LoggedFrame {
    uint32_t clockMs;
    int32_t slot; // -1: a look at the clock, not a frame
    float flash;
};

// Room for the whole show even at one frame per clock step; later frames are counted only.
constexpr size_t frameLogCapacity = 1 << 16;

ProbeSettings settings;
double pictureDecodeMs;
double pictureResampleMs;
LoggedFrame* frameLog;
size_t framesLogged;
uint32_t lastLookMs = 0xFFFFFFFFu;

void logEntry(const LoggedFrame& entry) {
    if (framesLogged < frameLogCapacity) frameLog[framesLogged] = entry;
    ++framesLogged;
}
Clock::time_point started;
Clock::time_point stepReached[startupSteps];

bool switchedOn(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && value[0] == '1';
}

// A test that expects a fatal error must not wait on a box nobody will close; the text still
// reaches standard error.
void noBox(const char* /*text*/, const char* /*caption*/, bool /*warningIcon*/) {}

double millisecondsBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

double stepMs(StartupStep from, StartupStep to) {
    return millisecondsBetween(stepReached[static_cast<int32_t>(from)],
                               stepReached[static_cast<int32_t>(to)]);
}

int32_t fetchedEntryPoints() {
    int32_t count = 0;
    for (display::GlProc entry : display::entryPoints) count += entry != nullptr ? 1 : 0;
    return count;
}

} // namespace

void startHooks() {
    started = Clock::now();
    if (const char* clock = std::getenv("DEMO_CLOCK_MS"); clock != nullptr && clock[0] != '\0') {
        settings.fixedClock = true;
        settings.clockMs = static_cast<uint32_t>(std::strtoul(clock, nullptr, 10));
    }
    settings.diagnostics = switchedOn("DEMO_DIAGNOSTICS");
    if (const char* path = std::getenv("DEMO_FRAME_LOG"); path != nullptr && path[0] != '\0') {
        settings.frameLogPath = path;
        // Filled by the frame loop, which allocates nothing; written out after teardown.
        frameLog = static_cast<LoggedFrame*>(std::calloc(frameLogCapacity, sizeof(LoggedFrame)));
    }
    if (switchedOn("DEMO_NO_MESSAGE_BOX")) display::messageBoxFunction = noBox;
}

bool heldClock(uint32_t* clockMs) {
    if (settings.fixedClock) *clockMs = settings.clockMs;
    return settings.fixedClock;
}

void markStartup(StartupStep step) {
    stepReached[static_cast<int32_t>(step)] = Clock::now();
}

void notePictureWork(double decodeMs, double resampleMs) {
    pictureDecodeMs = decodeMs;
    pictureResampleMs = resampleMs;
}

void reportFirstFrame(const display::Window& window, bool playerLoaded) {
    if (!settings.diagnostics) return;
    const Clock::time_point presented = Clock::now();
    std::fprintf(stderr, "diag: video driver %s\n", display::platformName());
    std::fprintf(stderr, "diag: screen %dx%d client %dx%d title \"%s\"\n", window.width,
                 window.height, window.clientWidth, window.clientHeight, window.title);
    const auto* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
    std::fprintf(stderr, "diag: gl context %s, version %s\n",
                 window.hglrc != nullptr ? "current" : "none", version != nullptr ? version : "-");
    std::fprintf(stderr, "diag: entry points fetched %d of %d\n", fetchedEntryPoints(),
                 display::entryPointSlots);
    std::fprintf(stderr, "diag: multisample chooser %s\n",
                 display::multisampleChooser != nullptr ? "found" : "absent");
    std::fprintf(stderr, "diag: player %s\n", playerLoaded ? "loaded" : "none");
    // What the main thread waited for, in its order; the picture work ran beside the window, and
    // "picture wait" is what was left of it when the main thread needed the pictures.
    std::fprintf(
        stderr,
        "startup: window %.2f ms, gl context %.2f ms, player %.2f ms, picture wait %.2f ms, "
        "upload %.2f ms, shader %.2f ms, audio pre-render %.2f ms, first draw %.2f ms, "
        "first frame at %.2f ms\n",
        millisecondsBetween(started, stepReached[static_cast<int32_t>(StartupStep::WindowShown)]),
        stepMs(StartupStep::WindowShown, StartupStep::ContextReady),
        stepMs(StartupStep::ContextReady, StartupStep::PlayerReady),
        stepMs(StartupStep::PlayerReady, StartupStep::PicturesJoined),
        stepMs(StartupStep::PicturesJoined, StartupStep::TexturesReady),
        stepMs(StartupStep::TexturesReady, StartupStep::ShaderReady),
        stepMs(StartupStep::ShaderReady, StartupStep::PlaybackStarted),
        millisecondsBetween(stepReached[static_cast<int32_t>(StartupStep::PlaybackStarted)],
                            presented),
        millisecondsBetween(started, presented));
    std::fprintf(stderr,
                 "startup beside the window: decode %.2f ms, resample %.2f ms, pictures ready "
                 "at %.2f ms\n",
                 pictureDecodeMs, pictureResampleMs,
                 millisecondsBetween(
                     started, stepReached[static_cast<int32_t>(StartupStep::PicturesPrepared)]));
}

void reportLook(uint32_t clockMs) {
    if (frameLog == nullptr || clockMs == lastLookMs) return;
    lastLookMs = clockMs;
    logEntry({clockMs, -1, 0.0f});
}

void reportFrame(uint32_t clockMs, const BeatFrame& frame) {
    if (frameLog != nullptr) logEntry({clockMs, frame.slot, frame.flash});
}

void reportEnd(uint64_t frames, uint64_t looks, uint32_t lastClockMs) {
    if (frameLog != nullptr) {
        if (FILE* f = std::fopen(settings.frameLogPath, "w"); f != nullptr) {
            const size_t kept = framesLogged < frameLogCapacity ? framesLogged : frameLogCapacity;
            for (size_t i = 0; i < kept; ++i) {
                const LoggedFrame& e = frameLog[i];
                if (e.slot < 0) {
                    std::fprintf(f, "look %u\n", e.clockMs);
                } else {
                    std::fprintf(f, "frame %u %d %.9g\n", e.clockMs, e.slot,
                                 static_cast<double>(e.flash));
                }
            }
            std::fclose(f);
        }
        std::free(frameLog);
        frameLog = nullptr;
    }
    if (!settings.diagnostics) return;
    std::fprintf(stderr, "diag: frames %llu, last clock %u ms\n",
                 static_cast<unsigned long long>(frames), lastClockMs);
    std::fprintf(stderr, "diag: clock looked at %llu times\n",
                 static_cast<unsigned long long>(looks));
    std::fprintf(stderr, "diag: torn down\n");
}

} // namespace driver
