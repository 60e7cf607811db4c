// The resampler, the decoder's failure path and the upload format rule, without a GL context.
#include "gl/texture.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

namespace {

gl::Texture* makeTexture(int32_t width, int32_t height, int32_t components) {
    auto* texture = static_cast<gl::Texture*>(std::calloc(1, sizeof(gl::Texture)));
    texture->width = width;
    texture->height = height;
    texture->components = components;
    const size_t bytes = static_cast<size_t>(width) * height * components;
    texture->pixels = static_cast<uint8_t*>(std::malloc(bytes > 0 ? bytes : 1));
    return texture;
}

uint8_t at(const gl::Texture* t, int32_t x, int32_t y, int32_t c) {
    return t->pixels[(static_cast<size_t>(y) * t->width + x) * t->components + c];
}

void fillRandom(gl::Texture* t, uint32_t seed) {
    std::mt19937 random(seed);
    for (size_t i = 0; i < static_cast<size_t>(t->width) * t->height * t->components; ++i) {
        t->pixels[i] = static_cast<uint8_t>(random());
    }
}

TEST(Resample, LastTargetColumnIsTheLastSourceColumnExactly) {
    // Rows all alike, so every target row of column 511 must equal source column 319.
    gl::Texture* t = makeTexture(320, 240, 3);
    std::mt19937 random(7);
    for (int32_t x = 0; x < 320; ++x) {
        for (int32_t c = 0; c < 3; ++c) {
            const auto value = static_cast<uint8_t>(random());
            for (int32_t y = 0; y < 240; ++y) t->pixels[(y * 320 + x) * 3 + c] = value;
        }
    }
    uint8_t lastColumn[3] = {at(t, 319, 0, 0), at(t, 319, 0, 1), at(t, 319, 0, 2)};
    ASSERT_EQ(gl::resampleTexture(t, 512, 512), 0);
    EXPECT_EQ(t->width, 512);
    EXPECT_EQ(t->height, 512);
    EXPECT_EQ(t->components, 3);
    for (int32_t y = 0; y < 512; ++y) {
        for (int32_t c = 0; c < 3; ++c) ASSERT_EQ(at(t, 511, y, c), lastColumn[c]) << y;
    }
    gl::deleteTexture(t);
}

TEST(Resample, LastTargetRowIsTheLastSourceRowExactly) {
    gl::Texture* t = makeTexture(320, 240, 1);
    std::mt19937 random(11);
    for (int32_t y = 0; y < 240; ++y) {
        const auto value = static_cast<uint8_t>(random());
        std::memset(t->pixels + y * 320, value, 320);
    }
    const uint8_t lastRow = at(t, 0, 239, 0);
    ASSERT_EQ(gl::resampleTexture(t, 512, 512), 0);
    for (int32_t x = 0; x < 512; ++x) ASSERT_EQ(at(t, x, 511, 0), lastRow) << x;
    gl::deleteTexture(t);
}

TEST(Resample, CornersOfANoisyPictureAreKept) {
    gl::Texture* t = makeTexture(320, 240, 3);
    fillRandom(t, 3);
    uint8_t corners[4][3];
    for (int32_t c = 0; c < 3; ++c) {
        corners[0][c] = at(t, 0, 0, c);
        corners[1][c] = at(t, 319, 0, c);
        corners[2][c] = at(t, 0, 239, c);
        corners[3][c] = at(t, 319, 239, c);
    }
    ASSERT_EQ(gl::resampleTexture(t, 512, 512), 0);
    for (int32_t c = 0; c < 3; ++c) {
        EXPECT_EQ(at(t, 0, 0, c), corners[0][c]);
        EXPECT_EQ(at(t, 511, 0, c), corners[1][c]);
        EXPECT_EQ(at(t, 0, 511, c), corners[2][c]);
        EXPECT_EQ(at(t, 511, 511, c), corners[3][c]);
    }
    gl::deleteTexture(t);
}

TEST(Resample, UniformStaysUniformAtAnySize) {
    struct Case {
        int32_t width, height, components;
        uint32_t newWidth, newHeight;
        uint8_t value;
    };
    const Case cases[] = {{320, 240, 3, 512, 512, 173}, {320, 240, 1, 512, 512, 255},
                          {7, 5, 4, 3, 9, 1},           {2, 2, 2, 1024, 3, 254},
                          {640, 2, 3, 2, 640, 0},       {320, 240, 3, 512, 512, 127}};
    for (const Case& c : cases) {
        gl::Texture* t = makeTexture(c.width, c.height, c.components);
        std::memset(t->pixels, c.value, static_cast<size_t>(c.width) * c.height * c.components);
        ASSERT_EQ(gl::resampleTexture(t, c.newWidth, c.newHeight), 0);
        const size_t bytes = static_cast<size_t>(c.newWidth) * c.newHeight * c.components;
        for (size_t i = 0; i < bytes; ++i) ASSERT_EQ(t->pixels[i], c.value) << i;
        gl::deleteTexture(t);
    }
}

TEST(Resample, HalfwayValuesRoundUp) {
    // A 2 x 2 source stretched to 3 columns: the middle column is the exact average.
    struct Case {
        uint8_t left, right, middle;
    };
    const Case cases[] = {{0, 1, 1},    {0, 3, 2},       {0, 2, 1},
                          {10, 13, 12}, {254, 255, 255}, {255, 0, 128}};
    for (const Case& c : cases) {
        gl::Texture* t = makeTexture(2, 2, 1);
        t->pixels[0] = c.left;
        t->pixels[1] = c.right;
        t->pixels[2] = c.left;
        t->pixels[3] = c.right;
        ASSERT_EQ(gl::resampleTexture(t, 3, 2), 0);
        EXPECT_EQ(at(t, 0, 0, 0), c.left);
        EXPECT_EQ(at(t, 1, 0, 0), c.middle) << int(c.left) << " " << int(c.right);
        EXPECT_EQ(at(t, 2, 1, 0), c.right);
        gl::deleteTexture(t);
    }
}

TEST(Resample, TooSmallOrEmptyIsRefusedAndUntouched) {
    struct Case {
        int32_t width, height, components;
        uint32_t newWidth, newHeight;
    };
    const Case cases[] = {{1, 240, 3, 512, 512}, {320, 1, 3, 512, 512}, {320, 240, 0, 512, 512},
                          {320, 240, 3, 1, 512}, {320, 240, 3, 512, 1}, {320, 240, 3, 0, 0},
                          {0, 0, 3, 512, 512},   {-4, 240, 3, 512, 512}};
    for (const Case& c : cases) {
        gl::Texture* t = makeTexture(c.width > 0 ? c.width : 1, c.height, c.components);
        t->width = c.width;
        uint8_t* before = t->pixels;
        EXPECT_EQ(gl::resampleTexture(t, c.newWidth, c.newHeight), 1);
        EXPECT_EQ(t->pixels, before);
        EXPECT_EQ(t->width, c.width);
        EXPECT_EQ(t->height, c.height);
        gl::deleteTexture(t);
    }
    gl::Texture empty{};
    empty.width = 320;
    empty.height = 240;
    empty.components = 3;
    EXPECT_EQ(gl::resampleTexture(&empty, 512, 512), 1);
    EXPECT_EQ(empty.pixels, nullptr);
}

// The formula as written, one output byte at a time with every weight worked out in place: what
// the column tables must reproduce to the byte.
std::vector<uint8_t> resampledByFormula(const gl::Texture* t, uint32_t newWidth,
                                        uint32_t newHeight) {
    std::vector<uint8_t> out(static_cast<size_t>(t->components) * newWidth * newHeight);
    const float sx = static_cast<float>(t->width - 1) / static_cast<float>(newWidth - 1);
    const float sy = static_cast<float>(t->height - 1) / static_cast<float>(newHeight - 1);
    size_t o = 0;
    for (uint32_t y = 0; y < newHeight; ++y) {
        const float fy = static_cast<float>(y) * sy;
        int32_t iy = static_cast<int32_t>(fy);
        if (iy > t->height - 2) iy = t->height - 2;
        const float ty = fy - static_cast<float>(iy);
        for (uint32_t x = 0; x < newWidth; ++x) {
            const float fx = static_cast<float>(x) * sx;
            int32_t ix = static_cast<int32_t>(fx);
            if (ix > t->width - 2) ix = t->width - 2;
            const float tx = fx - static_cast<float>(ix);
            for (int32_t c = 0; c < t->components; ++c) {
                const float p00 = at(t, ix, iy, c);
                const float p01 = at(t, ix + 1, iy, c);
                const float p10 = at(t, ix, iy + 1, c);
                const float p11 = at(t, ix + 1, iy + 1, c);
                const float value = p00 * (1.0f - tx) * (1.0f - ty) + 0.5f +
                                    p01 * tx * (1.0f - ty) + p10 * (1.0f - tx) * ty + p11 * tx * ty;
                out[o++] = static_cast<uint8_t>(static_cast<int32_t>(value));
            }
        }
    }
    return out;
}

TEST(Resample, ColumnTablesGiveTheFormulasBytesIntoEitherBuffer) {
    struct Case {
        int32_t width, height, components;
        uint32_t newWidth, newHeight;
    };
    const Case cases[] = {{320, 240, 3, 512, 512}, {320, 240, 1, 512, 512}, {320, 240, 4, 512, 512},
                          {97, 61, 2, 300, 77},    {333, 211, 3, 100, 50},  {2, 2, 3, 2, 2},
                          {17, 2, 5, 2, 9}};
    uint32_t seed = 7;
    for (const Case& c : cases) {
        gl::Texture* own = makeTexture(c.width, c.height, c.components);
        fillRandom(own, ++seed);
        gl::Texture* borrowed = makeTexture(c.width, c.height, c.components);
        std::memcpy(borrowed->pixels, own->pixels,
                    static_cast<size_t>(c.width) * c.height * c.components);
        const std::vector<uint8_t> expected = resampledByFormula(own, c.newWidth, c.newHeight);

        ASSERT_EQ(gl::resampleTexture(own, c.newWidth, c.newHeight), 0);
        EXPECT_EQ(0, std::memcmp(own->pixels, expected.data(), expected.size()))
            << c.width << "x" << c.height << "x" << c.components;

        ASSERT_EQ(gl::resampledBytes(borrowed, c.newWidth, c.newHeight), expected.size());
        std::vector<uint8_t> target(expected.size() + 1, 0xA5);
        ASSERT_EQ(gl::resampleTextureInto(borrowed, c.newWidth, c.newHeight, target.data()), 0);
        EXPECT_EQ(borrowed->pixels, nullptr) << "the record keeps no pixels of its own";
        EXPECT_EQ(borrowed->width, static_cast<int32_t>(c.newWidth));
        EXPECT_EQ(borrowed->height, static_cast<int32_t>(c.newHeight));
        EXPECT_EQ(0, std::memcmp(target.data(), expected.data(), expected.size()));
        EXPECT_EQ(target.back(), 0xA5) << "written past its share";
        gl::deleteTexture(own);
        gl::deleteTexture(borrowed);
    }
}

TEST(Resample, IntoRefusesWhatTheOtherRefusesAndWritesNothing) {
    gl::Texture* t = makeTexture(1, 240, 3);
    uint8_t* before = t->pixels;
    uint8_t target[16] = {};
    EXPECT_EQ(gl::resampleTextureInto(t, 2, 2, target), 1);
    EXPECT_EQ(t->pixels, before);
    EXPECT_EQ(t->width, 1);
    for (uint8_t b : target) EXPECT_EQ(b, 0);
    gl::deleteTexture(t);
}

TEST(Decode, GarbageFailsAndLeavesTheRecordEmpty) {
    const uint8_t garbage[] = {0x89, 'P', 'N', 'G', 1, 2, 3, 4, 5, 6, 7, 8};
    gl::Texture t{};
    EXPECT_FALSE(gl::decodeTexture(&t, garbage, sizeof garbage));
    EXPECT_EQ(t.pixels, nullptr);
    EXPECT_EQ(t.width, 0);
    EXPECT_EQ(t.height, 0);
    EXPECT_EQ(t.components, 0);
    ASSERT_NE(gl::decodeFailureReason(), nullptr);
    EXPECT_GT(std::strlen(gl::decodeFailureReason()), 0u);
}

TEST(UploadRule, ComponentsChooseTheFormat) {
    EXPECT_EQ(gl::uploadFormatFor(1), static_cast<GLenum>(GL_LUMINANCE));
    EXPECT_EQ(gl::uploadFormatFor(2), static_cast<GLenum>(GL_LUMINANCE_ALPHA));
    EXPECT_EQ(gl::uploadFormatFor(3), static_cast<GLenum>(GL_RGB));
    EXPECT_EQ(gl::uploadFormatFor(4), static_cast<GLenum>(GL_RGBA));
    EXPECT_EQ(gl::uploadFormatFor(0), static_cast<GLenum>(GL_RGB));
    EXPECT_EQ(gl::uploadFormatFor(5), static_cast<GLenum>(GL_RGB));
    EXPECT_EQ(gl::filterFor(0), GL_NEAREST);
    EXPECT_EQ(gl::filterFor(1), GL_LINEAR);
    EXPECT_EQ(gl::filterFor(7), GL_NEAREST);
}

} // namespace
