// The 23 picture slots the timeline picks from; slots 0 and 8 show the same file.
#include "image_table.h"

#include "embedded_assets.h"

namespace driver {

using namespace assets;

const int32_t slotImageNumbers[imageSlotCount] = {1,  2,  3,  4,  5,  6,  7,  8,  1,  9,  10, 11,
                                                  12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22};

ImageSlot imageTable[imageSlotCount] = {
    {image01_png, image01_png_size, nullptr}, {image02_png, image02_png_size, nullptr},
    {image03_png, image03_png_size, nullptr}, {image04_png, image04_png_size, nullptr},
    {image05_png, image05_png_size, nullptr}, {image06_png, image06_png_size, nullptr},
    {image07_png, image07_png_size, nullptr}, {image08_png, image08_png_size, nullptr},
    {image01_png, image01_png_size, nullptr}, {image09_png, image09_png_size, nullptr},
    {image10_png, image10_png_size, nullptr}, {image11_png, image11_png_size, nullptr},
    {image12_png, image12_png_size, nullptr}, {image13_png, image13_png_size, nullptr},
    {image14_png, image14_png_size, nullptr}, {image15_png, image15_png_size, nullptr},
    {image16_png, image16_png_size, nullptr}, {image17_png, image17_png_size, nullptr},
    {image18_png, image18_png_size, nullptr}, {image19_png, image19_png_size, nullptr},
    {image20_png, image20_png_size, nullptr}, {image21_png, image21_png_size, nullptr},
    {image22_png, image22_png_size, nullptr},
};

} // namespace driver
