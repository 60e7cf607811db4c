// The fullscreen window with its GL context, its window procedure and the message drain.
#include "window.h"

#include "entry_points.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace display {
namespace {

const WindowSettings settingsRecord = {windowClassName};

// A box that cannot be shown (no display at all) must not hold the exit up.
void platformBox(const char* text, const char* caption, bool warningIcon) {
    const char* skip = std::getenv("DEMO_NO_MESSAGE_BOX");
    if (skip != nullptr && skip[0] == '1') return;
    platformMessageBox(text, caption, warningIcon);
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
    if (!platformStart()) {
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
}

bool drainMessages() {
    bool quit = false;
    bool wasQuit = false;
    while (platformDispatchMessage(&wasQuit)) quit = quit || wasQuit;
    return quit;
}

void tearDownWindow(Window* window) {
    drainMessages();
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
    default: break;
    }
    return defaultWindowProcedure(hwnd, message);
}

int64_t defaultWindowProcedure(void* hwnd, const Message& message) {
    return platformDefaultWindowProcedure(hwnd, message);
}

} // namespace display
