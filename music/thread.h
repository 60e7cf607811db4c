// The render thread's platform calls: start a thread at the highest priority, join it, sleep.
#pragma once

#if !defined(_WIN32)
#include <pthread.h>
#endif

#include <cstdint>

namespace music {

#if defined(_WIN32)
using ThreadHandle = void*; // the HANDLE that CreateThread returned
#else
using ThreadHandle = pthread_t;
#endif

using ThreadRoutine = int32_t (*)(void* context);

// Runs routine(context) on a new thread with the default stack, at the highest priority the system
// grants (time-critical on Windows; SCHED_FIFO where the process may use it, else the default).
// False when no thread could be made.
bool startThread(ThreadHandle* thread, ThreadRoutine routine, void* context);
// Waits for the thread to end and releases its handle.
void joinThread(ThreadHandle thread);
void sleepMs(int32_t ms);

} // namespace music
