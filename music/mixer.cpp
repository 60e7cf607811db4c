// The voice mixer: adds every active voice into the float mix buffer, with linear interpolation,
// forward and ping-pong loops and short volume ramps.
#include "mixer.h"

#include "module.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// An eight-frame path for processors with AVX2, chosen at run time so that the program still
// runs on any x86 processor with SSE2. Not on Windows: there GCC cannot give 256-bit values
// spilled to the stack their 32-byte alignment, and the aligned moves would fault.
#if defined(__SSE2__) && (defined(__GNUC__) || defined(__clang__)) && !defined(_WIN32)
#define MUSIC_MIXER_WIDE 1
#include <immintrin.h>
#endif

namespace music {

namespace {

constexpr int64_t rampFramesAtReferenceRate = 128;
constexpr int64_t referenceRateHz = 44100;

constexpr float levelToGain = 1.0f / 255.0f;            // the nearest float to 1/255
constexpr float fineLevelToGain = levelToGain / 256.0f; // fine levels: 256 units per level
constexpr float levelFractionToLevel = 1.0f / 256.0f;   // 8.8 level to a whole level
constexpr float fractionToWeight = 0x1p-31f;            // upper 31 bits of a fraction to 0..1

constexpr int fractionBits = 32;
constexpr uint64_t lowestBit = 1;

// The boundary count only sees the low 8 bits of the whole step, so steps are kept just below
// 256 frames of sample data per output frame; faster voices would run past their boundary.
constexpr uint32_t stepWholeLimitFrames = 256;
constexpr uint64_t maxStep = (uint64_t{stepWholeLimitFrames} << fractionBits) - 1;

// A step too small to count (zero, or below 2^-24 frame) is counted as a 256 Hz voice would be,
// at 24 fractional bits: 0x017C6F8C >> 8 at 44100 Hz.
constexpr uint64_t substituteFrequencyHz = 256;
uint64_t substituteStepFor(int32_t outputRate) {
    if (outputRate <= 0) return 1;
    const uint64_t step =
        (substituteFrequencyHz << fractionBits) / static_cast<uint64_t>(outputRate);
    return (step >> 8) > 0 ? step >> 8 : 1;
}

#if defined(MUSIC_MIXER_WIDE)
bool processorHasAvx2() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
}
// What the processor offers is the same for every player.
const bool wideMixingAvailable = processorHasAvx2();
#endif
constexpr uint64_t farBoundaryFrames = uint64_t{1} << 24;

// The sample data as the mixer may read it: elements 0 .. readable - 1.
struct SampleView {
    const int16_t* data;
    int64_t readable; // length plus the guard values, 0 when there is no data
};

struct PassGains {
    float left;
    float right;
    float leftIncrement;
    float rightIncrement;
    // The gain of frame k is start + k x increment instead of the sum of k increments in
    // sequence: no chain of additions runs through the frames, so long ramps cost what settled
    // passes do. Only ramps of a voice's own length take it; the usual ramp keeps its sums.
    // left and right then stay the gains of the pass's first frame, and index counts the
    // frames of the pass mixed so far, so every loop gives frame k the same float.
    bool indexed;
    int32_t index;
};

inline float indexedGain(float start, float increment, int32_t k) {
    return start + static_cast<float>(k) * increment;
}

inline int64_t wholeOf(uint64_t position) {
    return static_cast<int32_t>(static_cast<uint32_t>(position >> fractionBits));
}

inline float interpolate(int32_t s0, int32_t s1, uint64_t position) {
    const uint32_t fraction = static_cast<uint32_t>(position);
    const float t = static_cast<float>(static_cast<int32_t>(fraction >> 1)) * fractionToWeight;
    return static_cast<float>(s0) + t * static_cast<float>(s1 - s0);
}

// The fraction loses its lowest bit before the step is added.
inline uint64_t advance(uint64_t position, uint64_t step) {
    return (position & ~lowestBit) + step;
}

// The position after frames frames, as many single advances would leave it: only the first
// advance can clear a set lowest bit, every later one adds the step with its lowest bit cleared.
inline uint64_t advanceSilently(uint64_t position, uint64_t step, int32_t frames) {
    if (frames <= 0) return position;
    return advance(position, step) + static_cast<uint64_t>(frames - 1) * (step & ~lowestBit);
}

inline int32_t elementAt(const SampleView& view, int64_t index) {
    return index >= 0 && index < view.readable ? view.data[index] : 0;
}

inline bool readsInside(const SampleView& view, int64_t whole) {
    return whole >= 0 && whole + 1 < view.readable;
}

// How many frames from position on read only elements inside the data; 0 when the first does
// not. The bound is conservative by the lowest-bit loss, which only ever moves a position back.
uint64_t framesInside(const SampleView& view, uint64_t position, uint64_t stepSize, bool backward) {
    if (!readsInside(view, wholeOf(position))) return 0;
    const uint64_t base = position & ~lowestBit; // the whole part is not negative here
    if (backward) return base / (stepSize + 1) + 1;
    if (stepSize == 0) return std::numeric_limits<uint64_t>::max();
    // A frame whose whole part is at most readable - 2 also reads its right neighbour.
    int64_t endWhole = view.readable - 1;
    if (endWhole > (int64_t{1} << 31)) endWhole = int64_t{1} << 31;
    const uint64_t limit = static_cast<uint64_t>(endWhole) << fractionBits;
    return (limit - 1 - base) / stepSize + 1;
}

#if defined(__SSE2__)
// Both neighbours of a frame, data[W] in the low half and data[W + 1] in the high half.
inline int32_t neighbourPair(const int16_t* data, uint64_t position) {
    int32_t pair;
    std::memcpy(&pair, data + wholeOf(position), sizeof pair);
    return pair;
}
#endif

#if defined(__SSE2__)
// The interpolated values of four frames at a time. Made after one advance, when every
// position's lowest bit is the step's, so that each further advance adds the step with its lowest
// bit cleared: the positions are a progression, kept in two 64-bit lanes per register for the
// fractions and in a scalar for the reads. The operations per frame are those of interpolate.
struct FourFrames {
    const int16_t* data;
    uint64_t position; // of the next frame
    uint64_t stride;
    __m128i lanes01;
    __m128i lanes23;
    __m128i groupStride;

