// The stored format each slideshow picture must have, shared by the asset tests.
#pragma once

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace asset_test {

struct ExpectedFormat {
    int file;           // image N is driver/assets/imageNN.png
    uint8_t bitDepth;   // as stored in IHDR
    uint8_t colourType; // 0 greyscale, 2 RGB, 3 palette
    int components;     // what the decoder reports with the file's own channel count
};

constexpr ExpectedFormat grey1(int file) {
    return {file, 1, 0, 1};
}
constexpr ExpectedFormat palette(int file, uint8_t depth) {
    return {file, depth, 3, 3};
}
constexpr ExpectedFormat rgb8(int file) {
    return {file, 8, 2, 3};
}

// In file order; the slot table maps slots 0 and 8 to image 1 and every other slot to one file.
constexpr ExpectedFormat expectedFormats[22] = {
    grey1(1),       grey1(2),       palette(3, 1),  palette(4, 1),  palette(5, 1),  rgb8(6),
    palette(7, 1),  palette(8, 1),  rgb8(9),        palette(10, 4), palette(11, 4), palette(12, 4),
    palette(13, 8), palette(14, 1), palette(15, 1), palette(16, 4), palette(17, 4), palette(18, 8),
    palette(19, 4), rgb8(20),       rgb8(21),       rgb8(22)};

inline std::string assetPath(const std::string& folder, int file) {
    char name[32];
    std::snprintf(name, sizeof name, "/image%02d.png", file);
    return folder + name;
}

inline std::vector<uint8_t> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in),
                                std::istreambuf_iterator<char>());
}

} // namespace asset_test
