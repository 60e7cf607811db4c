// What the demo puts on screen: start-up of the slot textures, quad and shader, and one frame.
#pragma once

#include "image_table.h"
#include "timeline.h"

#include "gl/mesh.h"
#include "gl/shader_program.h"

namespace driver {

struct Scene {
    ImageSlot* slots; // imageSlotCount entries, each with its Texture
    gl::Mesh* mesh;
    gl::ShaderProgram* shader;
    float resolutionWidth; // sent as "resolution"; the shaders declare it and read nothing
    float resolutionHeight;
};

// For each slot in order: a zero-filled Texture, decoded, resampled to 512 x 512, uploaded.
void createSlotTextures(ImageSlot* slots);
// Deletes each slot's Texture (GL name, leftover pixels, record); the context must be current.
void deleteSlotTextures(ImageSlot* slots);
void pointAtQuad(gl::Mesh* mesh);
void buildDemoShader(gl::ShaderProgram* shader);

// Clear, bind, use, uniforms, draw, unbind, unuse, disable the client arrays; no swap.
void drawFrame(const Scene& scene, const BeatFrame& frame);

} // namespace driver