    FourFrames(const int16_t* sampleData, uint64_t advancedPosition, uint64_t step)
        : data(sampleData), position(advancedPosition), stride(step & ~lowestBit) {
        lanes01 =
            _mm_set_epi64x(static_cast<int64_t>(position + stride), static_cast<int64_t>(position));
        lanes23 = _mm_set_epi64x(static_cast<int64_t>(position + 3 * stride),
                                 static_cast<int64_t>(position + 2 * stride));
        groupStride = _mm_set1_epi64x(static_cast<int64_t>(4 * stride));
    }

    __m128 next() {
        const uint64_t p0 = position;
        const uint64_t p1 = p0 + stride;
        const uint64_t p2 = p1 + stride;
        const uint64_t p3 = p2 + stride;
        position = p3 + stride;
        const __m128i pairs = _mm_setr_epi32(neighbourPair(data, p0), neighbourPair(data, p1),
                                             neighbourPair(data, p2), neighbourPair(data, p3));
        // Multiply-add on the 16-bit halves gives s0 (by 1, 0) and s1 - s0 (by -1, 1) exactly.
        const __m128i s0 = _mm_madd_epi16(pairs, _mm_set1_epi32(0x00000001));
        const __m128i difference = _mm_madd_epi16(pairs, _mm_set1_epi32(0x0001FFFF));
        const __m128i fractions = _mm_castps_si128(_mm_shuffle_ps(
            _mm_castsi128_ps(lanes01), _mm_castsi128_ps(lanes23), _MM_SHUFFLE(2, 0, 2, 0)));
        lanes01 = _mm_add_epi64(lanes01, groupStride);
        lanes23 = _mm_add_epi64(lanes23, groupStride);
        const __m128 t = _mm_mul_ps(_mm_cvtepi32_ps(_mm_srli_epi32(fractions, 1)),
                                    _mm_set1_ps(fractionToWeight));
        return _mm_add_ps(_mm_cvtepi32_ps(s0), _mm_mul_ps(t, _mm_cvtepi32_ps(difference)));
    }
};

// Adds left and right contributions of two frames: out[0..3] += values * gains, lane by lane.
inline void addFrames(float* out, __m128 values, __m128 gains) {
    _mm_storeu_ps(out, _mm_add_ps(_mm_loadu_ps(out), _mm_mul_ps(values, gains)));
}
#endif

// Settled frames at constant gains. Every element read lies inside the data. Four frames at a
// time go through the vector unit with the same operations, in the same order, as one frame on
// its own: conversions, the weight, the interpolation and each float's single addition.
uint64_t mixSettled(const int16_t* data, float* out, int32_t frames, uint64_t position,
                    uint64_t step, float leftGain, float rightGain) {
#if defined(__SSE2__)
    if (frames >= 5) {
        const int16_t* a = data + wholeOf(position);
        const float value = interpolate(a[0], a[1], position);
        position = advance(position, step);
        out[0] += value * leftGain;
        out[1] += value * rightGain;
        out += 2;
        --frames;
        FourFrames four(data, position, step);
        const __m128 gains = _mm_setr_ps(leftGain, rightGain, leftGain, rightGain);
        for (; frames >= 4; frames -= 4) {
            const __m128 value4 = four.next();
            addFrames(out, _mm_unpacklo_ps(value4, value4), gains);
            addFrames(out + 4, _mm_unpackhi_ps(value4, value4), gains);
            out += 8;
        }
        position = four.position;
    }
#endif
    for (; frames >= 2; frames -= 2) {
        const int16_t* a = data + wholeOf(position);
        const float valueA = interpolate(a[0], a[1], position);
        position = advance(position, step);
        const int16_t* b = data + wholeOf(position);
        const float valueB = interpolate(b[0], b[1], position);
        position = advance(position, step);
        out[0] += valueA * leftGain;
        out[1] += valueA * rightGain;
        out[2] += valueB * leftGain;
        out[3] += valueB * rightGain;
        out += 4;
    }
    if (frames > 0) {
        const int16_t* a = data + wholeOf(position);
        const float value = interpolate(a[0], a[1], position);
        position = advance(position, step);
        out[0] += value * leftGain;
        out[1] += value * rightGain;
    }
    return position;
}

#if defined(MUSIC_MIXER_WIDE)
// For voices slower than one sample frame per output frame, the interpolated values of eight
// frames at a time. Such frames lie within a few elements of each other, so each half of the
// register loads one window of eight elements and picks every frame's pair of neighbours out of
// it with a byte shuffle, instead of eight separate reads. The positions of frames 0..3 and 4..7
// are progressions in two registers of four 64-bit lanes; their high halves give the elements,
// their low halves the fractions, both in the frame order 0 1 4 5 | 2 3 6 7, which is the order
// the stereo interleave wants. The operations per frame are those of interpolate.
struct EightSlowFrames {
    const int16_t* data;
    uint64_t position; // of the next frame
    uint64_t stride4;
    uint64_t stride8;
    __m256i lanes03;
    __m256i lanes47;
    __m256i groupStride;

