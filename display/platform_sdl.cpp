// The window-system seam on SDL2: every SDL call of the display lives in this file.
#include "platform.h"

#include "window.h"

#include <SDL.h>
#include <SDL_syswm.h>

#if defined(DEMO_X11)
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace display {
namespace {

// Win32 virtual-key codes for the keys SDL names; everything else gets a code past the table.
uint32_t virtualKeyOf(const SDL_Keysym& keysym) {
    const SDL_Keycode sym = keysym.sym;
    if (sym >= SDLK_a && sym <= SDLK_z) return static_cast<uint32_t>('A' + (sym - SDLK_a));
    if (sym >= SDLK_0 && sym <= SDLK_9) return static_cast<uint32_t>('0' + (sym - SDLK_0));
    if (sym >= SDLK_F1 && sym <= SDLK_F12) return 0x70u + static_cast<uint32_t>(sym - SDLK_F1);
    switch (sym) {
    case SDLK_ESCAPE: return VK_ESCAPE_CODE;
    case SDLK_RETURN: return 13;
    case SDLK_SPACE: return 32;
    case SDLK_TAB: return 9;
    case SDLK_BACKSPACE: return 8;
    case SDLK_LEFT: return 37;
    case SDLK_UP: return 38;
    case SDLK_RIGHT: return 39;
    case SDLK_DOWN: return 40;
    case SDLK_LSHIFT:
    case SDLK_RSHIFT: return 0x10;
    case SDLK_LCTRL:
    case SDLK_RCTRL: return 0x11;
    case SDLK_LALT:
    case SDLK_RALT: return 0x12;
    default: return 256u + static_cast<uint32_t>(keysym.scancode);
    }
}

bool driverIs(const char* name) {
    const char* current = SDL_GetCurrentVideoDriver();
    return current != nullptr && std::strcmp(current, name) == 0;
}

// Set once the window system's connection is gone; main thread only, as is every X call here.
bool connectionLost = false;

#if defined(DEMO_X11)

::Window demoWindow = 0;
XErrorHandler previousErrorHandler = nullptr;
// Another client destroyed the window: SDL's own teardown of it would ask the server about a
// window that no longer exists, with error handlers of its own in place.
bool destroyedOutside = false;

// A window manager that speaks EWMH names its check window on the root window, and that window
// names itself. Asked on a connection of our own, before SDL makes the window.
bool ewmhWindowManagerRuns() {
    ::Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) return true; // cannot tell: keep to what every manager understands
    bool found = false;
    const Atom check = XInternAtom(display, "_NET_SUPPORTING_WM_CHECK", True);
    if (check != None) {
        const auto windowNamedOn = [&](::Window on, ::Window* named) {
            Atom type = None;
            int format = 0;
            unsigned long count = 0;
            unsigned long after = 0;
            unsigned char* data = nullptr;
            const int got = XGetWindowProperty(display, on, check, 0, 1, False, XA_WINDOW, &type,
                                               &format, &count, &after, &data);
            const bool ok = got == Success && type == XA_WINDOW && format == 32 && count == 1;
            if (ok) *named = *reinterpret_cast<::Window*>(data);
            if (data != nullptr) XFree(data);
            return ok;
        };
        ::Window child = 0;
        ::Window self = 0;
        // A stale property outlives its manager; a check window that names itself does not.
        const XErrorHandler previous = XSetErrorHandler([](::Display*, XErrorEvent*) { return 0; });
        found = windowNamedOn(DefaultRootWindow(display), &child) && windowNamedOn(child, &self) &&
                self == child;
        XSync(display, False);
        XSetErrorHandler(previous);
    }
    XCloseDisplay(display);
    return found;
}

// Requests on our window after another client destroyed it fail; that is the window going away,
// already told by its DestroyNotify, not a reason to end the process as Xlib's default does.
int onXError(::Display* display, XErrorEvent* error) {
    if (demoWindow != 0 && error->resourceid == demoWindow) return 0;
    return previousErrorHandler != nullptr ? previousErrorHandler(display, error) : 0;
}

// Xlib calls these when a connection breaks: first the error handler, then the exit handler.
// The defaults print and end the process with 1 on the spot; returning from both instead leaves
// the connection marked dead, every later call on it failing at once, and the frame loop ends
// through teardown.
void onConnectionLost(::Display*, void*) {
    connectionLost = true;
}

int onIOError(::Display* display) {
    if (!connectionLost) {
        std::fprintf(stderr, "X connection to %s lost\n", DisplayString(display));
    }
    connectionLost = true;
    // SDL keeps a second connection of its own; whichever broke must not exit either.
    XSetIOErrorExitHandler(display, onConnectionLost, nullptr);
    return 0;
}

// SDL and Mesa put handlers of their own in place for a while and back again; before the window
// and the connections go, ours is put back for the errors that their requests still bring.
void catchErrorsAboutTheWindow() {
    if (previousErrorHandler != nullptr) XSetErrorHandler(onXError);
}

void watchConnection(SDL_Window* window) {
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (SDL_GetWindowWMInfo(window, &info) != SDL_TRUE || info.subsystem != SDL_SYSWM_X11) return;
    demoWindow = info.info.x11.window;
    if (previousErrorHandler == nullptr) previousErrorHandler = XSetErrorHandler(onXError);
    XSetIOErrorHandler(onIOError);
    XSetIOErrorExitHandler(info.info.x11.display, onConnectionLost, nullptr);
    // Destruction by another client arrives only as the raw X event.
    SDL_EventState(SDL_SYSWMEVENT, SDL_ENABLE);
}

bool isOurDestruction(const SDL_Event& event) {
    const SDL_SysWMmsg* msg = event.syswm.msg;
    const bool ours = msg != nullptr && msg->subsystem == SDL_SYSWM_X11 &&
                      msg->msg.x11.event.type == DestroyNotify &&
                      msg->msg.x11.event.xdestroywindow.window == demoWindow && demoWindow != 0;
    if (ours) destroyedOutside = true;
    return ours;
}

bool windowGone() {
    return destroyedOutside;
}

#else

void catchErrorsAboutTheWindow() {}
bool windowGone() {
    return false;
}
bool ewmhWindowManagerRuns() {
    return true;
}
void watchConnection(SDL_Window*) {}
bool isOurDestruction(const SDL_Event&) {
    return false;
}

#endif

} // namespace

