// PNG files through libpng, with fixed compression settings so that the output is repeatable.
#include "png_write.h"

#include <png.h>
#include <zlib.h>

#include <csetjmp>

namespace png {
namespace {

constexpr size_t paletteEntriesMax = 256;

void appendBytes(png_structp writer, png_bytep data, size_t length) {
    auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(writer));
    out->insert(out->end(), data, data + length);
}

void flushNothing(png_structp) {}

size_t channelsOf(const Image& image) {
    return image.colourType == ColourType::Rgb ? 3 : 1;
}

bool describesValidPng(const Image& image) {
    const uint8_t depth = image.bitDepth;
    const bool depthValid = image.colourType == ColourType::Rgb
                                ? depth == 8
                                : (depth == 1 || depth == 2 || depth == 4 || depth == 8);
    const size_t sampleCount = size_t{image.width} * image.height * channelsOf(image);
    if (!depthValid || image.width == 0 || image.height == 0 || image.samples.size() != sampleCount)
        return false;
    const size_t paletteEntries = image.palette.size() / 3;
    if (image.colourType == ColourType::Palette &&
        (image.palette.size() % 3 != 0 || paletteEntries == 0 ||
         paletteEntries > (size_t{1} << depth)))
        return false;
    // libpng would keep only the low bits of a sample too wide for the depth.
    const uint32_t maxSample = (1u << depth) - 1u;
    for (uint8_t sample : image.samples) {
        if (sample > maxSample) return false;
        if (image.colourType == ColourType::Palette && sample >= paletteEntries) return false;
    }
    return true;
}

// One file with the given row filters into `out`. Only plain values live in this frame, so
// that libpng's longjmp on an error skips no destructor.
bool writeWithFilters(const Image& image, const png_color* palette, int paletteEntries,
                      png_bytepp rows, int filters, std::vector<uint8_t>* out) {
    png_structp writer = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (writer == nullptr) return false;
    png_infop info = png_create_info_struct(writer);
    if (info == nullptr) {
        png_destroy_write_struct(&writer, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(writer))) {
        png_destroy_write_struct(&writer, &info);
        return false;
    }
    png_set_write_fn(writer, out, appendBytes, flushNothing);
    png_set_IHDR(writer, info, image.width, image.height, image.bitDepth,
                 static_cast<int>(image.colourType), PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (image.colourType == ColourType::Palette)
        png_set_PLTE(writer, info, palette, paletteEntries);
    png_set_filter(writer, PNG_FILTER_TYPE_BASE, filters);
    png_set_compression_level(writer, Z_BEST_COMPRESSION);
    png_set_compression_mem_level(writer, MAX_MEM_LEVEL);
    png_set_compression_strategy(writer, Z_DEFAULT_STRATEGY);
    png_set_compression_window_bits(writer, MAX_WBITS);
    // Room for a whole picture: one IDAT chunk.
    png_set_compression_buffer_size(writer, 1u << 20);
    png_write_info(writer, info);
    if (image.bitDepth < 8) png_set_packing(writer);
    png_write_image(writer, rows);
    png_write_end(writer, nullptr);
    png_destroy_write_struct(&writer, &info);
    return true;
}

} // namespace

std::vector<uint8_t> encode(const Image& image) {
    if (!describesValidPng(image)) return {};
    png_color palette[paletteEntriesMax] = {};
    const size_t paletteEntries = image.palette.size() / 3;
    for (size_t i = 0; i < paletteEntries; ++i)
        palette[i] = {image.palette[3 * i], image.palette[3 * i + 1], image.palette[3 * i + 2]};
    // libpng takes the rows as non-const but only reads them when writing.
    std::vector<png_bytep> rows(image.height);
    const size_t rowSamples = size_t{image.width} * channelsOf(image);
    for (size_t y = 0; y < rows.size(); ++y)
        rows[y] = const_cast<png_bytep>(image.samples.data() + y * rowSamples);

    // Both are tried: filters pay off on smooth true-colour work, plain rows on palette art with
    // flat areas.
    std::vector<uint8_t> best;
    for (int filters : {PNG_FILTER_NONE, PNG_ALL_FILTERS}) {
        std::vector<uint8_t> attempt;
        if (!writeWithFilters(image, palette, static_cast<int>(paletteEntries), rows.data(),
                              filters, &attempt))
            return {};
        if (best.empty() || attempt.size() < best.size()) best.swap(attempt);
    }
    return best;
}

} // namespace png
