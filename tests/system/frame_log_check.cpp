// Checks a probe's frame log (DEMO_FRAME_LOG) against the timeline: frame_log_check LOG
// Every presented frame must be the one prescribed for its clock, and the frames must be exactly
// the changes that a loop presenting at every look would have shown: the same clocks, slots and
// flashes, each beat's flash first shown at the first clock read at or after its start.
#include "driver/timeline.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

struct Entry {
    bool frame;
    uint32_t clockMs;
    int32_t slot;
    float flash;
};

struct Shown {
    uint32_t clockMs;
    int32_t slot;
    float flash;
};

bool samePicture(int32_t slotA, float flashA, int32_t slotB, float flashB) {
    return slotA == slotB && std::fmin(flashA, 1.0f) == std::fmin(flashB, 1.0f);
}

uint32_t firstClockOfBeat(int32_t beat) {
    uint32_t clock = static_cast<uint32_t>(beat * driver::beatLengthMs);
    while (clock > 0 && driver::beatFrameAt(clock - 1).beat >= beat) --clock;
    while (driver::beatFrameAt(clock).beat < beat) ++clock;
    return clock;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: frame_log_check LOG\n", stderr);
        return 2;
    }
    FILE* f = std::fopen(argv[1], "r");
    if (f == nullptr) {
        std::fprintf(stderr, "frame_log_check: cannot read %s\n", argv[1]);
        return 2;
    }
    std::vector<Entry> log;
    char kind[16];
    unsigned clock = 0;
    while (std::fscanf(f, "%15s %u", kind, &clock) == 2) {
        Entry e{std::strcmp(kind, "frame") == 0, clock, -1, 0.0f};
        if (e.frame && std::fscanf(f, "%d %f", &e.slot, &e.flash) != 2) break;
        log.push_back(e);
    }
    std::fclose(f);

    int failures = 0;
    std::vector<Shown> presented; // the new loop: what reached the screen, repeats dropped
    std::vector<Shown> everyLook; // a loop that presents at every look, repeats dropped
    std::vector<uint32_t> looks;
    int redraws = 0;
    for (const Entry& e : log) {
        if (!e.frame) {
            looks.push_back(e.clockMs);
            const driver::BeatFrame b = driver::beatFrameAt(e.clockMs);
            if (everyLook.empty() ||
                !samePicture(b.slot, b.flash, everyLook.back().slot, everyLook.back().flash)) {
                everyLook.push_back({e.clockMs, b.slot, b.flash});
            }
            continue;
        }
        const driver::BeatFrame b = driver::beatFrameAt(e.clockMs);
        if (b.slot != e.slot || b.flash != e.flash) {
            if (++failures <= 10) {
                std::printf("frame at clock %u shows slot %d flash %g, the timeline says %d %g\n",
                            e.clockMs, e.slot, static_cast<double>(e.flash), b.slot,
                            static_cast<double>(b.flash));
            }
        }
        if (!presented.empty() &&
            samePicture(e.slot, e.flash, presented.back().slot, presented.back().flash)) {
            ++redraws;
            continue;
        }
        presented.push_back({e.clockMs, e.slot, e.flash});
    }
    if (looks.empty() || presented.empty()) {
        std::puts("no frames in the log");
        return 1;
    }

    size_t same = 0;
    while (same < presented.size() && same < everyLook.size() &&
           presented[same].clockMs == everyLook[same].clockMs &&
           presented[same].slot == everyLook[same].slot &&
           presented[same].flash == everyLook[same].flash) {
        ++same;
    }
    if (same != presented.size() || same != everyLook.size()) {
        ++failures;
        std::printf("presented %zu changes, a loop presenting at every look %zu; first "
                    "difference at change %zu",
                    presented.size(), everyLook.size(), same);
        if (same < presented.size()) std::printf(" (presented clock %u)", presented[same].clockMs);
        if (same < everyLook.size()) std::printf(" (look clock %u)", everyLook[same].clockMs);
        std::puts("");
    }

    // Each flashing beat the run saw begin: its first frame is the flash at the first clock read
    // at or after its start.
    int flashBeats = 0;
    for (int32_t beat = driver::firstFlashBeat; beat < driver::firstCalmBeat; ++beat) {
        const uint32_t start = firstClockOfBeat(beat);
        if (start <= looks.front() || start > looks.back()) continue;
        uint32_t firstLook = 0;
        for (uint32_t c : looks) {
            if (c >= start) {
                firstLook = c;
                break;
            }
        }
        const Shown* first = nullptr;
        for (const Shown& s : presented) {
            if (s.clockMs >= start) {
                first = &s;
                break;
            }
        }
        ++flashBeats;
        if (first == nullptr || first->clockMs != firstLook || !(first->flash < 1.0f)) {
            ++failures;
            std::printf("beat %d (from clock %u): first frame at %u, first look at %u\n", beat,
                        start, first != nullptr ? first->clockMs : 0, firstLook);
        }
    }

    // A change the loop looked at more than one clock step (20 ms) after the clock reached it:
    // it slept through a step a loop drawing all the time would have seen. The first frame's
    // draw (shader compilation) is allowed its time.
    int changes = 0;
    int late = 0;
    for (size_t i = 2; i < looks.size(); ++i) {
        const uint32_t change = driver::nextPictureChangeMs(looks[i - 1]);
        if (change > looks[i]) continue;
        ++changes;
        if (looks[i] - change > 20) {
            ++late;
            std::printf("change at clock %u first read at %u\n", change, looks[i]);
        }
    }
    if (late * 10 > changes) {
        ++failures;
        std::printf("%d of %d changes read late\n", late, changes);
    }
    std::printf("%zu clock values read, %zu frames presented (%d redraws of an unchanged "
                "picture), %d flash beats checked, %d of %d changes read late\n",
                looks.size(), presented.size() + redraws, redraws, flashBeats, late, changes);
    return failures == 0 ? 0 : 1;
}
