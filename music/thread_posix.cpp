// Threads and sleep on POSIX: pthreads, SCHED_FIFO when granted, nanosleep.
#include "thread.h"

#include <sched.h>

#include <ctime>

namespace music {
namespace {

void* threadEntry(void* routine) {
    reinterpret_cast<ThreadRoutine>(routine)();
    return nullptr;
}

// Without the right to real-time scheduling the thread keeps the default priority, which still
// works with a 2 s buffer.
void raisePriority(pthread_t thread) {
    sched_param param{};
    param.sched_priority = sched_get_priority_max(SCHED_FIFO);
    if (param.sched_priority >= 0) pthread_setschedparam(thread, SCHED_FIFO, &param);
}

} // namespace

bool startThread(ThreadHandle* thread, ThreadRoutine routine) {
    if (pthread_create(thread, nullptr, threadEntry, reinterpret_cast<void*>(routine)) != 0) {
        return false;
    }
    raisePriority(*thread);
    return true;
}

void joinThread(ThreadHandle thread) {
    pthread_join(thread, nullptr);
}

void sleepMs(int32_t ms) {
    timespec t{};
    t.tv_sec = ms / 1000;
    t.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
    while (nanosleep(&t, &t) != 0) {
    }
}

} // namespace music
