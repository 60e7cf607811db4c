// Per-frame cost of the capture's colour conversion, RGBA read back from GL to YUV 4:2:0, next to
// swscale's with the settings the capture gave it before: the same frames through both, timed
// one after the other, and checked to give the same bytes.
// Usage: conversion_bench [FRAMES] [WIDTH HEIGHT]
#include "swscale_reference.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Each frame's conversion time in ms, as the capture calls it: into the same planes every frame.
template <typename Convert> std::vector<double> timeFrames(int32_t frames, Convert convert) {
    std::vector<double> ms;
    for (int32_t i = 0; i < frames; ++i) {
        const Clock::time_point start = Clock::now();
        convert(i);
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::sort(ms.begin(), ms.end());
    return ms;
}

double mean(const std::vector<double>& v) {
    double sum = 0;
    for (double x : v) sum += x;
    return sum / static_cast<double>(v.size());
}

} // namespace

int main(int argc, char** argv) {
    const int32_t frames = argc > 1 ? std::atoi(argv[1]) : 200;
    const int32_t width = argc > 3 ? std::atoi(argv[2]) : 1920;
    const int32_t height = argc > 3 ? std::atoi(argv[3]) : 1080;
    if (frames < 1 || width < 2 || height < 8) {
        std::fprintf(stderr, "usage: conversion_bench [FRAMES] [WIDTH HEIGHT]\n");
        return 2;
    }
    // Four pictures taken in turn: noise, and three of flat areas and gradients as the show has.
    std::mt19937 random(1);
    std::vector<std::vector<uint8_t>> pictures(4);
    for (size_t k = 0; k < pictures.size(); ++k) {
        std::vector<uint8_t>& rgba = pictures[k];
        rgba.resize(static_cast<size_t>(width) * height * 4);
        for (int32_t y = 0; y < height; ++y) {
            for (int32_t x = 0; x < width; ++x) {
                uint8_t* p = &rgba[(static_cast<size_t>(y) * width + x) * 4];
                const uint32_t noise = static_cast<uint32_t>(random());
                p[0] = k == 0 ? static_cast<uint8_t>(noise) : static_cast<uint8_t>(x * k);
                p[1] = k == 0 ? static_cast<uint8_t>(noise >> 8) : static_cast<uint8_t>(y * k);
                p[2] = k == 0 ? static_cast<uint8_t>(noise >> 16) : static_cast<uint8_t>(k * 60);
                p[3] = 255;
            }
        }
        const std::string different =
            capture_test::difference(capture_test::byConverter(rgba.data(), width, height),
                                     capture_test::bySwscale(rgba.data(), width, height), width);
        if (!different.empty()) {
            std::fprintf(stderr, "conversion_bench: picture %zu differs from swscale: %s\n", k,
                         different.c_str());
            return 1;
        }
    }

    AVFrame* picture = av_frame_alloc();
    picture->format = AV_PIX_FMT_YUV420P;
    picture->width = width;
    picture->height = height;
    SwsContext* scaler =
        sws_getContext(width, height, AV_PIX_FMT_RGBA, width, height, AV_PIX_FMT_YUV420P,
                       SWS_BILINEAR | SWS_ACCURATE_RND | SWS_BITEXACT, nullptr, nullptr, nullptr);
    capture::RgbToYuv converter;
    if (av_frame_get_buffer(picture, 0) < 0 || scaler == nullptr ||
        !capture::startRgbToYuv(&converter, width, height)) {
        std::fprintf(stderr, "conversion_bench: cannot set up %dx%d\n", width, height);
        return 1;
    }
    sws_setColorspaceDetails(scaler, sws_getCoefficients(SWS_CS_DEFAULT), 1,
                             sws_getCoefficients(SWS_CS_ITU709), 0, 0, 1 << 16, 1 << 16);
    const int stride = width * 4;
    const int strides[1] = {-stride};
    const std::vector<double> bySwscale = timeFrames(frames, [&](int32_t i) {
        const uint8_t* top = pictures[i % 4].data() + static_cast<ptrdiff_t>(height - 1) * stride;
        sws_scale(scaler, &top, strides, 0, height, picture->data, picture->linesize);
    });
    uint8_t* const planes[3] = {picture->data[0], picture->data[1], picture->data[2]};
    const std::vector<double> byConverter = timeFrames(frames, [&](int32_t i) {
        capture::convertRgbToYuv(&converter, pictures[i % 4].data(), planes, picture->linesize);
    });
    std::printf("%dx%d, %d frames, ms per frame:   swscale   capture's loop\n", width, height,
                frames);
    std::printf("  mean                            %7.3f   %7.3f\n", mean(bySwscale),
                mean(byConverter));
    std::printf("  median                          %7.3f   %7.3f\n",
                bySwscale[bySwscale.size() / 2], byConverter[byConverter.size() / 2]);
    std::printf("  fastest                         %7.3f   %7.3f\n", bySwscale.front(),
                byConverter.front());
    std::printf("same bytes as swscale on all %zu pictures\n", pictures.size());
    sws_freeContext(scaler);
    av_frame_free(&picture);
    return 0;
}
