// The 23 picture slots the timeline picks from; slots 0 and 8 show the same file.
#pragma once

#include "timeline.h"

#include "gl/texture.h"

#include <cstdint>

namespace driver {

struct ImageSlot {
    const uint8_t* data;
    uint32_t length;
    gl::Texture* texture; // null until start-up stores the slot's Texture
};

// Image number (1..22) of the file behind each slot.
extern const int32_t slotImageNumbers[imageSlotCount];
extern ImageSlot imageTable[imageSlotCount];

} // namespace driver
