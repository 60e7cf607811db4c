// Round trips of the picture generator's deflate and PNG writer through an independent decoder.
#include "png_encode.h"

#include <gtest/gtest.h>
#include <stb_image.h>

#include <cstring>
#include <string>

namespace {

std::vector<uint8_t> bytesOf(const std::string& text) {
    return {text.begin(), text.end()};
}

// Inflates a zlib stream with the image decoder's own inflater.
std::vector<uint8_t> inflate(const std::vector<uint8_t>& stream, size_t expectedSize) {
    std::vector<char> out(expectedSize + 1);
    const int n = stbi_zlib_decode_buffer(out.data(), static_cast<int>(out.size()),
                                          reinterpret_cast<const char*>(stream.data()),
                                          static_cast<int>(stream.size()));
    if (n < 0) return {0xDE, 0xAD};
    return std::vector<uint8_t>(out.begin(), out.begin() + n);
}

uint32_t trailer(const std::vector<uint8_t>& z) {
    const size_t n = z.size();
    return (uint32_t{z[n - 4]} << 24) | (uint32_t{z[n - 3]} << 16) | (uint32_t{z[n - 2]} << 8) |
           z[n - 1];
}

uint64_t lcg(uint64_t& state) {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return state >> 33;
}

TEST(Checksums, MatchTheirPublishedCheckValues) {
    const auto digits = bytesOf("123456789");
    EXPECT_EQ(png::crc32(digits.data(), digits.size()), 0xCBF43926u);
    const auto word = bytesOf("Wikipedia");
    EXPECT_EQ(png::adler32(word.data(), word.size()), 0x11E60398u);
    EXPECT_EQ(png::adler32(nullptr, 0), 1u);
    // Continuing a running checksum gives the same result as one pass.
    const uint32_t first = png::crc32(digits.data(), 4);
    EXPECT_EQ(png::crc32(digits.data() + 4, 5, first), 0xCBF43926u);
    const uint32_t firstAdler = png::adler32(word.data(), 3);
    EXPECT_EQ(png::adler32(word.data() + 3, 6, firstAdler), 0x11E60398u);
}

TEST(Checksums, AdlerStaysReducedOverLongRunsOfHighBytes) {
    const std::vector<uint8_t> ones(100000, 0xFF);
    uint32_t a = 1, b = 0;
    for (uint8_t v : ones) {
        a = (a + v) % 65521u;
        b = (b + a) % 65521u;
    }
    EXPECT_EQ(png::adler32(ones.data(), ones.size()), (b << 16) | a);
}

struct RoundTripCase {
    const char* name;
    std::vector<uint8_t> data;
};

std::vector<RoundTripCase> roundTripCases() {
    std::vector<RoundTripCase> cases;
    cases.push_back({"empty", {}});
    cases.push_back({"one byte", {0x42}});
    cases.push_back({"two bytes", {0x42, 0x42}});
    cases.push_back({"long zero run", std::vector<uint8_t>(100000, 0)});
    std::vector<uint8_t> noise(200000);
    uint64_t seed = 1;
    for (auto& v : noise) v = static_cast<uint8_t>(lcg(seed));
    cases.push_back({"incompressible noise past a stored block's size", noise});
    // A random block followed by its own copy: matches at the window's farthest distance.
    std::vector<uint8_t> echo(noise.begin(), noise.begin() + 32768);
    echo.insert(echo.end(), noise.begin(), noise.begin() + 40000);
    cases.push_back({"repeat at distance 32768", echo});
    std::vector<uint8_t> mixed;
    for (int i = 0; i < 60000; ++i) {
        const uint64_t r = lcg(seed);
        if (r % 7 == 0)
            mixed.push_back(static_cast<uint8_t>(r >> 8));
        else
            mixed.push_back(static_cast<uint8_t>("a tiny alphabet"[r % 15]));
    }
    cases.push_back({"skewed alphabet for dynamic codes", mixed});
    std::vector<uint8_t> lengths;
    for (int len = 1; len <= 300; ++len)
        for (int i = 0; i < len; ++i) lengths.push_back(static_cast<uint8_t>(len));
    cases.push_back({"runs of every length across the length codes", lengths});
    return cases;
}

TEST(Deflate, RoundTripsThroughAnIndependentInflater) {
    for (const auto& c : roundTripCases()) {
        SCOPED_TRACE(c.name);
        const auto z = png::zlibCompress(c.data.data(), c.data.size());
        ASSERT_GE(z.size(), 6u);
        EXPECT_EQ(((uint32_t{z[0]} << 8) | z[1]) % 31u, 0u) << "zlib header check bits";
        EXPECT_EQ(z[0] & 0x0F, 8) << "deflate method";
        EXPECT_EQ(trailer(z), png::adler32(c.data.data(), c.data.size()));
        EXPECT_EQ(inflate(z, c.data.size()), c.data);
    }
}

TEST(Deflate, CompressesRepetitiveDataAndBoundsIncompressibleData) {
    const std::vector<uint8_t> zeros(100000, 0);
    EXPECT_LT(png::zlibCompress(zeros.data(), zeros.size()).size(), 1000u);
    std::vector<uint8_t> noise(100000);
    uint64_t seed = 7;
    for (auto& v : noise) v = static_cast<uint8_t>(lcg(seed));
    // Falling back to stored blocks caps the growth at a few bytes per block.
    EXPECT_LE(png::zlibCompress(noise.data(), noise.size()).size(),
              noise.size() + noise.size() / 1000 + 16);
}

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
