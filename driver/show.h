// What the demo puts on screen: start-up of the slot textures, quad and shader, and one frame.
#pragma once

#include "image_table.h"
#include "timeline.h"

#include "gl/mesh.h"
#include "gl/shader_program.h"

#include <cstdint>

namespace driver {

struct Scene {
    ImageSlot* slots; // imageSlotCount entries, each with its Texture
    gl::Mesh* mesh;
    gl::ShaderProgram* shader;
    float resolutionWidth; // sent as "resolution"; the shaders declare it and read nothing
    float resolutionHeight;
};

// The picture work that needs no GL, done on a thread of its own while the window comes up:
// for each slot in order a zero-filled Texture, decoded, resampled to 512 x 512 into one block.
struct PreparedPictures {
    uint8_t* block;                  // every slot's resampled pixels, one after another
    uint8_t* pixels[imageSlotCount]; // each slot's share of the block; null when refused
    double decodeMs;                 // summed over the slots
    double resampleMs;
};
void preparePictures(ImageSlot* slots, PreparedPictures* prepared);
// Sets each slot's filter to nearest and uploads it; frees the block. The context must be
// current and preparePictures finished.
void uploadPictures(ImageSlot* slots, PreparedPictures* prepared);
// Where the C library allows it (glibc), makes every thread allocate from one heap that keeps
// what is freed, and, called on the picture thread, touches memory enough for the GL driver's
// texture storage and gives it back: the upload then writes into pages that already exist,
// instead of faulting in some 6000 fresh ones on the main thread. Call the first before any
// other thread starts.
void shareOneHeap();
void warmHeap();
// Both of the above, one after the other.
void createSlotTextures(ImageSlot* slots);
// Deletes each slot's Texture (GL name, leftover pixels, record); the context must be current,
// unless contextAlive is false: then the GL names are given up with the context, unasked.
void deleteSlotTextures(ImageSlot* slots, bool contextAlive = true);
void pointAtQuad(gl::Mesh* mesh);
void buildDemoShader(gl::ShaderProgram* shader);

// Clear, bind, use, uniforms, draw, unbind, unuse, disable the client arrays; no swap.
void drawFrame(const Scene& scene, const BeatFrame& frame);

} // namespace driver