bool platformStart() {
    // Closing happens through our own window procedure, and a fullscreen demo that loses focus
    // to a test tool should stay on screen.
    SDL_SetHint(SDL_HINT_QUIT_ON_LAST_WINDOW_CLOSE, "0");
    SDL_SetHint(SDL_HINT_VIDEO_MINIMIZE_ON_FOCUS_LOSS, "0");
    // Ctrl-C and SIGTERM are the window code's to answer, whether or not it has installed its
    // handlers before SDL starts.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) == 0) return true;
    // The fatal message that follows cannot say why; SDL can.
    std::fprintf(stderr, "SDL: %s\n", SDL_GetError());
    return false;
}

bool platformStartOffscreen() {
    setenv("SDL_VIDEODRIVER", "offscreen", 1);
    return platformStart();
}

bool platformHasScreen() {
    // Without X11 or Wayland, SDL falls back to drivers that draw into memory (offscreen) or
    // nowhere (dummy, and its evdev variant); nothing they make can be seen.
    return !driverIs("offscreen") && !driverIs("dummy") && !driverIs("evdev");
}

void platformStop() {
    // SDL's video shutdown puts Xlib's default error handler back before it closes the
    // connection, and the default ends the process over any error still due about a window
    // that is gone. Nothing is left to release that the end of the process does not.
    if (connectionLost || windowGone()) return;
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
}

void platformScreenSize(int32_t* width, int32_t* height) {
    SDL_DisplayMode mode{};
    if (SDL_GetDesktopDisplayMode(0, &mode) != 0) {
        *width = 0;
        *height = 0;
        return;
    }
    *width = mode.w;
    *height = mode.h;
}

bool platformEnterFullscreenMode(int32_t width, int32_t height) {
    // The window covers the desktop in the desktop's own mode, so that mode is the one that
    // counts; the list of other modes is consulted only when the desktop's does not fit.
    SDL_DisplayMode desktop{};
    if (SDL_GetDesktopDisplayMode(0, &desktop) == 0 && desktop.w == width && desktop.h == height &&
        SDL_BYTESPERPIXEL(desktop.format) == 4) {
        return true;
    }
    const int count = SDL_GetNumDisplayModes(0);
    for (int i = 0; i < count; ++i) {
        SDL_DisplayMode mode{};
        if (SDL_GetDisplayMode(0, i, &mode) != 0) continue;
        if (mode.w == width && mode.h == height && SDL_BYTESPERPIXEL(mode.format) == 4) return true;
    }
    return false;
}

// The window covers the desktop in the desktop's own mode, so leaving it needs no mode change;
// a backend that really switches modes puts the old one back here.
void platformRestoreDisplayMode() {}

