// Threads and sleep on Windows: CreateThread at time-critical priority, Sleep.
#include "thread.h"

#include <windows.h>

namespace music {
namespace {

// The system calls this with a stack that a 32-bit build may only find 4-byte aligned; the
// mixer keeps 16-byte vectors on it.
__attribute__((force_align_arg_pointer)) DWORD WINAPI threadEntry(LPVOID routine) {
    return static_cast<DWORD>(reinterpret_cast<ThreadRoutine>(routine)());
}

} // namespace

bool startThread(ThreadHandle* thread, ThreadRoutine routine) {
    HANDLE handle =
        CreateThread(nullptr, 0, threadEntry, reinterpret_cast<LPVOID>(routine), 0, nullptr);
    *thread = handle;
    if (handle == nullptr) return false;
    SetThreadPriority(handle, THREAD_PRIORITY_TIME_CRITICAL);
    return true;
}

void joinThread(ThreadHandle thread) {
    WaitForSingleObject(static_cast<HANDLE>(thread), INFINITE);
    CloseHandle(static_cast<HANDLE>(thread));
}

void sleepMs(int32_t ms) {
    Sleep(static_cast<DWORD>(ms));
}

} // namespace music
