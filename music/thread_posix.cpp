// Threads and sleep on POSIX: pthreads, SCHED_FIFO when granted, nanosleep.
#include "thread.h"

#include <sched.h>

#include <ctime>
#include <new>

namespace music {
namespace {

struct ThreadStart {
    ThreadRoutine routine;
    void* context;
};

void* threadEntry(void* start) {
    const ThreadStart s = *static_cast<ThreadStart*>(start);
    delete static_cast<ThreadStart*>(start);
    s.routine(s.context);
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

bool startThread(ThreadHandle* thread, ThreadRoutine routine, void* context) {
    auto* start = new (std::nothrow) ThreadStart{routine, context};
    if (start == nullptr) return false;
    if (pthread_create(thread, nullptr, threadEntry, start) != 0) {
        delete start;
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