    // Frame k lies at most k elements after frame 0, so the windows at frames 0 and 2 hold the
    // pairs of frames 0, 1, 4, 5 and 2, 3, 6, 7 and reach element whole(frame 0) + 9 at most.
    static constexpr int64_t elementsReadPastFirst = 15;

    __attribute__((target("avx2")))
    EightSlowFrames(const int16_t* sampleData, uint64_t advancedPosition, uint64_t stride)
        : data(sampleData), position(advancedPosition), stride4(4 * stride), stride8(8 * stride) {
        const auto at = [&](uint64_t k) {
            return static_cast<int64_t>(advancedPosition + k * stride);
        };
        lanes03 = _mm256_setr_epi64x(at(0), at(1), at(4), at(5));
        lanes47 = _mm256_setr_epi64x(at(2), at(3), at(6), at(7));
        groupStride = _mm256_set1_epi64x(static_cast<int64_t>(8 * stride));
    }

    __attribute__((target("avx2"))) __m256 next() {
        const __m256 a = _mm256_castsi256_ps(lanes03);
        const __m256 b = _mm256_castsi256_ps(lanes47);
        const __m256i wholes =
            _mm256_castps_si256(_mm256_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1)));
        const __m256i fractions =
            _mm256_castps_si256(_mm256_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0)));
        lanes03 = _mm256_add_epi64(lanes03, groupStride);
        lanes47 = _mm256_add_epi64(lanes47, groupStride);

        const uint64_t p = position;
        position = p + stride8;
        const __m256i windows = _mm256_inserti128_si256(
            _mm256_castsi128_si256(
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + wholeOf(p)))),
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + wholeOf(p + stride4))), 1);
        // Each frame's offset in its window, as the four byte indices of its pair.
        const __m256i offsets = _mm256_sub_epi32(wholes, _mm256_shuffle_epi32(wholes, 0));
        const __m256i byteOffsets = _mm256_shuffle_epi8(
            _mm256_add_epi32(offsets, offsets),
            _mm256_setr_epi8(0, 0, 0, 0, 4, 4, 4, 4, 8, 8, 8, 8, 12, 12, 12, 12, 0, 0, 0, 0, 4, 4,
                             4, 4, 8, 8, 8, 8, 12, 12, 12, 12));
        const __m256i pairs = _mm256_shuffle_epi8(
            windows, _mm256_add_epi8(byteOffsets, _mm256_set1_epi32(0x03020100)));

        const __m256i s0 = _mm256_madd_epi16(pairs, _mm256_set1_epi32(0x00000001));
        const __m256i difference = _mm256_madd_epi16(pairs, _mm256_set1_epi32(0x0001FFFF));
        const __m256 t = _mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_srli_epi32(fractions, 1)),
                                       _mm256_set1_ps(fractionToWeight));
        return _mm256_add_ps(_mm256_cvtepi32_ps(s0),
                             _mm256_mul_ps(t, _mm256_cvtepi32_ps(difference)));
    }
};

__attribute__((target("avx2"))) inline void addFrames8(float* out, __m256 values, __m256 gains) {
    _mm256_storeu_ps(out, _mm256_add_ps(_mm256_loadu_ps(out), _mm256_mul_ps(values, gains)));
}

#endif

// Ramping frames. Every element read lies inside the data. The gains still grow by one addition
// of the increment per frame, in sequence; four frames at a time share the vector unit for the
// values and the sums.
uint64_t mixRamping(const int16_t* data, float* out, int32_t frames, uint64_t position,
                    uint64_t step, PassGains& gains) {
    float left = gains.left;
    float right = gains.right;
    const float leftIncrement = gains.leftIncrement;
    const float rightIncrement = gains.rightIncrement;
#if defined(__SSE2__)
    if (frames >= 5) {
        const int16_t* a = data + wholeOf(position);
        const float value = interpolate(a[0], a[1], position);
        position = advance(position, step);
        out[0] += value * left;
        out[1] += value * right;
        left += leftIncrement;
        right += rightIncrement;
        out += 2;
        --frames;
        FourFrames four(data, position, step);
        // Lanes 0 and 1 hold the left and right gain of the frame; lanes 2 and 3 are unused.
        __m128 gain = _mm_setr_ps(left, right, 0.0f, 0.0f);
        const __m128 increment = _mm_setr_ps(leftIncrement, rightIncrement, 0.0f, 0.0f);
        for (; frames >= 4; frames -= 4) {
            const __m128 value4 = four.next();
            const __m128 gain1 = _mm_add_ps(gain, increment);
            const __m128 gain2 = _mm_add_ps(gain1, increment);
            const __m128 gain3 = _mm_add_ps(gain2, increment);
            addFrames(out, _mm_unpacklo_ps(value4, value4), _mm_movelh_ps(gain, gain1));
            addFrames(out + 4, _mm_unpackhi_ps(value4, value4), _mm_movelh_ps(gain2, gain3));
            gain = _mm_add_ps(gain3, increment);
            out += 8;
        }
        position = four.position;
        alignas(16) float lanes[4];
        _mm_store_ps(lanes, gain);
        left = lanes[0];
        right = lanes[1];
    }
#endif
    for (; frames > 0; --frames) {
        const int16_t* a = data + wholeOf(position);
        const float value = interpolate(a[0], a[1], position);
        position = advance(position, step);
        out[0] += value * left;
        out[1] += value * right;
        left += leftIncrement;
        right += rightIncrement;
        out += 2;
    }
    gains.left = left;
    gains.right = right;
    return position;
}

