// Test helper: asks an X11 window to close the way a window manager does (WM_DELETE_WINDOW), or
// with --destroy destroys it from outside, or with --kill closes its owner's connection (xkill).
#include <X11/Xlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
    const bool destroy = argc == 3 && std::strcmp(argv[1], "--destroy") == 0;
    const bool kill = argc == 3 && std::strcmp(argv[1], "--kill") == 0;
    if (argc != 2 && !destroy && !kill) {
        std::fprintf(stderr, "usage: close_window [--destroy | --kill] WINDOW_ID\n");
        return 2;
    }
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "close_window: cannot open display\n");
        return 1;
    }
    const Window window = static_cast<Window>(std::strtoul(argv[argc - 1], nullptr, 0));
    Status sent = 1;
    if (destroy) {
        XDestroyWindow(display, window);
    } else if (kill) {
        XKillClient(display, window);
    } else {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
        event.xclient.format = 32;
        event.xclient.data.l[0] =
            static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
        event.xclient.data.l[1] = CurrentTime;
        sent = XSendEvent(display, window, False, NoEventMask, &event);
    }
    XSync(display, False);
    XCloseDisplay(display);
    return sent != 0 ? 0 : 1;
}
