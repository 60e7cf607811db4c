// The capture's colour conversion gives swscale's bytes: on random pictures of several sizes,
// on every colour, on flat areas and edges. The demo's own frames are compared by capture_check
// in the capture_conversion case.
#include "swscale_reference.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

namespace {

using capture_test::byConverter;
using capture_test::bySwscale;
using capture_test::difference;

std::string compare(const std::vector<uint8_t>& rgba, int32_t width, int32_t height) {
    return difference(byConverter(rgba.data(), width, height),
                      bySwscale(rgba.data(), width, height), width);
}

TEST(RgbToYuv, RandomPicturesOfManySizes) {
    std::mt19937 random(20261208);
    for (const auto& [width, height] :
         {std::pair{2, 8}, {4, 8}, {6, 10}, {16, 16}, {64, 36}, {638, 358}, {1920, 1080}}) {
        for (int trial = 0; trial < 3; ++trial) {
            std::vector<uint8_t> rgba(static_cast<size_t>(width) * height * 4);
            for (uint8_t& b : rgba) b = static_cast<uint8_t>(random());
            // Only the extremes: every rounding and clipping edge at once.
            if (trial == 1)
                for (uint8_t& b : rgba) b = (b & 1) != 0 ? 255 : 0;
            EXPECT_EQ(compare(rgba, width, height), "") << width << "x" << height << " " << trial;
        }
    }
}

// Below 8 rows swscale shortens its vertical chroma filter; the conversion refuses those sizes
// rather than give other bytes, and odd ones.
TEST(RgbToYuv, RefusesSizesItDoesNotMatch) {
    capture::RgbToYuv converter;
    EXPECT_FALSE(capture::startRgbToYuv(&converter, 16, 6));
    EXPECT_FALSE(capture::startRgbToYuv(&converter, 15, 16));
    EXPECT_FALSE(capture::startRgbToYuv(&converter, 16, 9));
    EXPECT_FALSE(capture::startRgbToYuv(&converter, 0, 16));
    EXPECT_TRUE(capture::startRgbToYuv(&converter, 2, 8));
}

// Every colour once, as 4096 x 4096 pixels: luma is per pixel, so all of it is checked; chroma
// sees each colour beside its neighbours in the order.
TEST(RgbToYuv, EveryColour) {
    constexpr int32_t side = 4096;
    std::vector<uint8_t> rgba(static_cast<size_t>(side) * side * 4);
    for (uint32_t c = 0; c < side * side; ++c) {
        rgba[c * 4] = static_cast<uint8_t>(c);
        rgba[c * 4 + 1] = static_cast<uint8_t>(c >> 8);
        rgba[c * 4 + 2] = static_cast<uint8_t>(c >> 16);
        rgba[c * 4 + 3] = static_cast<uint8_t>(c * 7);
    }
    EXPECT_EQ(compare(rgba, side, side), "");
}

// Flat areas, gradients and hard edges, as the show draws them.
TEST(RgbToYuv, FlatAreasGradientsAndEdges) {
    constexpr int32_t width = 320;
    constexpr int32_t height = 180;
    std::vector<uint8_t> rgba(static_cast<size_t>(width) * height * 4);
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            uint8_t* p = &rgba[(static_cast<size_t>(y) * width + x) * 4];
            const bool inside = x > 101 && x < 203 && y > 51 && y < 113;
            p[0] = inside ? 255 : static_cast<uint8_t>(x * 255 / (width - 1));
            p[1] = inside ? 255 : static_cast<uint8_t>(y * 255 / (height - 1));
            p[2] = inside ? 0 : static_cast<uint8_t>((x + y) & 1 ? 200 : 30);
            p[3] = 255;
        }
    }
    EXPECT_EQ(compare(rgba, width, height), "");
}

} // namespace
