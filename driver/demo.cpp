// The program's entry: start-up in its fixed order, the frame loop on the music clock, teardown.
#include "hooks.h"
#include "image_table.h"
#include "pacing.h"
#include "show.h"
#include "timeline.h"

#include "embedded_assets.h"

#include "display/entry_points.h"
#include "display/window.h"
#include "music/audio_output.h"
#include "music/module.h"
#include "music/stream.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace {

constexpr char demoTitle[] = "Beatdemo: twenty-three pictures, one song, a flash per beat";
static_assert(sizeof demoTitle - 1 == 59, "the window title is 59 characters");

} // namespace

int main() {
    driver::startHooks();
    display::quitOnConsoleSignals();

    // Decoding and resampling need no window and no GL: they run beside the window system's
    // start-up, which spends most of its time waiting, and only the upload waits for them.
    driver::shareOneHeap();
    auto* pictures =
        static_cast<driver::PreparedPictures*>(std::calloc(1, sizeof(driver::PreparedPictures)));
    const auto prepare = [pictures] {
        driver::preparePictures(driver::imageTable, pictures);
        driver::markStartup(driver::StartupStep::PicturesPrepared);
        driver::warmHeap();
    };
#if defined(__EMSCRIPTEN__)
    // A web page without shared memory has one thread: the pictures are prepared first.
    prepare();
#else
    std::thread pictureThread(prepare);
#endif

    auto* window = static_cast<display::Window*>(std::calloc(1, sizeof(display::Window)));
    display::constructWindow(window);
    std::strncpy(window->title, demoTitle, display::windowTitleCapacity);
    int32_t screenWidth = 0;
    int32_t screenHeight = 0;
    display::platformScreenSize(&screenWidth, &screenHeight);
    display::openFullscreen(window, &screenWidth, &screenHeight);
    display::showWindow(window);
    driver::markStartup(driver::StartupStep::WindowShown);

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
    driver::markStartup(driver::StartupStep::ContextReady);

    auto** playerHolder = static_cast<music::Player**>(std::calloc(1, sizeof(music::Player*)));
    const music::MemoryStream song = {static_cast<int32_t>(driver::assets::song_xm_size), 0,
                                      driver::assets::song_xm};
    *playerHolder = music::createPlayer(&song);
    driver::markStartup(driver::StartupStep::PlayerReady);

#if !defined(__EMSCRIPTEN__)
    pictureThread.join();
#endif
    driver::markStartup(driver::StartupStep::PicturesJoined);
    driver::notePictureWork(pictures->decodeMs, pictures->resampleMs);
    driver::uploadPictures(driver::imageTable, pictures);
    std::free(pictures);
    driver::markStartup(driver::StartupStep::TexturesReady);

    auto* mesh = static_cast<gl::Mesh*>(std::calloc(1, sizeof(gl::Mesh)));
    driver::pointAtQuad(mesh);
    auto* shader = static_cast<gl::ShaderProgram*>(std::calloc(1, sizeof(gl::ShaderProgram)));
    driver::buildDemoShader(shader);
    driver::markStartup(driver::StartupStep::ShaderReady);

    const bool playing = music::startPlayback(*playerHolder);
    driver::markStartup(driver::StartupStep::PlaybackStarted);
    if (*playerHolder != nullptr && !playing) {
        std::fputs("demo: no audio device: the music clock stays at 0, so the show stays at its "
                   "start until Escape\n",
                   stderr);
    }

    const driver::Scene scene = {driver::imageTable, mesh, shader, static_cast<float>(screenWidth),
                                 static_cast<float>(screenHeight)};
    uint32_t heldClockMs = 0;
    const bool clockHeld = driver::heldClock(&heldClockMs);
    const bool clockMoves = !clockHeld && playing;
    uint64_t frames = 0;
    uint64_t looks = 0;
    uint32_t clockMs = 0;
    driver::BeatFrame shown{};
    // A frame is drawn only when it would look different from the one on screen, or when the
    // window lost its picture; in between, the loop sleeps until the clock can have moved.
    for (;;) {
        clockMs = 0;
        if (clockHeld) {
            clockMs = heldClockMs;
        } else if (*playerHolder != nullptr) {
            clockMs = music::musicClockMs(*playerHolder);
        }
        ++looks;
        driver::reportLook(clockMs);
        const driver::BeatFrame frame = driver::beatFrameAt(clockMs);
        const bool redraw = display::takeRedrawRequest();
        if (frames == 0 || redraw || !driver::samePicture(frame, shown)) {
            driver::drawFrame(scene, frame);
            display::platformSwapBuffers(window->hdc);
            shown = frame;
            driver::reportFrame(clockMs, frame);
            if (frames++ == 0) driver::reportFirstFrame(*window, *playerHolder != nullptr);
        }
        const bool quit = display::drainMessages();
        if (quit || clockMs >= driver::showEndMs || display::displayLost()) break;
        if (!display::redrawPending()) {
            display::waitForMessage(driver::frameWaitMs(clockMs, clockMoves));
        }
    }
    const bool lost = display::displayLost();

    music::stopPlayback(*playerHolder);
    music::destroyPlayer(*playerHolder);
    std::free(playerHolder);
    // Without the window system the context went with it: the records are freed, GL is not asked.
    driver::deleteSlotTextures(driver::imageTable, !lost);
    std::free(mesh);
    std::free(shader);
    display::tearDownWindow(window);
    std::free(window);
    if (!lost) display::platformStop();
    driver::reportEnd(frames, looks, clockMs);
    return lost ? display::exitDisplayLost : 0;
}
