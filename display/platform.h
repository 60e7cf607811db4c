// The narrow seam between the display code and the window system: the few calls it needs.
#pragma once

#include <cstdint>

namespace display {

// What the window procedure is handed; the platform translates its own events into these.
enum class MessageType : uint8_t {
    Other,   // anything the procedure does not look at
    KeyDown, // key without Alt
    KeyUp,
    SysKeyDown, // key pressed while Alt is held
    SysKeyUp,
    Close,   // the user or the window manager asks the window to close
    Destroy, // the window is going away
    Quit,    // the quit request: ends the frame loop
    Paint,   // the window's picture was lost or uncovered and is to be drawn again
};

struct Message {
    MessageType type;
    uint32_t key; // virtual-key code (27 Escape, 'A'..'Z', 0x73 F4); 256 and above are unnamed keys
    // The platform's own message, for its default procedure; null where there is none.
    const void* native = nullptr;
};

// The class the window is registered under (where the platform has window classes).
inline constexpr char windowClassName[] = "Dorn Rulez!";

constexpr uint32_t VK_ESCAPE_CODE = 27;
constexpr uint32_t VK_F4_CODE = 0x73;

// Sizes asked of the pixel format, taken from the fixed descriptor.
struct PixelFormatRequest {
    int32_t colourBits;
    int32_t alphaBits;
    int32_t depthBits;
    int32_t stencilBits;
    bool doubleBuffer;
};

// Brings the window system up; false when it cannot be reached at all.
bool platformStart();
// As platformStart, on a driver that draws into memory only: never a window on someone's screen,
// whatever the environment asks for. Where the window system has such a driver (SDL).
bool platformStartOffscreen();
// False when what came up has no screen to show on (a fallback that draws off screen only).
bool platformHasScreen();
void platformStop();
void platformScreenSize(int32_t* width, int32_t* height);
// True when the display offers a mode of that size with 4 bytes per pixel; the window then
// covers the screen in it.
bool platformEnterFullscreenMode(int32_t width, int32_t height);
void platformRestoreDisplayMode();
void platformShowCursor(bool shown);
// A borderless fullscreen window at 0,0, hidden, able to carry a GL context of that format.
void* platformCreateWindow(const char* title, int32_t width, int32_t height,
                           const PixelFormatRequest& format);
void platformDestroyWindow(void* window);
void platformClientSize(void* window, int32_t* width, int32_t* height);
void platformShowWindow(void* window, bool shown);
// What the window is drawn and swapped through (its device context), and its release.
void* platformDeviceContext(void* window);
void platformReleaseDeviceContext(void* window, void* deviceContext);
// The pixel format is chosen here, on the device context, where the platform allows it.
void* platformCreateContext(void* deviceContext);
bool platformMakeCurrent(void* window, void* context); // null context releases
void platformDeleteContext(void* context);
void platformSwapBuffers(void* window);
// Presents at most one frame per display refresh where the driver offers that (swap interval 1);
// false where it does not, and buffers then swap at once.
bool platformSetSwapInterval(int32_t interval);
// Removes the next pending message, translates it and hands it to the window procedure; false
// when none is pending. *quit tells whether it was the quit request.
bool platformDispatchMessage(bool* quit);
void platformPostQuitMessage();
// Sleeps until a message is pending or timeoutMs have passed, without using the processor;
// true when one is pending.
bool platformWaitMessage(uint32_t timeoutMs);
// True once the connection to the window system is gone (server stopped, connection killed):
// nothing can be drawn or released through it any more.
bool platformDisplayLost();
// What the window system does with a message the window procedure passes on.
int64_t platformDefaultWindowProcedure(void* window, const Message& message);
void* platformGetProcAddress(const char* name);
// WGL: the lookup answers null for a function the context lacks, and the window system's own
// extension list stands in for GL's. Elsewhere (GLX, EGL) every name gets an address, so the
// context's version and extensions decide, and both lists are searched.
bool platformSpeaksWgl();
// The window system's own GL extension list (WGL, GLX or EGL), or null.
const char* platformExtensionString();
// Name of the platform's multisample pixel-format chooser (fetched, never called).
const char* platformMultisampleChooserName();
// Blocks until dismissed; false when no box could be shown.
bool platformMessageBox(const char* text, const char* caption, bool warningIcon);
const char* platformName();

} // namespace display