// Ramping frames with indexed gains (see PassGains): frame k of the pass adds
// value x (start + k x increment), whichever loop mixes it.
uint64_t mixRampingIndexed(const int16_t* data, float* out, int32_t frames, uint64_t position,
                           uint64_t step, PassGains& gains) {
    const float left = gains.left;
    const float right = gains.right;
    const float leftIncrement = gains.leftIncrement;
    const float rightIncrement = gains.rightIncrement;
    int32_t k = gains.index;
    const int32_t end = k + frames;
#if defined(__SSE2__)
    if (frames >= 5) {
        const int16_t* a = data + wholeOf(position);
        const float value = interpolate(a[0], a[1], position);
        position = advance(position, step);
        out[0] += value * indexedGain(left, leftIncrement, k);
        out[1] += value * indexedGain(right, rightIncrement, k);
        out += 2;
        ++k;
        FourFrames four(data, position, step);
        const __m128 start = _mm_setr_ps(left, right, left, right);
        const __m128 increment =
            _mm_setr_ps(leftIncrement, rightIncrement, leftIncrement, rightIncrement);
        const float k0 = static_cast<float>(k);
        __m128 firstPair = _mm_setr_ps(k0, k0, k0 + 1.0f, k0 + 1.0f);
        __m128 secondPair = _mm_setr_ps(k0 + 2.0f, k0 + 2.0f, k0 + 3.0f, k0 + 3.0f);
        const __m128 four4 = _mm_set1_ps(4.0f);
        for (; end - k >= 4; k += 4) {
            const __m128 value4 = four.next();
            addFrames(out, _mm_unpacklo_ps(value4, value4),
                      _mm_add_ps(start, _mm_mul_ps(firstPair, increment)));
            addFrames(out + 4, _mm_unpackhi_ps(value4, value4),
                      _mm_add_ps(start, _mm_mul_ps(secondPair, increment)));
            firstPair = _mm_add_ps(firstPair, four4);
            secondPair = _mm_add_ps(secondPair, four4);
            out += 8;
        }
        position = four.position;
    }
#endif
    for (; k < end; ++k) {
        const int16_t* a = data + wholeOf(position);
        const float value = interpolate(a[0], a[1], position);
        position = advance(position, step);
        out[0] += value * indexedGain(left, leftIncrement, k);
        out[1] += value * indexedGain(right, rightIncrement, k);
        out += 2;
    }
    gains.index = end;
    return position;
}

