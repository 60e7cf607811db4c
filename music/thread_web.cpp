// Threads and sleep in a web browser without shared memory: one thread of execution, so a
// started thread runs in passes from a browser timer.
//
// A pass enters the routine from its start and ends at the routine's first sleep, which returns
// to the timer instead of blocking the page; the next pass, a sleep's length later, enters it
// from the start again. That suits a routine that polls in a loop and keeps everything it
// carries from one round to the next outside its stack, as the render thread does. A sleep on
// the page's own thread runs one pass in its place, so a wait for the thread to see a stop
// request ends. The routine returning ends the thread.
#include "thread.h"

#include <emscripten.h>

#include <csetjmp>

namespace music {
namespace {

// The page has one thread of execution, so there is one routine running in passes for the
// whole process (the render thread of the one device playback).
ThreadRoutine runningRoutine;
void* runningContext;
bool inPass;
std::jmp_buf passEnd;
int32_t pauseMs; // what the sleep that ended the pass asked for

// The script inside is JavaScript, which the C++ formatter would break.
// clang-format off
EM_JS(void, schedulePass, (int ms), {
    setTimeout(function() { Module['_musicThreadPass'](); }, ms);
});
// clang-format on

} // namespace

// Called by the timer; runs one pass and books the next.
extern "C" EMSCRIPTEN_KEEPALIVE void musicThreadPass() {
    if (runningRoutine == nullptr || inPass) return;
    inPass = true;
    // setjmp's second return comes from sleepMs below, through no frame with a destructor.
    if (setjmp(passEnd) == 0) {
        runningRoutine(runningContext);
        runningRoutine = nullptr;
    }
    inPass = false;
    if (runningRoutine != nullptr) schedulePass(pauseMs);
}

bool startThread(ThreadHandle* thread, ThreadRoutine routine, void* context) {
    if (runningRoutine != nullptr) return false;
    runningRoutine = routine;
    runningContext = context;
    *thread = 1;
    schedulePass(0);
    return true;
}

// Nothing to wait for: the thread has ended when its routine returned.
void joinThread(ThreadHandle /*thread*/) {}

void sleepMs(int32_t ms) {
    if (inPass) {
        pauseMs = ms > 0 ? ms : 0;
        std::longjmp(passEnd, 1);
    }
    musicThreadPass();
}

} // namespace music
