// A GL context without a window on any screen, drawing into a framebuffer of a chosen size: what
// the capture tool draws the show into. Built where the window system is SDL.
#pragma once

#include <cstdint>

namespace display {

struct Offscreen {
    void* window; // the hidden window the context belongs to
    void* context;
    uint32_t framebuffer;
    uint32_t colour; // its colour renderbuffer, RGBA8
};

// Brings the window system up on its offscreen driver, makes a context current, sets up the
// render state and the entry points as the window's context has them, and binds a framebuffer of
// width x height for drawing and reading back, the viewport covering all of it. The demo draws
// into a window of the screen's size with the default viewport, so this is the same picture at
// any size. Null when ready, else what is missing; closeOffscreen undoes what was made either way.
const char* openOffscreen(Offscreen* offscreen, int32_t width, int32_t height);
void closeOffscreen(Offscreen* offscreen);

} // namespace display
