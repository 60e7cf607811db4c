// Counts the bytes live on the heap and their peak, for the per-player memory figures.
#pragma once

#include <cstdint>

namespace peers {

// False when the allocation functions are not interposed (sanitizer builds bring their own).
bool heapCounting();
// Bytes now live: the usable size of every block handed out and not yet freed.
int64_t heapLiveBytes();
// Highest heapLiveBytes since the last heapResetPeak.
int64_t heapPeakBytes();
void heapResetPeak();

} // namespace peers