#if defined(MUSIC_MIXER_WIDE)
// mixSettled and mixRamping for processors with AVX2: forward voices slower than two sample
// frames per output frame go eight frames at a time while their windows stay inside the data;
// the rest goes to the SSE loops. Each float sees the same operations in the same order as
// there; ramping gains still grow by one addition per frame, in sequence.
template <bool Ramping>
__attribute__((target("avx2"))) uint64_t mixWide(const SampleView& view, float* out, int32_t frames,
                                                 uint64_t position, uint64_t step,
                                                 PassGains& gains) {
    const uint64_t stride = step & ~lowestBit;
    const int64_t lastWindowStart = view.readable - 1 - EightSlowFrames::elementsReadPastFirst;
    if (Ramping && gains.indexed && frames >= 9 && stride < (uint64_t{2} << fractionBits) &&
        lastWindowStart > 0) {
        // The indexed ramp: the same floats as mixRampingIndexed, eight frames at a time.
        const int16_t* a = view.data + wholeOf(position);
        const float value = interpolate(a[0], a[1], position);
        position = advance(position, step);
        int32_t k = gains.index;
        out[0] += value * indexedGain(gains.left, gains.leftIncrement, k);
        out[1] += value * indexedGain(gains.right, gains.rightIncrement, k);
        out += 2;
        ++k;
        --frames;
        const uint64_t windowLimit = (static_cast<uint64_t>(lastWindowStart) + 1) << fractionBits;
        EightSlowFrames eight(view.data, position, stride);
        const __m256 start = _mm256_setr_ps(gains.left, gains.right, gains.left, gains.right,
                                            gains.left, gains.right, gains.left, gains.right);
        const __m256 increment = _mm256_setr_ps(
            gains.leftIncrement, gains.rightIncrement, gains.leftIncrement, gains.rightIncrement,
            gains.leftIncrement, gains.rightIncrement, gains.leftIncrement, gains.rightIncrement);
        // Whole frame numbers stay exact in floats, so counting them up gives the same k.
        const float first = static_cast<float>(k);
        __m256 k03 = _mm256_setr_ps(first, first, first + 1.0f, first + 1.0f, first + 2.0f,
                                    first + 2.0f, first + 3.0f, first + 3.0f);
        const __m256 four = _mm256_set1_ps(4.0f);
        const __m256 eightFrames = _mm256_set1_ps(8.0f);
        for (; frames >= 8 && eight.position < windowLimit; frames -= 8, k += 8) {
            const __m256 value8 = eight.next();
            const __m256 low = _mm256_unpacklo_ps(value8, value8);
            const __m256 high = _mm256_unpackhi_ps(value8, value8);
            const __m256 k47 = _mm256_add_ps(k03, four);
            addFrames8(out, _mm256_permute2f128_ps(low, high, 0x20),
                       _mm256_add_ps(start, _mm256_mul_ps(k03, increment)));
            addFrames8(out + 8, _mm256_permute2f128_ps(low, high, 0x31),
                       _mm256_add_ps(start, _mm256_mul_ps(k47, increment)));
            k03 = _mm256_add_ps(k03, eightFrames);
            out += 16;
        }
        position = eight.position;
        gains.index = k;
        _mm256_zeroupper();
        return mixRampingIndexed(view.data, out, frames, position, step, gains);
    }
    if (frames >= 9 && stride < (uint64_t{2} << fractionBits) && lastWindowStart > 0) {
        const int16_t* a = view.data + wholeOf(position);
        const float value = interpolate(a[0], a[1], position);
        position = advance(position, step);
        out[0] += value * gains.left;
        out[1] += value * gains.right;
        if constexpr (Ramping) {
            gains.left += gains.leftIncrement;
            gains.right += gains.rightIncrement;
        }
        out += 2;
        --frames;
        // Positions inside a run have a whole part of 0 .. 2^31 - 1.
        const uint64_t windowLimit = (static_cast<uint64_t>(lastWindowStart) + 1) << fractionBits;
        EightSlowFrames eight(view.data, position, stride);
        // Settled: left, right four times over. Ramping: lanes 0 and 1 of gain hold the frame's
        // left and right gain, lanes 2 and 3 are unused.
        const __m256 settled = _mm256_setr_ps(gains.left, gains.right, gains.left, gains.right,
                                              gains.left, gains.right, gains.left, gains.right);
        __m128 gain = _mm_setr_ps(gains.left, gains.right, 0.0f, 0.0f);
        const __m128 increment = _mm_setr_ps(gains.leftIncrement, gains.rightIncrement, 0.0f, 0.0f);
        for (; frames >= 8 && eight.position < windowLimit; frames -= 8) {
            const __m256 value8 = eight.next();
            const __m256 low = _mm256_unpacklo_ps(value8, value8);
            const __m256 high = _mm256_unpackhi_ps(value8, value8);
            if constexpr (Ramping) {
                __m128 g[8];
                g[0] = gain;
                for (int k = 1; k < 8; ++k) g[k] = _mm_add_ps(g[k - 1], increment);
                gain = _mm_add_ps(g[7], increment);
                const __m256 gains03 =
                    _mm256_set_m128(_mm_movelh_ps(g[2], g[3]), _mm_movelh_ps(g[0], g[1]));
                const __m256 gains47 =
                    _mm256_set_m128(_mm_movelh_ps(g[6], g[7]), _mm_movelh_ps(g[4], g[5]));
                addFrames8(out, _mm256_permute2f128_ps(low, high, 0x20), gains03);
                addFrames8(out + 8, _mm256_permute2f128_ps(low, high, 0x31), gains47);
            } else {
                addFrames8(out, _mm256_permute2f128_ps(low, high, 0x20), settled);
                addFrames8(out + 8, _mm256_permute2f128_ps(low, high, 0x31), settled);
            }
            out += 16;
        }
        position = eight.position;
        if constexpr (Ramping) {
            alignas(16) float lanes[4];
            _mm_store_ps(lanes, gain);
            gains.left = lanes[0];
            gains.right = lanes[1];
        }
        // The rest runs SSE code, which would pay for the dirty upper halves on every operation.
        _mm256_zeroupper();
    }
    if constexpr (Ramping) {
        if (gains.indexed) return mixRampingIndexed(view.data, out, frames, position, step, gains);
        return mixRamping(view.data, out, frames, position, step, gains);
    } else {
        return mixSettled(view.data, out, frames, position, step, gains.left, gains.right);
    }
}
#endif

// The value at position between the frames around whole, read as elementAt reads them, for the
// modes other than Linear. The cubic weights are those of a Catmull-Rom spline, with the
// integer parts exact: value = s0 + t (c + t (b + t a)) / 2.
inline float valueBetween(const SampleView& view, int64_t whole, uint64_t position,
                          Interpolation mode) {
    const int32_t s0 = elementAt(view, whole);
    if (mode == Interpolation::None) return static_cast<float>(s0);
    const int32_t before = elementAt(view, whole - 1);
    const int32_t s1 = elementAt(view, whole + 1);
    const int32_t s2 = elementAt(view, whole + 2);
    const uint32_t fraction = static_cast<uint32_t>(position);
    const float t = static_cast<float>(static_cast<int32_t>(fraction >> 1)) * fractionToWeight;
    // In double precision: the terms reach ten times full scale and nearly cancel, which single
    // precision would leave a few tenths off.
    const double u = t;
    const double c = s1 - before;
    const double b = 2 * before - 5 * s0 + 4 * s1 - s2;
    const double a = 3 * (s0 - s1) + s2 - before;
    return static_cast<float>(s0 + 0.5 * u * (c + u * (b + u * a)));
}

