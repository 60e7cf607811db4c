// The picture generator's PNG writer, read back through the demo's own image decoder.
#include "png_write.h"

#include <gtest/gtest.h>
#include <stb_image.h>

#include <string>

namespace {

png::Image checkerImage(png::ColourType type, uint8_t depth, uint32_t w, uint32_t h) {
    png::Image image;
    image.width = w;
    image.height = h;
    image.bitDepth = depth;
    image.colourType = type;
    const uint32_t channels = type == png::ColourType::Rgb ? 3 : 1;
    const uint32_t levels = 1u << depth;
    if (type == png::ColourType::Palette)
        for (uint32_t i = 0; i < levels; ++i)
            image.palette.insert(image.palette.end(),
                                 {static_cast<uint8_t>(i * 17), static_cast<uint8_t>(255 - i * 3),
                                  static_cast<uint8_t>(i * 5)});
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x)
            for (uint32_t k = 0; k < channels; ++k)
                image.samples.push_back(static_cast<uint8_t>((x * 7 + y * 3 + k) % levels));
    return image;
}

// Every stored format the slideshow uses; libpng packs the samples below 8 bits.
TEST(PngWriter, PackedSamplesDecodeToTheSameValues) {
    struct Case {
        png::ColourType type;
        uint8_t depth;
    };
    // Odd widths leave padding bits at each row's end.
    const Case cases[] = {{png::ColourType::Grey, 1},
                          {png::ColourType::Palette, 1},
                          {png::ColourType::Palette, 4},
                          {png::ColourType::Palette, 8},
                          {png::ColourType::Rgb, 8}};
    for (const Case& c : cases) {
        SCOPED_TRACE("type " + std::to_string(static_cast<int>(c.type)) + " depth " +
                     std::to_string(c.depth));
        const png::Image image = checkerImage(c.type, c.depth, 13, 5);
        const auto file = png::encode(image);
        ASSERT_FALSE(file.empty());
        int w = 0, h = 0, comp = 0;
        stbi_uc* px =
            stbi_load_from_memory(file.data(), static_cast<int>(file.size()), &w, &h, &comp, 0);
        ASSERT_NE(px, nullptr) << stbi_failure_reason();
        ASSERT_EQ(w, 13);
        ASSERT_EQ(h, 5);
        const int channels = c.type == png::ColourType::Rgb ? 3 : 1;
        for (int i = 0; i < w * h; ++i) {
            const uint8_t* s = &image.samples[static_cast<size_t>(i * channels)];
            if (c.type == png::ColourType::Palette) {
                ASSERT_EQ(comp, 3);
                for (int k = 0; k < 3; ++k)
                    EXPECT_EQ(px[i * 3 + k],
                              image.palette[size_t{s[0]} * 3 + static_cast<size_t>(k)]);
            } else if (c.type == png::ColourType::Grey) {
                ASSERT_EQ(comp, 1);
                EXPECT_EQ(px[i], s[0] ? 255 : 0);
            } else {
                ASSERT_EQ(comp, 3);
                for (int k = 0; k < 3; ++k) EXPECT_EQ(px[i * 3 + k], s[k]);
            }
        }
        stbi_image_free(px);
    }
}

TEST(PngWriter, RefusesPicturesItCannotStoreFaithfully) {
    png::Image tooFewSamples = checkerImage(png::ColourType::Rgb, 8, 4, 4);
    tooFewSamples.samples.pop_back();
    EXPECT_TRUE(png::encode(tooFewSamples).empty());

    png::Image pastThePalette = checkerImage(png::ColourType::Palette, 4, 4, 4);
    pastThePalette.palette.resize(3 * 4); // four entries, but indices go up to 15
    EXPECT_TRUE(png::encode(pastThePalette).empty());

    png::Image valueTooWide = checkerImage(png::ColourType::Grey, 1, 4, 4);
    valueTooWide.samples[3] = 2;
    EXPECT_TRUE(png::encode(valueTooWide).empty());

    png::Image rgbAtFourBits = checkerImage(png::ColourType::Rgb, 8, 4, 4);
    rgbAtFourBits.bitDepth = 4;
    EXPECT_TRUE(png::encode(rgbAtFourBits).empty());

    png::Image empty = checkerImage(png::ColourType::Grey, 1, 4, 4);
    empty.width = 0;
    EXPECT_TRUE(png::encode(empty).empty());
}

} // namespace
