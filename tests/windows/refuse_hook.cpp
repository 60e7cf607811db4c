// Test DLL that makes the demo's window system refuse it, so that the fatal start-up paths can
// be seen under Wine: loaded into the demo before it starts, it takes the window class name
// first; installed as a CBT hook, it refuses to create windows of that class.
#include <windows.h>

#include <cstring>

namespace {

constexpr char demoClassName[] = "Dorn Rulez!";

LRESULT CALLBACK classOnlyProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

} // namespace

// WH_CBT: a non-zero answer to HCBT_CREATEWND makes CreateWindowEx fail.
extern "C" __declspec(dllexport) LRESULT CALLBACK
    refuseDemoWindow(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND) {
        char name[64] = {};
        GetClassNameA(reinterpret_cast<HWND>(wParam), name, sizeof name);
        if (std::strcmp(name, demoClassName) == 0) return 1;
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// In the demo's process, with the variable set by the launcher: the class name is taken under
// the executable's instance, which the demo's own registration falls back to.
BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    if (GetEnvironmentVariableA("REFUSE_HOOK_TAKE_CLASS", nullptr, 0) == 0) return TRUE;
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = classOnlyProcedure;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = demoClassName;
    RegisterClassExA(&windowClass);
    return TRUE;
}