// One frame whose elements may lie outside the data (before it after a boundary at a loop start
// of 0, or anywhere for a position that was never inside); those read as 0.
template <bool Ramping>
uint64_t mixCheckedFrame(const SampleView& view, float* out, uint64_t position, uint64_t step,
                         PassGains& gains, Interpolation mode = Interpolation::Linear) {
    const int64_t whole = wholeOf(position);
    const float value =
        mode == Interpolation::Linear
            ? interpolate(elementAt(view, whole), elementAt(view, whole + 1), position)
            : valueBetween(view, whole, position, mode);
    if (Ramping && gains.indexed) {
        out[0] += value * indexedGain(gains.left, gains.leftIncrement, gains.index);
        out[1] += value * indexedGain(gains.right, gains.rightIncrement, gains.index);
        ++gains.index;
        return advance(position, step);
    }
    out[0] += value * gains.left;
    out[1] += value * gains.right;
    if constexpr (Ramping) {
        gains.left += gains.leftIncrement;
        gains.right += gains.rightIncrement;
    }
    return advance(position, step);
}

// Positions move one way through a pass, so the frames split into runs that stay inside the data
// (unchecked loops) and single frames that do not.
template <bool Ramping>
uint64_t mixPassFrames(const Mixer& mixer, const SampleView& view, float* out, int32_t frames,
                       uint64_t position, uint64_t stepSize, bool backward, PassGains& gains) {
    const uint64_t step = backward ? 0 - stepSize : stepSize;
    if (mixer.interpolation != Interpolation::Linear) {
        for (; frames > 0; --frames, out += 2)
            position =
                mixCheckedFrame<Ramping>(view, out, position, step, gains, mixer.interpolation);
        return position;
    }
    while (frames > 0) {
        const uint64_t inside = framesInside(view, position, stepSize, backward);
        if (inside == 0) {
            position = mixCheckedFrame<Ramping>(view, out, position, step, gains);
            out += 2;
            --frames;
            continue;
        }
        const int32_t run =
            inside < static_cast<uint64_t>(frames) ? static_cast<int32_t>(inside) : frames;
#if defined(MUSIC_MIXER_WIDE)
        if (wideMixingAvailable && !mixer.wideMixingRefused) {
            position = mixWide<Ramping>(view, out, run, position, step, gains);
        } else
#endif
            if constexpr (Ramping) {
            position = gains.indexed ? mixRampingIndexed(view.data, out, run, position, step, gains)
                                     : mixRamping(view.data, out, run, position, step, gains);
        } else {
            position = mixSettled(view.data, out, run, position, step, gains.left, gains.right);
        }
        out += 2 * static_cast<int64_t>(run);
        frames -= run;
    }
    return position;
}

uint64_t playedStep(const Voice& voice) {
    const uint32_t whole = static_cast<uint32_t>(voice.stepWhole);
    if (whole >= stepWholeLimitFrames) return maxStep;
    return (uint64_t{whole} << fractionBits) | voice.stepFraction;
}

void stopVoice(Voice& voice) {
    voice.sample = nullptr;
    voice.positionWhole = 0;
    voice.positionFraction = 0;
}

// Mirrors at the loop end (atEnd) or the loop start until the position lies inside the loop.
// Mirroring keeps the fraction's complement: at boundary b the whole part becomes 2b - 1 - w.
void mirrorIntoLoop(Voice& voice, int64_t loopStart, int64_t loopEnd, bool atEnd) {
    const int64_t cycle = 2 * (loopEnd - loopStart);
    int64_t whole = voice.positionWhole;
    uint32_t fraction = voice.positionFraction;
    int32_t direction = voice.direction;
    // Two mirrors move the position by one cycle and keep the fraction and the direction, so an
    // overshoot of many loop lengths takes whole cycles at once.
    if (atEnd && whole >= loopEnd) whole -= (whole - loopEnd) / cycle * cycle;
    if (!atEnd && whole < loopStart) whole += (loopStart - whole - 1) / cycle * cycle;
    for (;;) {
        fraction = ~fraction;
        if (atEnd) {
            whole = 2 * loopEnd - 1 - whole;
            direction = DIRECTION_BACKWARD;
            if (whole >= loopStart) break;
        } else {
            whole = 2 * loopStart - 1 - whole;
            direction = DIRECTION_FORWARD;
            if (whole < loopEnd) break;
        }
        atEnd = !atEnd;
    }
    voice.positionWhole = static_cast<int32_t>(static_cast<uint32_t>(whole));
    voice.positionFraction = fraction;
    voice.direction = direction;
}