void platformShowCursor(bool shown) {
    SDL_ShowCursor(shown ? SDL_ENABLE : SDL_DISABLE);
}

void* platformCreateWindow(const char* title, int32_t width, int32_t height,
                           const PixelFormatRequest& format) {
    // SDL fixes the pixel format when the window is made, so the request goes in here.
    SDL_GL_ResetAttributes();
    SDL_GL_SetAttribute(SDL_GL_BUFFER_SIZE, format.colourBits);
    SDL_GL_SetAttribute(SDL_GL_ALPHA_SIZE, format.alphaBits);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, format.depthBits);
    SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, format.stencilBits);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, format.doubleBuffer ? 1 : 0);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
    Uint32 flags = SDL_WINDOW_OPENGL | SDL_WINDOW_BORDERLESS | SDL_WINDOW_HIDDEN;
    // Asking a window manager for fullscreen keeps panels and other windows below ours. Without
    // one, a borderless window at 0,0 of the screen's size is already all there is to see, and
    // SDL would spend about 100 ms waiting for a manager to answer the fullscreen request.
    if (!driverIs("x11") || ewmhWindowManagerRuns()) flags |= SDL_WINDOW_FULLSCREEN_DESKTOP;
    SDL_Window* window = SDL_CreateWindow(title, 0, 0, width, height, flags);
    if (window != nullptr) watchConnection(window);
    return window;
}

void platformDestroyWindow(void* window) {
    // On a dead connection every X request would fail, and a window destroyed from outside has
    // nothing left to release; the process ends soon anyway.
    if (connectionLost || windowGone()) return;
    // demoWindow stays named: errors about it may still arrive after it is gone (another client
    // destroyed it first), and they are no more fatal then.
    catchErrorsAboutTheWindow();
    SDL_DestroyWindow(static_cast<SDL_Window*>(window));
}

void platformClientSize(void* window, int32_t* width, int32_t* height) {
    int w = 0;
    int h = 0;
    SDL_GetWindowSize(static_cast<SDL_Window*>(window), &w, &h);
    *width = w;
    *height = h;
}

void platformShowWindow(void* window, bool shown) {
    if (shown) {
        SDL_ShowWindow(static_cast<SDL_Window*>(window));
    } else {
        SDL_HideWindow(static_cast<SDL_Window*>(window));
    }
}

// SDL swaps and makes current on the window itself; there is no separate device context.
void* platformDeviceContext(void* window) {
    return window;
}

void platformReleaseDeviceContext(void*, void*) {}

// SDL fixed the pixel format when it made the window.
void* platformCreateContext(void* deviceContext) {
    return SDL_GL_CreateContext(static_cast<SDL_Window*>(deviceContext));
}

bool platformMakeCurrent(void* window, void* context) {
    if (context == nullptr) catchErrorsAboutTheWindow();
    return SDL_GL_MakeCurrent(static_cast<SDL_Window*>(window), context) == 0;
}

void platformDeleteContext(void* context) {
    SDL_GL_DeleteContext(context);
}

void platformSwapBuffers(void* window) {
    if (connectionLost || windowGone()) return;
    SDL_GL_SwapWindow(static_cast<SDL_Window*>(window));
}

bool platformSetSwapInterval(int32_t interval) {
    return SDL_GL_SetSwapInterval(interval) == 0;
}

// A posted quit request is a flag, handed out once the queue is empty, as the Win32 queue
// does. An SDL_QUIT pushed from inside a drain would only be seen by the next drain, because
// SDL stops each polling pass at the events that were pending when it began.
static bool quitPosted = false;

namespace {

// An event that a wait took off the queue, handed out first by the next drain.
SDL_Event heldEvent;
bool eventHeld = false;

// Removes the next pending event as the message the window procedure would see.
bool nextMessage(Message* message) {
    SDL_Event event;
    message->type = MessageType::Other;
    message->key = 0;
    message->native = nullptr;
    if (eventHeld) {
        event = heldEvent;
        eventHeld = false;
    } else if (connectionLost || SDL_PollEvent(&event) == 0) {
        if (!quitPosted) return false;
        quitPosted = false;
        message->type = MessageType::Quit;
        return true;
    }
    switch (event.type) {
    case SDL_QUIT: message->type = MessageType::Quit; break;
    case SDL_KEYDOWN:
    case SDL_KEYUP: {
        const bool down = event.type == SDL_KEYDOWN;
        const bool alt = (event.key.keysym.mod & KMOD_ALT) != 0;
        if (alt) {
            message->type = down ? MessageType::SysKeyDown : MessageType::SysKeyUp;
        } else {
            message->type = down ? MessageType::KeyDown : MessageType::KeyUp;
        }
        message->key = virtualKeyOf(event.key.keysym);
        break;
    }
    case SDL_WINDOWEVENT:
        switch (event.window.event) {
        case SDL_WINDOWEVENT_CLOSE: message->type = MessageType::Close; break;
        case SDL_WINDOWEVENT_EXPOSED:
        case SDL_WINDOWEVENT_SHOWN:
        case SDL_WINDOWEVENT_RESTORED:
        case SDL_WINDOWEVENT_SIZE_CHANGED: message->type = MessageType::Paint; break;
        default: break;
        }
        break;
    case SDL_SYSWMEVENT:
        if (isOurDestruction(event)) message->type = MessageType::Destroy;
        break;
    default: break;
    }
    return true;
}

} // namespace

