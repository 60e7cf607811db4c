// Test helper run beside the demo in the same Wine prefix: finds the demo's window by its class
// and prints its rectangle and styles. Exit 0 when found, 1 when not (after waiting up to the
// number of milliseconds given as the first argument, default 0).
#include <windows.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    const long waitMs = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 0;
    constexpr long pollMs = 100;
    HWND window = nullptr;
    for (long waited = 0;; waited += pollMs) {
        window = FindWindowA("Dorn Rulez!", nullptr);
        if (window != nullptr || waited >= waitMs) break;
        Sleep(pollMs);
    }
    if (window == nullptr) {
        std::printf("window none\n");
        return 1;
    }
    RECT rect{};
    GetWindowRect(window, &rect);
    const auto style = static_cast<unsigned long>(GetWindowLongA(window, GWL_STYLE));
    const auto exStyle = static_cast<unsigned long>(GetWindowLongA(window, GWL_EXSTYLE));
    char title[512] = {};
    GetWindowTextA(window, title, sizeof title);
    std::printf("window rect %ld %ld %ld %ld style 0x%08lx exstyle 0x%08lx screen %d %d\n",
                static_cast<long>(rect.left), static_cast<long>(rect.top),
                static_cast<long>(rect.right), static_cast<long>(rect.bottom), style, exStyle,
                GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
    std::printf("title %s\n", title);
    return 0;
}
