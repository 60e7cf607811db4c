// PNG files for the picture generator, written through libpng in each stored format the
// slideshow uses: 1-bit greyscale, 1-, 4- and 8-bit palette, 8-bit RGB.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace png {

enum class ColourType : uint8_t { Grey = 0, Rgb = 2, Palette = 3 };

// One picture as the generator hands it over: one value per sample, row-major, never packed.
// Grey and palette pictures have one sample per pixel, RGB ones three.
struct Image {
    uint32_t width = 0;
    uint32_t height = 0;
    uint8_t bitDepth = 8;
    ColourType colourType = ColourType::Rgb;
    std::vector<uint8_t> palette; // RGB triples; palette pictures only
    std::vector<uint8_t> samples;
};

// The whole file: IHDR, PLTE for palette pictures, IDAT, IEND and nothing else (no
// transparency). The same picture gives the same bytes with the same zlib. Empty when the
// picture's fields do not describe a valid PNG or a sample does not fit its depth or palette.
std::vector<uint8_t> encode(const Image& image);

} // namespace png
