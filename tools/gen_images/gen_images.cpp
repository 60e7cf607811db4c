// Writes the demo's 22 slideshow pictures, image01.png to image22.png, into a given folder.
#include "art.h"
#include "png_write.h"

#include <cstdio>
#include <filesystem>
#include <string>

namespace art {

png::Image greyImage(const Bitmap& bitmap) {
    png::Image image;
    image.width = widthPx;
    image.height = heightPx;
    image.bitDepth = 1;
    image.colourType = png::ColourType::Grey;
    image.samples = bitmap.bits;
    return image;
}

png::Image twoColourImage(const Bitmap& bitmap, Colour zero, Colour one) {
    png::Image image = greyImage(bitmap);
    image.colourType = png::ColourType::Palette;
    image.palette = {zero.r, zero.g, zero.b, one.r, one.g, one.b};
    return image;
}

png::Image paletteImage(const Canvas& canvas, const std::vector<Colour>& palette,
                        uint8_t bitDepth) {
    png::Image image;
    image.width = widthPx;
    image.height = heightPx;
    image.bitDepth = bitDepth;
    image.colourType = png::ColourType::Palette;
    for (const Colour& c : palette) image.palette.insert(image.palette.end(), {c.r, c.g, c.b});
    image.samples = canvas.px;
    return image;
}

png::Image rgbImage(const RgbCanvas& canvas) {
    png::Image image;
    image.width = widthPx;
    image.height = heightPx;
    image.bitDepth = 8;
    image.colourType = png::ColourType::Rgb;
    image.samples = canvas.rgb;
    return image;
}

} // namespace art

namespace {

using Maker = png::Image (*)();

// Index i makes file i + 1, in the demo's order of first use.
constexpr Maker makers[22] = {art::image01, art::image02, art::image03, art::image04, art::image05,
                              art::image06, art::image07, art::image08, art::image09, art::image10,
                              art::image11, art::image12, art::image13, art::image14, art::image15,
                              art::image16, art::image17, art::image18, art::image19, art::image20,
                              art::image21, art::image22};

bool writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2 || std::string(argv[1]) == "--help") {
        std::fprintf(stderr, "usage: %s OUTPUT_FOLDER\nwrites image01.png .. image22.png\n",
                     argv[0]);
        return 2;
    }
    const std::string folder = argv[1];
    // Refuse before the seconds of rendering rather than after them.
    std::error_code error;
    if (!std::filesystem::is_directory(folder, error)) {
        std::fprintf(stderr, "%s: not a folder\n", folder.c_str());
        return 1;
    }
    for (int i = 0; i < 22; ++i) {
        const std::vector<uint8_t> bytes = png::encode(makers[i]());
        char name[32];
        std::snprintf(name, sizeof name, "/image%02d.png", i + 1);
        if (bytes.empty()) {
            std::fprintf(stderr, "image%02d: the picture does not fit its stored format\n", i + 1);
            return 1;
        }
        if (!writeFile(folder + name, bytes)) {
            std::fprintf(stderr, "cannot write %s%s\n", folder.c_str(), name);
            return 1;
        }
    }
    return 0;
}
