// Decodes the committed slideshow pictures with the demo's image decoder and checks what it
// reports.
#include "asset_table.h"

#include <gtest/gtest.h>
#include <stb_image.h>

#include <set>

namespace {

using asset_test::expectedFormats;

// The fewest distinct colours a picture of each format may show: a blank or nearly blank
// picture means the artwork or the packing went wrong.
size_t fewestColours(const asset_test::ExpectedFormat& f) {
    if (f.bitDepth == 1) return 2;
    if (f.bitDepth == 4) return 8;
    if (f.colourType == 3) return 64;
    return 1000;
}

TEST(AssetDecoding, EachFileDecodesToItsComponentCountAndSize) {
    for (const auto& expected : expectedFormats) {
        SCOPED_TRACE("image " + std::to_string(expected.file));
        const auto bytes = asset_test::readBytes(asset_test::assetPath(ASSET_DIR, expected.file));
        ASSERT_FALSE(bytes.empty());
        int width = 0, height = 0, components = 0;
        stbi_uc* pixels = stbi_load_from_memory(bytes.data(), static_cast<int>(bytes.size()),
                                                &width, &height, &components, 0);
        ASSERT_NE(pixels, nullptr) << stbi_failure_reason();
        EXPECT_EQ(width, 320);
        EXPECT_EQ(height, 240);
        EXPECT_EQ(components, expected.components);
        std::set<uint32_t> colours;
        const size_t n = static_cast<size_t>(width) * static_cast<size_t>(height);
        for (size_t i = 0; i < n; ++i) {
            uint32_t c = 0;
            for (int k = 0; k < components; ++k)
                c = (c << 8) | pixels[i * static_cast<size_t>(components) + static_cast<size_t>(k)];
            colours.insert(c);
        }
        stbi_image_free(pixels);
        EXPECT_GE(colours.size(), fewestColours(expected));
        if (expected.bitDepth == 1) {
            EXPECT_EQ(colours.size(), 2u);
        }
        if (expected.bitDepth == 4) {
            EXPECT_LE(colours.size(), 16u);
        }
    }
}

TEST(AssetDecoding, OneBitGreyscaleDecodesToBlackAndWhite) {
    for (const auto& expected : expectedFormats) {
        if (expected.colourType != 0) continue;
        SCOPED_TRACE("image " + std::to_string(expected.file));
        const auto bytes = asset_test::readBytes(asset_test::assetPath(ASSET_DIR, expected.file));
        int width = 0, height = 0, components = 0;
        stbi_uc* pixels = stbi_load_from_memory(bytes.data(), static_cast<int>(bytes.size()),
                                                &width, &height, &components, 0);
        ASSERT_NE(pixels, nullptr);
        size_t black = 0, white = 0;
        for (int i = 0; i < width * height; ++i) {
            black += pixels[i] == 0 ? 1 : 0;
            white += pixels[i] == 255 ? 1 : 0;
        }
        stbi_image_free(pixels);
        EXPECT_EQ(black + white, static_cast<size_t>(width * height));
        // Both values make up a real share of the picture, not a stray pixel.
        EXPECT_GT(black, static_cast<size_t>(width * height / 10));
        EXPECT_GT(white, static_cast<size_t>(width * height / 10));
    }
}

} // namespace
