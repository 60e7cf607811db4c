// The program's entry: start-up in its fixed order, the frame loop on the music clock, teardown.
#include "image_table.h"
#include "show.h"
#include "timeline.h"

#include "embedded_assets.h"

#include "display/entry_points.h"
#include "display/window.h"
#include "music/audio_output.h"
#include "music/module.h"
#include "music/stream.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr char demoTitle[] = "Beatdemo: twenty-three pictures, one song, a flash per beat";
static_assert(sizeof demoTitle - 1 == 59, "the window title is 59 characters");

using Clock = std::chrono::steady_clock;

double millisecondsBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

// Test and measurement seams; the demo itself reads no configuration.
struct Seams {
    bool fixedClock; // DEMO_CLOCK_MS: show the frame of that music clock instead
    uint32_t clockMs;
    bool diagnostics; // DEMO_DIAGNOSTICS=1: start-up facts and timings on standard error
};

Seams readSeams() {
    Seams seams{};
    if (const char* clock = std::getenv("DEMO_CLOCK_MS"); clock != nullptr && clock[0] != '\0') {
        seams.fixedClock = true;
        seams.clockMs = static_cast<uint32_t>(std::strtoul(clock, nullptr, 10));
    }
    const char* diagnostics = std::getenv("DEMO_DIAGNOSTICS");
    seams.diagnostics = diagnostics != nullptr && diagnostics[0] == '1';
    return seams;
}

int32_t fetchedEntryPoints() {
    int32_t count = 0;
    for (display::GlProc entry : display::entryPoints) count += entry != nullptr ? 1 : 0;
    return count;
}

} // namespace

int main() {
    const Clock::time_point started = Clock::now();
    const Seams seams = readSeams();

    auto* window = static_cast<display::Window*>(std::calloc(1, sizeof(display::Window)));
    display::constructWindow(window);
    std::strncpy(window->title, demoTitle, display::windowTitleCapacity);
    int32_t screenWidth = 0;
    int32_t screenHeight = 0;
    display::platformScreenSize(&screenWidth, &screenHeight);
    display::openFullscreen(window, &screenWidth, &screenHeight);
    display::showWindow(window);
    const Clock::time_point windowShown = Clock::now();

    display::createGLContext(window);
    display::initialiseRenderState(screenWidth, screenHeight);
    if (const char* missing = display::firstMissingEntryPoint(); missing != nullptr) {
        // Calling through a missing entry point is undefined, so the demo stops before the loop.
        char text[160];
        std::snprintf(text, sizeof text, "%sOpenGL function %s is not available.",
                      window->hglrc == nullptr ? "No OpenGL context could be created. " : "",
                      missing);
        display::tearDownWindow(window);
        display::fatalStartupError(text, "Error", true, 1);
    }
    const Clock::time_point contextReady = Clock::now();

    auto** playerHolder = static_cast<music::Player**>(std::calloc(1, sizeof(music::Player*)));
    music::installMemoryStream();
    const music::MemoryStream song = {static_cast<int32_t>(driver::assets::song_xm_size), 0,
                                      driver::assets::song_xm};
    *playerHolder = music::createPlayer(&song);
    const Clock::time_point playerReady = Clock::now();

    driver::createSlotTextures(driver::imageTable);
    const Clock::time_point texturesReady = Clock::now();

    auto* mesh = static_cast<gl::Mesh*>(std::calloc(1, sizeof(gl::Mesh)));
    driver::pointAtQuad(mesh);
    auto* shader = static_cast<gl::ShaderProgram*>(std::calloc(1, sizeof(gl::ShaderProgram)));
    driver::buildDemoShader(shader);
    const Clock::time_point shaderReady = Clock::now();

    music::startPlayback(*playerHolder);
    const Clock::time_point playbackStarted = Clock::now();

    const driver::Scene scene = {driver::imageTable, mesh, shader, static_cast<float>(screenWidth),
                                 static_cast<float>(screenHeight)};
    uint64_t frames = 0;
    uint32_t clockMs = 0;
    for (;;) {
        clockMs = 0;
        if (seams.fixedClock) {
            clockMs = seams.clockMs;
        } else if (*playerHolder != nullptr) {
            clockMs = music::musicClockMs();
        }
        const driver::BeatFrame frame = driver::beatFrameAt(clockMs);
        driver::drawFrame(scene, frame);
        display::platformSwapBuffers(window->hdc);
        if (frames++ == 0 && seams.diagnostics) {
            const Clock::time_point presented = Clock::now();
            std::fprintf(stderr, "diag: video driver %s\n", display::platformName());
            std::fprintf(stderr, "diag: screen %dx%d client %dx%d title \"%s\"\n", screenWidth,
                         screenHeight, window->clientWidth, window->clientHeight, window->title);
            const auto* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
            std::fprintf(stderr, "diag: gl context %s, version %s\n",
                         window->hglrc != nullptr ? "current" : "none",
                         version != nullptr ? version : "-");
            std::fprintf(stderr, "diag: entry points fetched %d of %d\n", fetchedEntryPoints(),
                         display::entryPointSlots);
            std::fprintf(stderr, "diag: multisample chooser %s\n",
                         display::multisampleChooser != nullptr ? "found" : "absent");
            std::fprintf(stderr, "diag: player %s\n", *playerHolder != nullptr ? "loaded" : "none");
            std::fprintf(stderr,
                         "startup: window %.2f ms, gl context %.2f ms, player %.2f ms, textures "
                         "%.2f ms, shader %.2f ms, audio pre-render %.2f ms, first frame at "
                         "%.2f ms\n",
                         millisecondsBetween(started, windowShown),
                         millisecondsBetween(windowShown, contextReady),
                         millisecondsBetween(contextReady, playerReady),
                         millisecondsBetween(playerReady, texturesReady),
                         millisecondsBetween(texturesReady, shaderReady),
                         millisecondsBetween(shaderReady, playbackStarted),
                         millisecondsBetween(started, presented));
        }
        const bool quit = display::drainMessages();
        if (quit || clockMs >= driver::showEndMs) break;
    }
    if (seams.diagnostics) {
        std::fprintf(stderr, "diag: frames %llu, last clock %u ms\n",
                     static_cast<unsigned long long>(frames), clockMs);
    }

    music::stopPlayback(*playerHolder);
    music::destroyPlayer(*playerHolder);
    std::free(playerHolder);
    driver::deleteSlotTextures(driver::imageTable);
    std::free(mesh);
    std::free(shader);
    display::tearDownWindow(window);
    std::free(window);
    display::platformStop();
    return 0;
}
