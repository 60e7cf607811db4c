// PNG writer for the picture generator: checksums, an LZ77 + Huffman deflate and chunk layout.
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

// Running checksums in the zlib style: pass the previous result to continue a sequence.
uint32_t crc32(const uint8_t* data, size_t size, uint32_t crc = 0);
uint32_t adler32(const uint8_t* data, size_t size, uint32_t adler = 1);

// A raw deflate stream (no zlib header) of the whole input, always ending in a final block.
std::vector<uint8_t> deflate(const uint8_t* data, size_t size);

// The zlib container: header, deflate stream, Adler-32 of the input.
std::vector<uint8_t> zlibCompress(const uint8_t* data, size_t size);

// The whole file; empty when the picture's fields do not describe a valid PNG.
std::vector<uint8_t> encode(const Image& image);

} // namespace png
