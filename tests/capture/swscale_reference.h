// The capture's colour conversion against swscale with the settings the capture used to give it:
// RGBA to YUV420P of the same size, bilinear with accurate rounding, bit-exact, full-range RGB in
// and BT.709 limited range out, the picture turned upright by a negative stride.
#pragma once

#include "rgb_to_yuv.h"

extern "C" {
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace capture_test {

struct Yuv {
    std::vector<uint8_t> planes[3];
};

inline Yuv bySwscale(const uint8_t* rgbaBottomUp, int32_t width, int32_t height) {
    Yuv out;
    SwsContext* scaler =
        sws_getContext(width, height, AV_PIX_FMT_RGBA, width, height, AV_PIX_FMT_YUV420P,
                       SWS_BILINEAR | SWS_ACCURATE_RND | SWS_BITEXACT, nullptr, nullptr, nullptr);
    AVFrame* frame = av_frame_alloc();
    if (scaler == nullptr || frame == nullptr) return out;
    sws_setColorspaceDetails(scaler, sws_getCoefficients(SWS_CS_DEFAULT), 1,
                             sws_getCoefficients(SWS_CS_ITU709), 0, 0, 1 << 16, 1 << 16);
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = width;
    frame->height = height;
    if (av_frame_get_buffer(frame, 0) == 0) {
        const int stride = width * 4;
        const uint8_t* top = rgbaBottomUp + static_cast<ptrdiff_t>(height - 1) * stride;
        const int strides[1] = {-stride};
        sws_scale(scaler, &top, strides, 0, height, frame->data, frame->linesize);
        for (int p = 0; p < 3; ++p) {
            const int32_t w = p == 0 ? width : width / 2;
            const int32_t h = p == 0 ? height : height / 2;
            for (int32_t y = 0; y < h; ++y) {
                const uint8_t* row =
                    frame->data[p] + static_cast<ptrdiff_t>(y) * frame->linesize[p];
                out.planes[p].insert(out.planes[p].end(), row, row + w);
            }
        }
    }
    av_frame_free(&frame);
    sws_freeContext(scaler);
    return out;
}

inline Yuv byConverter(const uint8_t* rgbaBottomUp, int32_t width, int32_t height) {
    Yuv out;
    out.planes[0].resize(static_cast<size_t>(width) * height);
    out.planes[1].resize(static_cast<size_t>(width / 2) * (height / 2));
    out.planes[2].resize(out.planes[1].size());
    capture::RgbToYuv converter;
    if (!capture::startRgbToYuv(&converter, width, height)) return out;
    uint8_t* const planes[3] = {out.planes[0].data(), out.planes[1].data(), out.planes[2].data()};
    const int strides[3] = {width, width / 2, width / 2};
    capture::convertRgbToYuv(&converter, rgbaBottomUp, planes, strides);
    return out;
}

// Empty when the two agree byte for byte, else where they first differ and how many differ.
inline std::string difference(const Yuv& a, const Yuv& b, int32_t width) {
    static const char* const names[3] = {"Y", "U", "V"};
    for (int p = 0; p < 3; ++p) {
        if (a.planes[p].size() != b.planes[p].size()) return std::string(names[p]) + ": sizes";
        size_t count = 0;
        size_t first = 0;
        for (size_t i = a.planes[p].size(); i-- > 0;) {
            if (a.planes[p][i] != b.planes[p][i]) {
                ++count;
                first = i;
            }
        }
        if (count > 0) {
            const size_t w = static_cast<size_t>(p == 0 ? width : width / 2);
            char text[160];
            std::snprintf(text, sizeof text, "%s: %zu values differ, first at %zu,%zu (%d, not %d)",
                          names[p], count, first % w, first / w, a.planes[p][first],
                          b.planes[p][first]);
            return text;
        }
    }
    return "";
}

} // namespace capture_test
