// The readback's colour conversion: full-range RGBA, rows from the bottom up as GL reads them, to
// limited-range BT.709 YUV 4:2:0 for the H.264 encoder. It gives the very bytes FFmpeg's swscale
// gives for RGBA to YUV420P of the same size with SWS_BILINEAR | SWS_ACCURATE_RND | SWS_BITEXACT
// and those colour spaces, in half the time; tests/capture compares the two.
#pragma once

#include <cstdint>
#include <vector>

namespace capture {

struct RgbToYuv {
    int32_t width; // even
    int32_t height;
    // Four rows of chroma from pixel pairs, the ones the vertical filter reads for a row of output.
    std::vector<int32_t> pairRows;
};

// The fewest rows the conversion takes: below it swscale shortens its vertical chroma filter,
// which this does not follow. The capture's pictures have at least 16.
constexpr int32_t minRgbToYuvHeight = 8;

// Sizes the scratch rows once, so that converting allocates nothing. False for an odd size or
// fewer than minRgbToYuvHeight rows.
bool startRgbToYuv(RgbToYuv* converter, int32_t width, int32_t height);

// planes and strides: Y (width x height), U and V (width / 2 x height / 2).
void convertRgbToYuv(RgbToYuv* converter, const uint8_t* rgbaBottomUp, uint8_t* const planes[3],
                     const int strides[3]);

} // namespace capture