void handleBoundary(Voice& voice, const Sample& sample, bool forward) {
    const int64_t loopStart = sample.loopStart;
    const int64_t loopLength = sample.loopLength;
    const int64_t loopEnd = loopStart + loopLength;
    // The shared empty sample and zero-filled samples carry mode 0; they, and a loop of no
    // length, play like a sample without a loop.
    if (loopLength == 0 || (sample.loopMode != LOOP_FORWARD && sample.loopMode != LOOP_PINGPONG)) {
        stopVoice(voice);
        return;
    }
    if (sample.loopMode == LOOP_FORWARD) {
        int64_t whole = static_cast<int64_t>(voice.positionWhole) - loopLength;
        if (whole >= loopEnd) whole = loopStart + (whole - loopStart) % loopLength;
        voice.positionWhole = static_cast<int32_t>(static_cast<uint32_t>(whole));
        return;
    }
    mirrorIntoLoop(voice, loopStart, loopEnd, forward);
}

template <bool FineLevels> int32_t levelFromGain(float gain) {
    const float level = gain * 255.0f * 256.0f;
    return static_cast<int32_t>(std::lrint(FineLevels ? level * 256.0f : level));
}

int32_t settledLevel(int32_t target) {
    return static_cast<int32_t>(static_cast<uint32_t>(target) * 256u);
}

template <bool FineLevels> float rampIncrement(int64_t difference, float lengthReciprocal) {
    if (difference == 0) return 0.0f;
    return static_cast<float>(difference) * (FineLevels ? fineLevelToGain : levelToGain) *
           lengthReciprocal;
}

// One voice's run; fine-level voices (levels in 1/256 units) get their own copy so that the
// usual one stays exactly as it was.
template <bool FineLevels>
void mixVoice(const Mixer& mixer, Voice& voice, float* out, int32_t frameCount) {
    constexpr float unitGain = FineLevels ? fineLevelToGain : levelToGain;
    int32_t framesLeft = frameCount;
    while (framesLeft > 0 && voice.sample != nullptr) {
        const Sample& sample = *voice.sample;
        const uint64_t loopStart = sample.loopStart;
        const uint64_t loopEnd = loopStart + sample.loopLength;
        const bool forward = voice.direction == DIRECTION_FORWARD;
        const uint64_t stepSize = playedStep(voice);
        uint64_t position = (uint64_t{static_cast<uint32_t>(voice.positionWhole)} << fractionBits) |
                            voice.positionFraction;

        // The next boundary and the frames until it.
        uint64_t distance;
        if (forward) {
            const bool beforeLoopEnd =
                static_cast<int64_t>(voice.positionWhole) <= static_cast<int64_t>(loopEnd);
            const uint64_t boundary = beforeLoopEnd ? loopEnd : uint64_t{sample.length};
            distance = (boundary << fractionBits) - position;
        } else {
            distance = position - (loopStart << fractionBits);
        }
        int32_t frames = framesLeft;
        bool endsAtBoundary = false;
        if ((distance >> fractionBits) < farBoundaryFrames) {
            const uint64_t coarseDistance = distance >> 8;
            uint64_t coarseStep = stepSize >> 8;
            if (coarseStep == 0) coarseStep = mixer.substituteCountStep;
            const uint64_t count =
                coarseDistance / coarseStep + (coarseDistance % coarseStep != 0 ? 1 : 0);
            if (count <= static_cast<uint64_t>(frames)) {
                frames = static_cast<int32_t>(count);
                endsAtBoundary = true;
            }
        }

        // The volume ramp: the running one goes on while the targets stay, any change starts a
        // full-length ramp from the current level.
        bool ramping;
        if (voice.rampFramesLeft > 0 && voice.leftTarget == voice.rampLeftTarget &&
            voice.rightTarget == voice.rampRightTarget) {
            ramping = true;
        } else {
            voice.rampLeftTarget = voice.leftTarget;
            voice.rampRightTarget = voice.rightTarget;
            const int64_t leftDifference =
                static_cast<int64_t>(voice.leftTarget) - (voice.leftLevel >> 8);
            const int64_t rightDifference =
                static_cast<int64_t>(voice.rightTarget) - (voice.rightLevel >> 8);
            // A voice may ask for a ramp of its own length (once per target change, not per
            // frame, so the division costs nothing in the loop).
            const bool ownLength = voice.rampFrames > 0;
            const int32_t length = ownLength ? voice.rampFrames : mixer.rampLength;
            const float reciprocal =
                ownLength ? 1.0f / static_cast<float>(length) : mixer.rampLengthReciprocal;
            voice.leftRampIncrement = rampIncrement<FineLevels>(leftDifference, reciprocal);
            voice.rightRampIncrement = rampIncrement<FineLevels>(rightDifference, reciprocal);
            ramping = leftDifference != 0 || rightDifference != 0;
            if (ramping) voice.rampFramesLeft = length > 0 ? length : 0;
        }
        if (ramping && voice.rampFramesLeft < frames) {
            frames = voice.rampFramesLeft;
            endsAtBoundary = false;
        }

        const SampleView view{
            sample.data, sample.data != nullptr ? int64_t{sample.length} + sampleGuardValues : 0};
        PassGains gains{};
        if (ramping) {
            gains.left = static_cast<float>(voice.leftLevel) * levelFractionToLevel * unitGain;
            gains.right = static_cast<float>(voice.rightLevel) * levelFractionToLevel * unitGain;
            gains.leftIncrement = voice.leftRampIncrement;
            gains.rightIncrement = voice.rightRampIncrement;
            gains.indexed = voice.rampFrames > 0;
            gains.index = 0;
            position =
                mixPassFrames<true>(mixer, view, out, frames, position, stepSize, !forward, gains);
            if (gains.indexed) {
                gains.left = indexedGain(gains.left, gains.leftIncrement, gains.index);
                gains.right = indexedGain(gains.right, gains.rightIncrement, gains.index);
            }
        } else if (voice.leftTarget == 0 && voice.rightTarget == 0) {
            // A settled silent voice (mostly a partner after a hand-off) adds only zeros, which
            // leave every sum as it is: only its position moves on.
            position = advanceSilently(position, forward ? stepSize : 0 - stepSize, frames);
        } else {
            gains.left = static_cast<float>(voice.leftTarget) * unitGain;
            gains.right = static_cast<float>(voice.rightTarget) * unitGain;
            gains.leftIncrement = 0.0f;
            gains.rightIncrement = 0.0f;
            position =
                mixPassFrames<false>(mixer, view, out, frames, position, stepSize, !forward, gains);
        }
        voice.positionWhole = static_cast<int32_t>(static_cast<uint32_t>(position >> fractionBits));
        voice.positionFraction = static_cast<uint32_t>(position);

        if (ramping) {
            if (frames > 0) {
                voice.leftLevel = levelFromGain<FineLevels>(gains.left);
                voice.rightLevel = levelFromGain<FineLevels>(gains.right);
            }
            voice.rampFramesLeft -= frames;
            if (voice.rampFramesLeft == 0) {
                voice.leftRampIncrement = 0.0f;
                voice.rightRampIncrement = 0.0f;
                voice.leftLevel = settledLevel(voice.leftTarget);
                voice.rightLevel = settledLevel(voice.rightTarget);
            }
        }
        framesLeft -= frames;
        out += 2 * static_cast<int64_t>(frames);
        if (endsAtBoundary) handleBoundary(voice, sample, forward);
    }
}