bool platformDispatchMessage(bool* quit) {
    Message message;
    if (!nextMessage(&message)) return false;
    *quit = message.type == MessageType::Quit;
    // A quit request belongs to no window, so there is no one to dispatch it to.
    if (!*quit) windowProcedure(nullptr, message);
    return true;
}

void platformPostQuitMessage() {
    quitPosted = true;
}

bool platformWaitMessage(uint32_t timeoutMs) {
    if (eventHeld || quitPosted || connectionLost) return true;
    // On X11 this sleeps in poll() on the connection; SDL_PollEvent cannot wait.
    const int timeout = timeoutMs > 0x7FFFFFFFu ? 0x7FFFFFFF : static_cast<int>(timeoutMs);
    eventHeld = SDL_WaitEventTimeout(&heldEvent, timeout) == 1;
    return eventHeld;
}

bool platformDisplayLost() {
    return connectionLost;
}

// What Win32's default procedure does with the messages ours passes on: Alt+F4 asks to close,
// and a close request destroys the window, which tells the procedure.
int64_t platformDefaultWindowProcedure(void* window, const Message& message) {
    if (message.type == MessageType::SysKeyDown && message.key == VK_F4_CODE) {
        return platformDefaultWindowProcedure(window, {MessageType::Close, 0, nullptr});
    }
    if (message.type == MessageType::Close) {
        // The platform window itself goes in teardown, which the quit request leads to at once.
        return windowProcedure(window, {MessageType::Destroy, 0, nullptr});
    }
    return 0;
}

void* platformGetProcAddress(const char* name) {
    return SDL_GL_GetProcAddress(name);
}

bool platformSpeaksWgl() {
    return false;
}

const char* platformExtensionString() {
    if (driverIs("x11")) {
        SDL_Window* window = SDL_GL_GetCurrentWindow();
        SDL_SysWMinfo info;
        SDL_VERSION(&info.version);
        if (window == nullptr || SDL_GetWindowWMInfo(window, &info) != SDL_TRUE) return nullptr;
        using QueryExtensions = const char* (*)(Display*, int);
        auto query =
            reinterpret_cast<QueryExtensions>(SDL_GL_GetProcAddress("glXQueryExtensionsString"));
        if (query == nullptr) return nullptr;
        return query(info.info.x11.display, DefaultScreen(info.info.x11.display));
    }
    // The other drivers that carry GL here go through EGL.
    using GetDisplay = void* (*)();
    using QueryString = const char* (*)(void*, int32_t);
    auto getDisplay = reinterpret_cast<GetDisplay>(SDL_GL_GetProcAddress("eglGetCurrentDisplay"));
    auto queryString = reinterpret_cast<QueryString>(SDL_GL_GetProcAddress("eglQueryString"));
    if (getDisplay == nullptr || queryString == nullptr) return nullptr;
    void* eglDisplay = getDisplay();
    if (eglDisplay == nullptr) return nullptr;
    constexpr int32_t EGL_EXTENSIONS_NAME = 0x3055;
    return queryString(eglDisplay, EGL_EXTENSIONS_NAME);
}

const char* platformMultisampleChooserName() {
    return driverIs("x11") ? "glXChooseFBConfig" : "eglChooseConfig";
}

bool platformMessageBox(const char* text, const char* caption, bool warningIcon) {
    const Uint32 flags = warningIcon ? SDL_MESSAGEBOX_WARNING : 0;
    return SDL_ShowSimpleMessageBox(flags, caption, text, nullptr) == 0;
}

const char* platformName() {
    const char* name = SDL_GetCurrentVideoDriver();
    return name != nullptr ? name : "none";
}

} // namespace display
