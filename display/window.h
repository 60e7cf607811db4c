// The fullscreen window with its GL context, its window procedure and the message drain.
#pragma once

#include "platform.h"

#include <cstdint>

namespace display {

struct WindowSettings {
    const char* className;
};

constexpr int32_t windowTitleCapacity = 512;

struct Window {
    const WindowSettings* settings;
    char title[windowTitleCapacity];
    int32_t height;
    int32_t width;
    int32_t clientHeight;
    int32_t clientWidth;
    bool fullscreen;
    void* hwnd;  // the platform's window
    void* hdc;   // what buffers are swapped on: the device context, the window itself on SDL
    void* hglrc; // the GL context
};

// The fixed pixel format: RGBA, 32 colour bits, 1 alpha bit, 32 depth bits, double-buffered.
struct PixelFormatDescriptor {
    uint16_t nSize;
    uint16_t nVersion;
    uint32_t dwFlags;
    uint8_t iPixelType;
    uint8_t cColorBits;
    uint8_t cAlphaBits;
    uint8_t cAccumBits;
    uint8_t cDepthBits;
    uint8_t cStencilBits;
    uint8_t cAuxBuffers;
    uint8_t iLayerType;
};
extern const PixelFormatDescriptor pixelFormatDescriptor;

constexpr uint32_t PFD_DRAW_TO_WINDOW_FLAG = 0x04;
constexpr uint32_t PFD_SUPPORT_OPENGL_FLAG = 0x20;
constexpr uint32_t PFD_DOUBLEBUFFER_FLAG = 0x01;

// Set to 1 on key-down and 0 on key-up, indexed by virtual-key code.
extern uint8_t keyState[256];

constexpr int exitRegisterFailed = 1001;
constexpr int exitFullscreenFailed = 1;
constexpr int exitCreateWindowFailed = 1;
// The connection to the window system broke while the show ran.
constexpr int exitDisplayLost = 3;

// Shows a box without owner window and waits for it; tests replace it so nothing blocks.
using MessageBoxFunction = void (*)(const char* text, const char* caption, bool warningIcon);
extern MessageBoxFunction messageBoxFunction;
void showMessageBox(const char* text, const char* caption, bool warningIcon);
// Reports a fatal start-up error on standard error and in a box, then ends the process.
[[noreturn]] void fatalStartupError(const char* text, const char* caption, bool warningIcon,
                                    int exitCode);

// Sets up the record and brings the window system up; ends the process with 1001 when it can't.
void constructWindow(Window* window);
// A width x height of 0 means the screen size, written back through the pointers.
void openFullscreen(Window* window, int32_t* width, int32_t* height);
void showWindow(Window* window);
// Silent: each step runs only if the previous one worked. Asks for one frame per refresh.
void createGLContext(Window* window);
// From here on Ctrl-C and SIGTERM end the show as Escape does: the next drain posts the quit
// request, and the driver leaves the frame loop through teardown.
void quitOnConsoleSignals();
// Dispatches every pending message; true if one of them was the quit request.
bool drainMessages();
// Sleeps until a message (or a console quit) is pending or timeoutMs have passed.
void waitForMessage(uint32_t timeoutMs);
// True once since the window last asked to be drawn again (uncovered, shown, resized).
bool takeRedrawRequest();
bool redrawPending();
// The window system went away under the show; teardown then skips what would need it.
bool displayLost();
void tearDownWindow(Window* window);

int64_t windowProcedure(void* hwnd, const Message& message);
int64_t defaultWindowProcedure(void* hwnd, const Message& message);

} // namespace display