// A muted voice runs through the same code as a heard one, so its position, loops and ramps
// stay exact; only its output goes nowhere. Cleared before each piece so it cannot grow to
// infinities, which would slow the adds down on some processors.
void mixVoiceUnheard(Mixer& mixer, Voice& voice, int32_t frameCount) {
    float* unheardMix = mixer.unheardMix;
    for (int32_t done = 0; done < frameCount && voice.sample != nullptr;) {
        const int32_t n = frameCount - done < unheardFrames ? frameCount - done : unheardFrames;
        std::memset(unheardMix, 0, sizeof(float) * 2 * static_cast<size_t>(n));
        if (voice.fineLevels != 0) {
            mixVoice<true>(mixer, voice, unheardMix, n);
        } else {
            mixVoice<false>(mixer, voice, unheardMix, n);
        }
        done += n;
    }
}

} // namespace

void setRampConstants(Mixer& mixer, int32_t outputRate) {
    int64_t frames = static_cast<int64_t>(outputRate) * rampFramesAtReferenceRate / referenceRateHz;
    if (frames < 0) frames = 0;
    if (frames > std::numeric_limits<int32_t>::max()) frames = std::numeric_limits<int32_t>::max();
    mixer.rampLength = static_cast<int32_t>(frames);
    // A rate too low for a single ramp frame changes levels at once.
    mixer.rampLengthReciprocal =
        mixer.rampLength > 0 ? 1.0f / static_cast<float>(mixer.rampLength) : 0.0f;
}

void setMixerRate(Mixer& mixer, int32_t outputRate) {
    setRampConstants(mixer, outputRate);
    mixer.substituteCountStep = substituteStepFor(outputRate);
}

bool setWideMixing(Mixer& mixer, bool allowed) {
    mixer.wideMixingRefused = !allowed;
#if defined(MUSIC_MIXER_WIDE)
    return allowed && wideMixingAvailable;
#else
    return false;
#endif
}

void setInterpolation(Mixer& mixer, Interpolation mode) {
    mixer.interpolation = mode;
}

Interpolation interpolation(const Mixer& mixer) {
    return mixer.interpolation;
}

void setMutedChannels(Mixer& mixer, uint32_t channelBits) {
    mixer.mutedChannelBits = channelBits;
}

uint32_t mutedChannels(const Mixer& mixer) {
    return mixer.mutedChannelBits;
}

void mixVoices(Mixer& mixer, float* mixBuffer, int32_t frameCount) {
    if (frameCount <= 0 || mixBuffer == nullptr) return;
    const uint32_t mutedChannelBits = mixer.mutedChannelBits;
    for (int32_t i = 0; i < mixedVoiceCount; ++i) {
        Voice& voice = mixer.voices[i];
        if (voice.sample == nullptr) continue;
        const bool muted = (mutedChannelBits >> (i % partnerVoiceOffset) & 1) != 0;
        if (muted) {
            mixVoiceUnheard(mixer, voice, frameCount);
        } else if (voice.fineLevels != 0) {
            mixVoice<true>(mixer, voice, mixBuffer, frameCount);
        } else {
            mixVoice<false>(mixer, voice, mixBuffer, frameCount);
        }
    }
}

} // namespace music
