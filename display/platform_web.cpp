// The window-system seam in a web browser: the page's canvas with a WebGL context, the page's
// keys and the Fullscreen API, through emscripten's html5.h.
#include "platform.h"

#include "window.h"

#define GL_GLEXT_PROTOTYPES
#include <GL/gl.h>
#include <GL/glext.h>
#include <emscripten.h>
#include <emscripten/html5.h>

#include <cstring>

namespace display {
namespace {

constexpr char canvasTarget[] = "#canvas";

// The browser delivers events between frames; they wait here for the next drain.
constexpr int32_t queueCapacity = 64;
Message queue[queueCapacity];
int32_t queueHead;
int32_t queueCount;
bool quitPosted;
bool listening;
// The browser took the WebGL context away (too many contexts, a GPU reset); nothing draws now.
bool contextLost;

// What the pixel format asked for, kept until the context is made.
PixelFormatRequest requestedFormat;
// The window is the canvas; this is the non-null handle that stands for it.
int32_t canvasWindow;
bool windowOpen;

// The script inside is JavaScript, which the C++ formatter would break.
// clang-format off
EM_JS(void, setCanvasShown, (int shown), {
    var canvas = Module['canvas'];
    if (canvas) canvas.style.visibility = shown ? 'visible' : 'hidden';
});

EM_JS(void, setCursorShown, (int shown), {
    var canvas = Module['canvas'];
    if (canvas) canvas.style.cursor = shown ? "" : "none";
});

EM_JS(void, setPageTitle, (const char* title), { document.title = UTF8ToString(title); });

// Transient activation from the page's start click lasts a few seconds, long enough for the
// start-up that leads here.
EM_JS(void, requestCanvasFullscreen, (), {
    var canvas = Module['canvas'];
    if (!canvas || !canvas.requestFullscreen || document.fullscreenElement) return;
    canvas.requestFullscreen().catch(function() {});
});

EM_JS(void, leaveFullscreen, (), {
    if (document.fullscreenElement && document.exitFullscreen) {
        document.exitFullscreen().catch(function() {});
    }
});

EM_JS(int, screenPixels, (int wantHeight), {
    var ratio = window.devicePixelRatio || 1;
    return Math.round((wantHeight ? screen.height : screen.width) * ratio);
});

// The page presents the canvas once control returns to the browser: the frame loop gives it
// back here until the next animation frame.
EM_JS(void, waitForAnimationFrame, (), {
    Asyncify.handleSleep(function(wakeUp) { requestAnimationFrame(function() { wakeUp(); }); });
});

// Sleeps until the page hands over an event or ms have passed; the browser runs meanwhile. An
// event wakes the loop from a fresh task, never from inside the handler that delivered it.
EM_JS(void, waitForEventOrTimeout, (int ms), {
    Asyncify.handleSleep(function(wakeUp) {
        var woken = false;
        var timer = 0;
        var wake = function() {
            if (woken) return;
            woken = true;
            clearTimeout(timer);
            Module['beatWakeFrameLoop'] = null;
            wakeUp();
        };
        timer = setTimeout(wake, ms);
        Module['beatWakeFrameLoop'] = function() { setTimeout(wake, 0); };
    });
});

EM_JS(void, wakeFrameLoop, (), {
    var wake = Module['beatWakeFrameLoop'];
    if (wake) wake();
});

EM_JS(void, showPageMessage, (const char* text, const char* caption), {
    var show = Module['showMessage'];
    if (show) show(UTF8ToString(caption), UTF8ToString(text));
});
// clang-format on

void enqueue(MessageType type, uint32_t key) {
    // A full queue drops the newest: by then the frame loop has stopped draining anyway.
    if (queueCount == queueCapacity) return;
    queue[(queueHead + queueCount) % queueCapacity] = {type, key, nullptr};
    ++queueCount;
    wakeFrameLoop();
}

// The DOM's keyCode numbers the keys as Windows' virtual-key codes do (27 Escape, 'A'..'Z',
// 0x73 F4); keys it has no number for get a code past the table.
uint32_t virtualKeyOf(const EmscriptenKeyboardEvent* event) {
    const auto code = static_cast<uint32_t>(event->keyCode);
    return code != 0 && code < 256 ? code : 256u + code;
}

EM_BOOL onKey(int eventType, const EmscriptenKeyboardEvent* event, void* /*userData*/) {
    const bool down = eventType == EMSCRIPTEN_EVENT_KEYDOWN;
    MessageType type = down ? MessageType::KeyDown : MessageType::KeyUp;
    if (event->altKey) type = down ? MessageType::SysKeyDown : MessageType::SysKeyUp;
    enqueue(type, virtualKeyOf(event));
    return EM_FALSE; // the page keeps its own handling of the key
}

// The browser takes Escape for itself while the page is fullscreen and leaves fullscreen
// instead; the page then sees the change, not the key. Losing the screen ends the show as the
// window closing would.
EM_BOOL onFullscreenChange(int /*eventType*/, const EmscriptenFullscreenChangeEvent* event,
                           void* /*userData*/) {
    if (!event->isFullscreen && windowOpen) enqueue(MessageType::Close, 0);
    return EM_FALSE;
}

EM_BOOL onContextLost(int /*eventType*/, const void* /*reserved*/, void* /*userData*/) {
    contextLost = true;
    enqueue(MessageType::Other, 0);
    return EM_TRUE;
}

void listen(bool on) {
    if (on == listening) return;
    listening = on;
    const auto window = EMSCRIPTEN_EVENT_TARGET_WINDOW;
    const auto document = EMSCRIPTEN_EVENT_TARGET_DOCUMENT;
    emscripten_set_keydown_callback(window, nullptr, EM_FALSE, on ? onKey : nullptr);
    emscripten_set_keyup_callback(window, nullptr, EM_FALSE, on ? onKey : nullptr);
    emscripten_set_fullscreenchange_callback(document, nullptr, EM_FALSE,
                                             on ? onFullscreenChange : nullptr);
    emscripten_set_webglcontextlost_callback(canvasTarget, nullptr, EM_FALSE,
                                             on ? onContextLost : nullptr);
}

// The two shader-object queries of the ARB extension, on WebGL's split shader and program
// calls. Shader and program names come from one counter here, so a name tells which it is.
void APIENTRY getObjectParameteriv(GLhandleARB object, GLenum name, GLint* value) {
    if (glIsShader(object)) {
        glGetShaderiv(object, name, value);
    } else {
        glGetProgramiv(object, name, value);
    }
}

void APIENTRY getInfoLog(GLhandleARB object, GLsizei capacity, GLsizei* length, GLchar* log) {
    if (glIsShader(object)) {
        glGetShaderInfoLog(object, capacity, length, log);
    } else {
        glGetProgramInfoLog(object, capacity, length, log);
    }
}

struct NamedProc {
    const char* name;
    void* address;
};

template <typename Function> void* address(Function function) {
    return reinterpret_cast<void*>(function);
}

// What WebGL offers of the names the display asks for; anything else it lacks.
const NamedProc procTable[] = {
    {"glCreateProgram", address(glCreateProgram)},
    {"glCreateShader", address(glCreateShader)},
    {"glShaderSource", address(glShaderSource)},
    {"glCompileShader", address(glCompileShader)},
    {"glAttachShader", address(glAttachShader)},
    {"glLinkProgram", address(glLinkProgram)},
    {"glUseProgram", address(glUseProgram)},
    {"glUniform4fv", address(glUniform4fv)},
    {"glUniform1i", address(glUniform1i)},
    {"glGetUniformLocation", address(glGetUniformLocation)},
    {"glGetObjectParameterivARB", address(getObjectParameteriv)},
    {"glGetInfoLogARB", address(getInfoLog)},
    {"glGetAttribLocation", address(glGetAttribLocation)},
    {"glUniform1f", address(glUniform1f)},
    {"glUniform2f", address(glUniform2f)},
    {"glUniform3f", address(glUniform3f)},
    {"glUniform4f", address(glUniform4f)},
    {"glUniformMatrix3fv", address(glUniformMatrix3fv)},
    {"glUniformMatrix4fv", address(glUniformMatrix4fv)},
    {"glActiveTextureARB", address(glActiveTexture)},
};

} // namespace

bool platformStart() {
    int width = 0;
    int height = 0;
    // A page without the canvas has nowhere to show the demo.
    if (emscripten_get_canvas_element_size(canvasTarget, &width, &height) !=
        EMSCRIPTEN_RESULT_SUCCESS) {
        return false;
    }
    queueHead = 0;
    queueCount = 0;
    quitPosted = false;
    listen(true);
    return true;
}

bool platformHasScreen() {
    return true;
}

void platformStop() {
    listen(false);
}

void platformScreenSize(int32_t* width, int32_t* height) {
    *width = screenPixels(0);
    *height = screenPixels(1);
}

// The browser has no display modes: the canvas gets the screen's size in pixels and the page
// asks for fullscreen. A browser that refuses still shows the canvas, stretched over the page.
bool platformEnterFullscreenMode(int32_t width, int32_t height) {
    if (width <= 0 || height <= 0) return false;
    requestCanvasFullscreen();
    return true;
}

void platformRestoreDisplayMode() {
    leaveFullscreen();
}

void platformShowCursor(bool shown) {
    setCursorShown(shown ? 1 : 0);
}

void* platformCreateWindow(const char* title, int32_t width, int32_t height,
                           const PixelFormatRequest& format) {
    if (emscripten_set_canvas_element_size(canvasTarget, width, height) !=
        EMSCRIPTEN_RESULT_SUCCESS) {
        return nullptr;
    }
    setPageTitle(title);
    setCanvasShown(0);
    requestedFormat = format;
    windowOpen = true;
    return &canvasWindow;
}

void platformDestroyWindow(void* /*window*/) {
    windowOpen = false;
    setCanvasShown(0);
}

void platformClientSize(void* /*window*/, int32_t* width, int32_t* height) {
    int w = 0;
    int h = 0;
    emscripten_get_canvas_element_size(canvasTarget, &w, &h);
    *width = w;
    *height = h;
}

void platformShowWindow(void* /*window*/, bool shown) {
    setCanvasShown(shown ? 1 : 0);
}

// The canvas is drawn and presented through itself.
void* platformDeviceContext(void* window) {
    return window;
}

void platformReleaseDeviceContext(void*, void*) {}

// WebGL 1, whose shading language is GLSL ES 1.00. The pixel format becomes the context's
// attributes; multisampling was never asked for.
void* platformCreateContext(void* /*deviceContext*/) {
    EmscriptenWebGLContextAttributes attributes;
    emscripten_webgl_init_context_attributes(&attributes);
    attributes.alpha = requestedFormat.alphaBits > 0 ? EM_TRUE : EM_FALSE;
    attributes.depth = requestedFormat.depthBits > 0 ? EM_TRUE : EM_FALSE;
    attributes.stencil = requestedFormat.stencilBits > 0 ? EM_TRUE : EM_FALSE;
    attributes.antialias = EM_FALSE;
    attributes.premultipliedAlpha = EM_FALSE;
    attributes.majorVersion = 1;
    attributes.minorVersion = 0;
    const EMSCRIPTEN_WEBGL_CONTEXT_HANDLE context =
        emscripten_webgl_create_context(canvasTarget, &attributes);
    return context > 0 ? reinterpret_cast<void*>(context) : nullptr;
}

bool platformMakeCurrent(void* /*window*/, void* context) {
    const auto handle = reinterpret_cast<EMSCRIPTEN_WEBGL_CONTEXT_HANDLE>(context);
    return emscripten_webgl_make_context_current(handle) == EMSCRIPTEN_RESULT_SUCCESS;
}

void platformDeleteContext(void* context) {
    emscripten_webgl_destroy_context(reinterpret_cast<EMSCRIPTEN_WEBGL_CONTEXT_HANDLE>(context));
}

void platformSwapBuffers(void* /*window*/) {
    waitForAnimationFrame();
}

// A posted quit request is a flag, handed out once the queue is empty, as the Win32 queue does.
bool platformDispatchMessage(bool* quit) {
    Message message;
    if (queueCount > 0) {
        message = queue[queueHead];
        queueHead = (queueHead + 1) % queueCapacity;
        --queueCount;
    } else if (quitPosted) {
        quitPosted = false;
        message = {MessageType::Quit, 0, nullptr};
    } else {
        return false;
    }
    *quit = message.type == MessageType::Quit;
    if (!*quit) windowProcedure(nullptr, message);
    return true;
}

void platformPostQuitMessage() {
    quitPosted = true;
}

// requestAnimationFrame already presents once per display refresh.
bool platformSetSwapInterval(int32_t /*interval*/) {
    return true;
}

bool platformWaitMessage(uint32_t timeoutMs) {
    if (queueCount > 0 || quitPosted) return true;
    constexpr uint32_t longest = 0x7FFFFFFFu;
    waitForEventOrTimeout(static_cast<int>(timeoutMs > longest ? longest : timeoutMs));
    return queueCount > 0 || quitPosted;
}

bool platformDisplayLost() {
    return contextLost;
}

// What Win32's default procedure does with the messages ours passes on: Alt+F4 asks to close,
// and a close request destroys the window, which tells the procedure.
int64_t platformDefaultWindowProcedure(void* window, const Message& message) {
    if (message.type == MessageType::SysKeyDown && message.key == VK_F4_CODE) {
        return platformDefaultWindowProcedure(window, {MessageType::Close, 0, nullptr});
    }
    if (message.type == MessageType::Close) {
        return windowProcedure(window, {MessageType::Destroy, 0, nullptr});
    }
    return 0;
}

void* platformGetProcAddress(const char* name) {
    for (const NamedProc& entry : procTable) {
        if (std::strcmp(entry.name, name) == 0) return entry.address;
    }
    return nullptr;
}

// Answers as WGL does: the lookup above is exact, null for every function WebGL lacks, so the
// context's version string (WebGL's names no desktop version) is not consulted.
bool platformSpeaksWgl() {
    return true;
}

// WebGL has no window-system extension list; the probe reads GL's.
const char* platformExtensionString() {
    return nullptr;
}

// None: WebGL takes multisampling as a context attribute, so the probe finds no chooser.
const char* platformMultisampleChooserName() {
    return "";
}

// The page shows the text where its status line is; nothing blocks.
bool platformMessageBox(const char* text, const char* caption, bool /*warningIcon*/) {
    showPageMessage(text, caption);
    return true;
}

const char* platformName() {
    return "web";
}

} // namespace display
