// The fullscreen window with its GL context, its window procedure and the message drain.
#include "window.h"

#include "entry_points.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace display {
namespace {

const WindowSettings settingsRecord = {windowClassName};

// Whether the box could be shown matters to no one: the text has gone to standard error already.
void platformBox(const char* text, const char* caption, bool warningIcon) {
    platformMessageBox(text, caption, warningIcon);
}

// Set by the console's interrupt and terminate signals. The handler does nothing else, as only
// lock-free atomics are safe to touch there; the drain turns it into the quit request.
std::atomic<bool> consoleQuitRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free);

// Set by the window procedure when the window's picture has to be drawn again.
bool redrawRequested = false;

void noteConsoleQuit(int /*signal*/) {
    consoleQuitRequested.store(true, std::memory_order_relaxed);
}

PixelFormatRequest requestFrom(const PixelFormatDescriptor& descriptor) {
    return {descriptor.cColorBits, descriptor.cAlphaBits, descriptor.cDepthBits,
            descriptor.cStencilBits, (descriptor.dwFlags & PFD_DOUBLEBUFFER_FLAG) != 0};
}

} // namespace

const PixelFormatDescriptor pixelFormatDescriptor = {
    40, 1, PFD_DRAW_TO_WINDOW_FLAG | PFD_SUPPORT_OPENGL_FLAG | PFD_DOUBLEBUFFER_FLAG,
    0,  // RGBA
    32, // colour bits
    1,  // alpha bits
    0,  // accumulation bits
    32, // depth bits
    0,  // stencil bits
    0,  // aux buffers
    0,  // main plane
};
static_assert((PFD_DRAW_TO_WINDOW_FLAG | PFD_SUPPORT_OPENGL_FLAG | PFD_DOUBLEBUFFER_FLAG) == 0x25);

uint8_t keyState[256];

MessageBoxFunction messageBoxFunction = platformBox;

void showMessageBox(const char* text, const char* caption, bool warningIcon) {
    // A run without a display shows nothing, so the reason goes to standard error as well.
    std::fprintf(stderr, "%s\n", text[0] != '\0' ? text : caption);
    std::fflush(stderr);
    messageBoxFunction(text, caption, warningIcon);
}

void fatalStartupError(const char* text, const char* caption, bool warningIcon, int exitCode) {
    showMessageBox(text, caption, warningIcon);
    std::exit(exitCode);
}

void constructWindow(Window* window) {
    window->hwnd = nullptr;
    window->hdc = nullptr;
    window->hglrc = nullptr;
    window->fullscreen = false;
    window->title[0] = '\0';
    window->settings = &settingsRecord;
    // A platform that comes up without a screen (drawing off screen only) shows nothing, and the
    // demo would run unseen; that is no window system either.
    if (!platformStart() || !platformHasScreen()) {
        fatalStartupError("RegisterClassEx Failed!", "Error", true, exitRegisterFailed);
    }
}

void openFullscreen(Window* window, int32_t* width, int32_t* height) {
    if (static_cast<int32_t>(static_cast<uint32_t>(*width) * static_cast<uint32_t>(*height)) == 0) {
        platformScreenSize(width, height);
    }
    window->width = *width;
    window->height = *height;
    window->fullscreen = true;
    if (!platformEnterFullscreenMode(*width, *height)) {
        fatalStartupError("", "Could not initialize fullscreen window.", false,
                          exitFullscreenFailed);
    }
    platformShowCursor(false);
    window->hwnd =
        platformCreateWindow(window->title, *width, *height, requestFrom(pixelFormatDescriptor));
    if (window->hwnd == nullptr) {
        fatalStartupError("cannot create window", "Error", true, exitCreateWindowFailed);
    }
    window->hdc = platformDeviceContext(window->hwnd);
    platformClientSize(window->hwnd, &window->clientWidth, &window->clientHeight);
    platformShowWindow(window->hwnd, false);
}

void showWindow(Window* window) {
    platformShowWindow(window->hwnd, true);
}

void createGLContext(Window* window) {
    if (window->hdc == nullptr) return;
    window->hglrc = platformCreateContext(window->hdc);
    if (window->hglrc == nullptr) return;
    if (!platformMakeCurrent(window->hdc, window->hglrc)) return;
    multisampleProbe();
    // The loop draws only pictures that changed, so a refresh-bound swap costs it nothing.
    platformSetSwapInterval(1);
}

void quitOnConsoleSignals() {
    std::signal(SIGINT, noteConsoleQuit);
    std::signal(SIGTERM, noteConsoleQuit);
}

bool drainMessages() {
    if (consoleQuitRequested.exchange(false, std::memory_order_relaxed)) platformPostQuitMessage();
    bool quit = false;
    bool wasQuit = false;
    while (platformDispatchMessage(&wasQuit)) quit = quit || wasQuit;
    return quit;
}

void waitForMessage(uint32_t timeoutMs) {
    if (consoleQuitRequested.load(std::memory_order_relaxed)) return;
    platformWaitMessage(timeoutMs);
}

bool takeRedrawRequest() {
    const bool requested = redrawRequested;
    redrawRequested = false;
    return requested;
}

bool redrawPending() {
    return redrawRequested;
}

bool displayLost() {
    return platformDisplayLost();
}

void tearDownWindow(Window* window) {
    drainMessages();
    if (platformDisplayLost()) {
        // The handles died with the connection; releasing them would only talk to no one.
        window->hglrc = nullptr;
        window->hdc = nullptr;
        window->hwnd = nullptr;
    }
    if (window->hwnd != nullptr) {
        if (window->hdc != nullptr) {
            platformMakeCurrent(window->hdc, nullptr);
            if (window->hglrc != nullptr) {
                platformDeleteContext(window->hglrc);
                window->hglrc = nullptr;
            }
            platformReleaseDeviceContext(window->hwnd, window->hdc);
            window->hdc = nullptr;
        }
        platformDestroyWindow(window->hwnd);
        window->hwnd = nullptr;
    }
    if (window->fullscreen) {
        platformRestoreDisplayMode();
        platformShowCursor(true);
    }
    drainMessages();
}

int64_t windowProcedure(void* hwnd, const Message& message) {
    switch (message.type) {
    case MessageType::Destroy: platformPostQuitMessage(); return 0;
    case MessageType::KeyDown:
        if (message.key < 256) keyState[message.key] = 1;
        if (message.key == VK_ESCAPE_CODE) platformPostQuitMessage();
        break;
    case MessageType::KeyUp:
        if (message.key < 256) keyState[message.key] = 0;
        break;
    case MessageType::Paint: redrawRequested = true; break;
    default: break;
    }
    return defaultWindowProcedure(hwnd, message);
}

int64_t defaultWindowProcedure(void* hwnd, const Message& message) {
    return platformDefaultWindowProcedure(hwnd, message);
}

} // namespace display
