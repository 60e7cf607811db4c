// The offscreen context: the platform's offscreen driver, a hidden window's context and a
// framebuffer object of the picture's size.
#include "offscreen.h"

#include "entry_points.h"
#include "platform.h"
#include "window.h"

namespace display {

const char* openOffscreen(Offscreen* o, int32_t width, int32_t height) {
    *o = Offscreen{};
    if (!platformStartOffscreen()) return "the offscreen video driver cannot start";
    const PixelFormatDescriptor& d = pixelFormatDescriptor;
    o->window = platformCreateWindow(
        "capture", 64, 64, {d.cColorBits, d.cAlphaBits, d.cDepthBits, d.cStencilBits, true});
    if (o->window == nullptr) return "no offscreen window";
    o->context = platformCreateContext(o->window);
    if (o->context == nullptr || !platformMakeCurrent(o->window, o->context)) {
        return "no OpenGL context";
    }
    initialiseRenderState(width, height);
    if (const char* missing = firstMissingEntryPoint(); missing != nullptr) return missing;
    const auto* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
    const auto* extensions =
        version != nullptr ? reinterpret_cast<const char*>(glGetString(GL_EXTENSIONS)) : nullptr;
    if (fetchOffscreenEntryPoints(platformGetProcAddress,
                                  {version, extensions, platformSpeaksWgl()}) != nullptr) {
        return "framebuffer objects";
    }
    GLint largest = 0;
    glGetIntegerv(GL_MAX_RENDERBUFFER_SIZE, &largest);
    if (width > largest || height > largest) return "a framebuffer of that size";
    GLuint colour = 0;
    offscreenEntry<OFFSCREEN_SLOT_GEN_RENDERBUFFERS>()(1, &colour);
    o->colour = colour;
    offscreenEntry<OFFSCREEN_SLOT_BIND_RENDERBUFFER>()(GL_RENDERBUFFER, colour);
    offscreenEntry<OFFSCREEN_SLOT_RENDERBUFFER_STORAGE>()(GL_RENDERBUFFER, GL_RGBA8, width, height);
    GLuint framebuffer = 0;
    offscreenEntry<OFFSCREEN_SLOT_GEN_FRAMEBUFFERS>()(1, &framebuffer);
    o->framebuffer = framebuffer;
    offscreenEntry<OFFSCREEN_SLOT_BIND_FRAMEBUFFER>()(GL_FRAMEBUFFER, framebuffer);
    offscreenEntry<OFFSCREEN_SLOT_FRAMEBUFFER_RENDERBUFFER>()(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0,
                                                              GL_RENDERBUFFER, colour);
    if (offscreenEntry<OFFSCREEN_SLOT_CHECK_FRAMEBUFFER_STATUS>()(GL_FRAMEBUFFER) !=
        GL_FRAMEBUFFER_COMPLETE) {
        return "a complete framebuffer";
    }
    glViewport(0, 0, width, height);
    glReadBuffer(GL_COLOR_ATTACHMENT0);
    return nullptr;
}

void closeOffscreen(Offscreen* o) {
    if (o->framebuffer != 0) {
        offscreenEntry<OFFSCREEN_SLOT_BIND_FRAMEBUFFER>()(GL_FRAMEBUFFER, 0);
        GLuint framebuffer = o->framebuffer;
        offscreenEntry<OFFSCREEN_SLOT_DELETE_FRAMEBUFFERS>()(1, &framebuffer);
    }
    if (o->colour != 0) {
        GLuint colour = o->colour;
        offscreenEntry<OFFSCREEN_SLOT_DELETE_RENDERBUFFERS>()(1, &colour);
    }
    if (o->context != nullptr) {
        platformMakeCurrent(o->window, nullptr);
        platformDeleteContext(o->context);
    }
    if (o->window != nullptr) platformDestroyWindow(o->window);
    platformStop();
    *o = Offscreen{};
}

} // namespace display
