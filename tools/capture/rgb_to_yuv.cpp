// The conversion in integers, step for step as swscale computes it for these formats and flags:
//
// - Coefficients: BT.709's, for limited range, as 15-bit fixed point (the luma ones scaled by
//   255/219, the chroma ones by 255/224), derived from the same four table entries the same way
//   and rounded the same way, so that they come out as the same integers.
// - Luma: each pixel to a 14-bit value (8 bits and 6 of fraction, rounded at half), then to 8
//   bits, rounded at half again. Rounding twice is what makes the bytes agree.
// - Chroma across: the sum of each pixel pair, to a 14-bit value the same way.
// - Chroma down: the bilinear filter of a 2:1 reduction centred between two rows, weights 1/8,
//   3/8, 3/8, 1/8 in 12-bit fixed point over the rows before, at and after the pair, with the
//   edge rows standing in for the rows outside the picture; rounded at half to 8 bits.
//
// Everything fits 32 bits, so the loops vectorise.
#include "rgb_to_yuv.h"

#include <algorithm>
#include <cstddef>

namespace capture {
namespace {

constexpr int32_t coefficientBits = 15;
constexpr int64_t one = 1 << 16;

// Rounds half away from zero, as the coefficient derivation does.
int64_t roundedDivision(int64_t a, int64_t b) {
    return a >= 0 ? (a + b / 2) / b : (a - b / 2) / b;
}

struct Coefficients {
    int32_t ry, gy, by, ru, gu, bu, rv, gv, bv;
};

// From the BT.709 entries of the YUV-to-RGB table (16.16: V to red, U to blue, U and V to green).
constexpr int64_t bt709VToRed = 117489;
constexpr int64_t bt709UToBlue = 138438;
constexpr int64_t bt709UToGreen = 13975;
constexpr int64_t bt709VToGreen = 34925;

Coefficients bt709Limited() {
    const int64_t vr = bt709VToRed, ub = bt709UToBlue, ug = -bt709UToGreen, vg = -bt709VToGreen;
    const int64_t cy = one * 255 / 219;
    const int64_t w = roundedDivision(one * one * ug, ub);
    const int64_t v = roundedDivision(one * one * vg, vr);
    const int64_t z = one * one - w - v;
    const int64_t cY = roundedDivision(cy * z, one);
    const int64_t cU = roundedDivision(ub * z, one);
    const int64_t cV = roundedDivision(vr * z, one);
    const int64_t s = int64_t{1} << coefficientBits;
    return {
        static_cast<int32_t>(-roundedDivision(s * v, cY)),
        static_cast<int32_t>(roundedDivision(s * one * one, cY)),
        static_cast<int32_t>(-roundedDivision(s * w, cY)),
        static_cast<int32_t>(roundedDivision(s * v, cU)),
        static_cast<int32_t>(-roundedDivision(s * one * one, cU)),
        static_cast<int32_t>(roundedDivision(s * (z + w), cU)),
        static_cast<int32_t>(roundedDivision(s * (v + z), cV)),
        static_cast<int32_t>(-roundedDivision(s * one * one, cV)),
        static_cast<int32_t>(roundedDivision(s * w, cV)),
    };
}

const Coefficients k = bt709Limited();

// 16 (luma) and 128 (chroma, for a pair: twice) in the 15-bit scale, and half a step of the
// 14-bit result.
constexpr int32_t lumaOffset = (16 << coefficientBits) + (1 << (coefficientBits - 7));
constexpr int32_t lumaShift = coefficientBits - 6;
constexpr int32_t pairOffset = (256 << coefficientBits) + (1 << (coefficientBits - 6));
constexpr int32_t pairShift = coefficientBits - 5;

constexpr int32_t edgeWeight = 512;    // 1/8 in 12 bits
constexpr int32_t centreWeight = 1536; // 3/8
constexpr int32_t filterShift = 18;    // 12 bits of weight and 6 of fraction
constexpr int32_t filterRounding = 1 << (filterShift - 1);

// The row loops vectorise; where the compiler can pick at run time, a copy for AVX2 takes half
// the time of the SSE2 one every x86-64 has.
#if defined(__x86_64__) && defined(__has_attribute)
#if __has_attribute(target_clones)
#define RGB_TO_YUV_CLONES __attribute__((target_clones("avx2", "default")))
#endif
#endif
#ifndef RGB_TO_YUV_CLONES
#define RGB_TO_YUV_CLONES
#endif

uint8_t toByte(int32_t value) {
    return static_cast<uint8_t>(std::clamp(value, 0, 255));
}

// One picture row: its luma, and its pairs' chroma into u and v.
RGB_TO_YUV_CLONES void convertRow(const uint8_t* rgba, int32_t width, uint8_t* y, int32_t* u,
                                  int32_t* v) {
    for (int32_t x = 0; x < width; ++x) {
        const uint8_t* p = rgba + 4 * x;
        const int32_t value = (k.ry * p[0] + k.gy * p[1] + k.by * p[2] + lumaOffset) >> lumaShift;
        y[x] = toByte((value + 32) >> 6);
    }
    for (int32_t x = 0; x < width / 2; ++x) {
        const uint8_t* p = rgba + 8 * x;
        const int32_t r = p[0] + p[4];
        const int32_t g = p[1] + p[5];
        const int32_t b = p[2] + p[6];
        u[x] = (k.ru * r + k.gu * g + k.bu * b + pairOffset) >> pairShift;
        v[x] = (k.rv * r + k.gv * g + k.bv * b + pairOffset) >> pairShift;
    }
}

RGB_TO_YUV_CLONES void filterRows(const int32_t* const rows[4], int32_t count, uint8_t* out) {
    for (int32_t x = 0; x < count; ++x) {
        const int32_t sum = edgeWeight * (rows[0][x] + rows[3][x]) +
                            centreWeight * (rows[1][x] + rows[2][x]) + filterRounding;
        out[x] = toByte(sum >> filterShift);
    }
}

} // namespace

bool startRgbToYuv(RgbToYuv* c, int32_t width, int32_t height) {
    if (width < 2 || width % 2 != 0 || height < minRgbToYuvHeight || height % 2 != 0) return false;
    c->width = width;
    c->height = height;
    // Four rows of u, then four of v.
    c->pairRows.assign(static_cast<size_t>(width / 2) * 8, 0);
    return true;
}

void convertRgbToYuv(RgbToYuv* c, const uint8_t* rgbaBottomUp, uint8_t* const planes[3],
                     const int strides[3]) {
    const int32_t width = c->width;
    const int32_t height = c->height;
    const int32_t half = width / 2;
    int32_t* u = c->pairRows.data();
    int32_t* v = u + static_cast<size_t>(half) * 4;
    const auto slot = [half](int32_t* rows, int32_t row) {
        return rows + static_cast<size_t>(row & 3) * half;
    };
    // Row r of the picture, top first, is row height - 1 - r of the readback.
    int32_t converted = 0;
    const auto convertUpTo = [&](int32_t last) {
        for (; converted <= last && converted < height; ++converted) {
            const uint8_t* source =
                rgbaBottomUp + static_cast<ptrdiff_t>(height - 1 - converted) * width * 4;
            convertRow(source, width, planes[0] + static_cast<ptrdiff_t>(converted) * strides[0],
                       slot(u, converted), slot(v, converted));
        }
    };
    for (int32_t row = 0; row < height / 2; ++row) {
        convertUpTo(2 * row + 2);
        const int32_t above = std::max(2 * row - 1, 0);
        const int32_t below = std::min(2 * row + 2, height - 1);
        const int32_t* uRows[4] = {slot(u, above), slot(u, 2 * row), slot(u, 2 * row + 1),
                                   slot(u, below)};
        const int32_t* vRows[4] = {slot(v, above), slot(v, 2 * row), slot(v, 2 * row + 1),
                                   slot(v, below)};
        filterRows(uRows, half, planes[1] + static_cast<ptrdiff_t>(row) * strides[1]);
        filterRows(vRows, half, planes[2] + static_cast<ptrdiff_t>(row) * strides[2]);
    }
    convertUpTo(height - 1);
}

} // namespace capture
