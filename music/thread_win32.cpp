// Threads and sleep on Windows: CreateThread at time-critical priority, Sleep.
#include "thread.h"

#include <windows.h>

#include <new>

namespace music {
namespace {

// The system calls this with a stack that a 32-bit build may only find 4-byte aligned; the
// mixer keeps 16-byte vectors on it.
struct ThreadStart {
    ThreadRoutine routine;
    void* context;
};

__attribute__((force_align_arg_pointer)) DWORD WINAPI threadEntry(LPVOID start) {
    const ThreadStart s = *static_cast<ThreadStart*>(start);
    delete static_cast<ThreadStart*>(start);
    return static_cast<DWORD>(s.routine(s.context));
}

} // namespace

bool startThread(ThreadHandle* thread, ThreadRoutine routine, void* context) {
    auto* start = new (std::nothrow) ThreadStart{routine, context};
    HANDLE handle =
        start != nullptr ? CreateThread(nullptr, 0, threadEntry, start, 0, nullptr) : nullptr;
    *thread = handle;
    if (handle == nullptr) {
        delete start;
        return false;
    }
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
