// The window-system seam on Win32, GDI and WGL: every Windows call of the display lives here.
#include "platform.h"

#include "window.h"

#include <windows.h>

#include <mmsystem.h>

#include <GL/gl.h>

#include <cstdint>

namespace display {
namespace {

static_assert(sizeof(PIXELFORMATDESCRIPTOR) == 40);
static_assert(sizeof(DEVMODEA) == 156);
#if defined(_M_IX86) || defined(__i386__)
static_assert(sizeof(WNDCLASSEXA) == 48);
#endif
static_assert((CS_HREDRAW | CS_VREDRAW | CS_OWNDC) == 0x23);
static_assert((WS_EX_APPWINDOW | WS_EX_WINDOWEDGE) == 0x40100);
static_assert((WS_POPUP | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN) == 0x96000000);
static_assert((DM_BITSPERPEL | DM_PELSWIDTH | DM_PELSHEIGHT) == 0x1C0000);
static_assert(VK_ESCAPE == VK_ESCAPE_CODE && VK_F4 == VK_F4_CODE);

constexpr int32_t fullscreenBitsPerPixel = 32;
// COLOR_INACTIVEBORDER + 1: the class brush is a system colour index plus one.
constexpr intptr_t classBackgroundBrush = 12;

struct NativeMessage {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

MessageType messageTypeOf(UINT message) {
    switch (message) {
    case WM_KEYDOWN: return MessageType::KeyDown;
    case WM_KEYUP: return MessageType::KeyUp;
    case WM_SYSKEYDOWN: return MessageType::SysKeyDown;
    case WM_SYSKEYUP: return MessageType::SysKeyUp;
    case WM_CLOSE: return MessageType::Close;
    case WM_DESTROY: return MessageType::Destroy;
    case WM_QUIT: return MessageType::Quit;
    case WM_PAINT: return MessageType::Paint;
    default: return MessageType::Other;
    }
}

// The class's procedure: our own procedure sees the message in its portable form and passes
// what it does not answer back to DefWindowProcA with the original parameters. Called by the
// system, whose 32-bit stack may be aligned to 4 bytes only.
__attribute__((force_align_arg_pointer)) LRESULT CALLBACK nativeWindowProcedure(HWND hwnd,
                                                                                UINT message,
                                                                                WPARAM wParam,
                                                                                LPARAM lParam) {
    const NativeMessage native = {message, wParam, lParam};
    // A key code too large for 32 bits stays past the key table rather than wrapping into it.
    const uint32_t key = wParam > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(wParam);
    return static_cast<LRESULT>(windowProcedure(hwnd, {messageTypeOf(message), key, &native}));
}

// The fixed descriptor as the platform's record, used unchanged for choosing and setting.
PIXELFORMATDESCRIPTOR nativeDescriptor() {
    const PixelFormatDescriptor& d = pixelFormatDescriptor;
    PIXELFORMATDESCRIPTOR pfd{};
    pfd.nSize = d.nSize;
    pfd.nVersion = d.nVersion;
    pfd.dwFlags = d.dwFlags;
    pfd.iPixelType = d.iPixelType;
    pfd.cColorBits = d.cColorBits;
    pfd.cAlphaBits = d.cAlphaBits;
    pfd.cAccumBits = d.cAccumBits;
    pfd.cDepthBits = d.cDepthBits;
    pfd.cStencilBits = d.cStencilBits;
    pfd.cAuxBuffers = d.cAuxBuffers;
    pfd.iLayerType = d.iLayerType;
    return pfd;
}

const PIXELFORMATDESCRIPTOR pixelFormat = nativeDescriptor();

} // namespace

bool platformStart() {
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_HREDRAW | CS_VREDRAW | CS_OWNDC;
    windowClass.lpfnWndProc = nativeWindowProcedure;
    windowClass.cbClsExtra = 0;
    windowClass.cbWndExtra = 0;
    windowClass.hInstance = nullptr;
    windowClass.hIcon = nullptr;
    windowClass.hIconSm = nullptr;
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(classBackgroundBrush);
    windowClass.lpszMenuName = nullptr;
    windowClass.lpszClassName = windowClassName;
    if (RegisterClassExA(&windowClass) == 0) return false;
    // The frame loop sleeps a few milliseconds at a time between clock steps; the default
    // 15.6 ms tick would round each such wait up to nearly a whole step.
    timeBeginPeriod(1);
    return true;
}

// The class stays registered until the process ends, as nothing registers it twice.
// Registering the class is all it takes to reach the desktop here; there is no stand-in driver.
bool platformHasScreen() {
    return true;
}

void platformStop() {
    timeEndPeriod(1);
}

void platformScreenSize(int32_t* width, int32_t* height) {
    *width = GetSystemMetrics(SM_CXSCREEN);
    *height = GetSystemMetrics(SM_CYSCREEN);
}

bool platformEnterFullscreenMode(int32_t width, int32_t height) {
    DEVMODEA mode{};
    mode.dmSize = sizeof mode;
    mode.dmFields = DM_BITSPERPEL | DM_PELSWIDTH | DM_PELSHEIGHT;
    mode.dmBitsPerPel = fullscreenBitsPerPixel;
    mode.dmPelsWidth = static_cast<DWORD>(width);
    mode.dmPelsHeight = static_cast<DWORD>(height);
    return ChangeDisplaySettingsA(&mode, CDS_FULLSCREEN) == DISP_CHANGE_SUCCESSFUL;
}

void platformRestoreDisplayMode() {
    ChangeDisplaySettingsA(nullptr, 0);
}

void platformShowCursor(bool shown) {
    ShowCursor(shown ? TRUE : FALSE);
}

// The pixel format belongs to the device context and is set when the context is created.
void* platformCreateWindow(const char* title, int32_t width, int32_t height,
                           const PixelFormatRequest&) {
    return CreateWindowExA(WS_EX_APPWINDOW | WS_EX_WINDOWEDGE, windowClassName, title,
                           WS_POPUP | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, 0, 0, width,
                           height, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
}

void platformDestroyWindow(void* window) {
    DestroyWindow(static_cast<HWND>(window));
}

void platformClientSize(void* window, int32_t* width, int32_t* height) {
    RECT client{};
    GetClientRect(static_cast<HWND>(window), &client);
    *height = client.bottom;
    *width = client.right;
}

void platformShowWindow(void* window, bool shown) {
    ShowWindow(static_cast<HWND>(window), shown ? SW_SHOWDEFAULT : SW_HIDE);
    UpdateWindow(static_cast<HWND>(window));
}

void* platformDeviceContext(void* window) {
    return GetDC(static_cast<HWND>(window));
}

void platformReleaseDeviceContext(void* window, void* deviceContext) {
    ReleaseDC(static_cast<HWND>(window), static_cast<HDC>(deviceContext));
}

void* platformCreateContext(void* deviceContext) {
    HDC hdc = static_cast<HDC>(deviceContext);
    const int format = ChoosePixelFormat(hdc, &pixelFormat);
    if (format == 0) return nullptr;
    if (!SetPixelFormat(hdc, format, &pixelFormat)) return nullptr;
    return wglCreateContext(hdc);
}

bool platformMakeCurrent(void* deviceContext, void* context) {
    return wglMakeCurrent(static_cast<HDC>(deviceContext), static_cast<HGLRC>(context)) != FALSE;
}

void platformDeleteContext(void* context) {
    wglDeleteContext(static_cast<HGLRC>(context));
}

void platformSwapBuffers(void* deviceContext) {
    SwapBuffers(static_cast<HDC>(deviceContext));
}

bool platformSetSwapInterval(int32_t interval) {
    using SwapInterval = BOOL(WINAPI*)(int);
    const auto setInterval = reinterpret_cast<SwapInterval>(
        reinterpret_cast<void (*)()>(wglGetProcAddress("wglSwapIntervalEXT")));
    return setInterval != nullptr && setInterval(interval) != FALSE;
}

bool platformDispatchMessage(bool* quit) {
    MSG message;
    if (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE) == 0) return false;
    TranslateMessage(&message);
    DispatchMessageA(&message);
    *quit = message.message == WM_QUIT;
    return true;
}

void platformPostQuitMessage() {
    PostQuitMessage(0);
}

bool platformWaitMessage(uint32_t timeoutMs) {
    return MsgWaitForMultipleObjects(0, nullptr, FALSE, timeoutMs, QS_ALLINPUT) == WAIT_OBJECT_0;
}

// The desktop belongs to the same system as the process; it does not go away under it.
bool platformDisplayLost() {
    return false;
}

int64_t platformDefaultWindowProcedure(void* window, const Message& message) {
    const auto* native = static_cast<const NativeMessage*>(message.native);
    // Only messages that came through the class's procedure can be passed on.
    if (native == nullptr) return 0;
    return DefWindowProcA(static_cast<HWND>(window), native->message, native->wParam,
                          native->lParam);
}

void* platformGetProcAddress(const char* name) {
    return reinterpret_cast<void*>(wglGetProcAddress(name));
}

bool platformSpeaksWgl() {
    return true;
}

const char* platformExtensionString() {
    using GetExtensionsString = const char*(WINAPI*)(HDC);
    // Through the generic function type: PROC's own signature is not the function's.
    const auto getExtensions = reinterpret_cast<GetExtensionsString>(
        reinterpret_cast<void (*)()>(wglGetProcAddress("wglGetExtensionsStringARB")));
    if (getExtensions == nullptr) return nullptr;
    return getExtensions(wglGetCurrentDC());
}

const char* platformMultisampleChooserName() {
    return "wglChoosePixelFormatARB";
}

bool platformMessageBox(const char* text, const char* caption, bool warningIcon) {
    return MessageBoxA(nullptr, text, caption, warningIcon ? MB_ICONWARNING : MB_OK) != 0;
}

const char* platformName() {
    return "win32";
}

} // namespace display
