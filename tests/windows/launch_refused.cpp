// Test launcher: starts the demo with its window system refusing it, waits for it to end and
// prints its exit code as Windows reports it, which it also returns.
//   launch_refused class DEMO   the window class is taken before the demo registers it
//   launch_refused window DEMO  a CBT hook refuses the demo's window
// refuse_hook.dll sits beside the launcher.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

std::string hookPath() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder = path;
    folder.erase(folder.find_last_of("\\/") + 1);
    return folder + "refuse_hook.dll";
}

// Loads the DLL into the suspended process on a thread of its own, before the demo's code runs.
bool injectLibrary(HANDLE process, const std::string& dll) {
    const size_t bytes = dll.size() + 1;
    void* remote = VirtualAllocEx(process, nullptr, bytes, MEM_COMMIT, PAGE_READWRITE);
    if (remote == nullptr || !WriteProcessMemory(process, remote, dll.c_str(), bytes, nullptr)) {
        return false;
    }
    auto* loadLibrary = reinterpret_cast<LPTHREAD_START_ROUTINE>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "LoadLibraryA")));
    HANDLE thread = CreateRemoteThread(process, nullptr, 0, loadLibrary, remote, 0, nullptr);
    if (thread == nullptr) return false;
    WaitForSingleObject(thread, INFINITE);
    DWORD loaded = 0;
    GetExitCodeThread(thread, &loaded);
    CloseHandle(thread);
    return loaded != 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3 || (std::strcmp(argv[1], "class") != 0 && std::strcmp(argv[1], "window") != 0)) {
        std::fprintf(stderr, "usage: launch_refused class|window DEMO\n");
        return 2;
    }
    const bool takeClass = std::strcmp(argv[1], "class") == 0;
    const std::string dll = hookPath();
    HMODULE hookModule = LoadLibraryA(dll.c_str());
    if (hookModule == nullptr) {
        std::fprintf(stderr, "launch_refused: cannot load %s\n", dll.c_str());
        return 2;
    }
    HHOOK hook = nullptr;
    if (!takeClass) {
        auto* procedure = reinterpret_cast<HOOKPROC>(
            reinterpret_cast<void (*)()>(GetProcAddress(hookModule, "refuseDemoWindow")));
        hook = SetWindowsHookExA(WH_CBT, procedure, hookModule, 0);
        if (hook == nullptr) {
            std::fprintf(stderr, "launch_refused: no CBT hook\n");
            return 2;
        }
    } else {
        SetEnvironmentVariableA("REFUSE_HOOK_TAKE_CLASS", "1");
    }

    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    std::string commandLine = std::string("\"") + argv[2] + "\"";
    if (!CreateProcessA(argv[2], commandLine.data(), nullptr, nullptr, FALSE,
                        takeClass ? CREATE_SUSPENDED : 0, nullptr, nullptr, &startup, &process)) {
        std::fprintf(stderr, "launch_refused: cannot start %s\n", argv[2]);
        return 2;
    }
    if (takeClass) {
        if (!injectLibrary(process.hProcess, dll)) {
            std::fprintf(stderr, "launch_refused: cannot load the hook into the demo\n");
            TerminateProcess(process.hProcess, 2);
            return 2;
        }
        ResumeThread(process.hThread);
    }
    // A global hook is called through the installing thread's queue in some systems; keep it
    // served while the demo runs.
    for (;;) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
        if (WaitForSingleObject(process.hProcess, 20) == WAIT_OBJECT_0) break;
    }
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    if (hook != nullptr) UnhookWindowsHookEx(hook);
    std::printf("exit %lu\n", static_cast<unsigned long>(code));
    return static_cast<int>(code);
}
