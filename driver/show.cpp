// What the demo puts on screen: start-up of the slot textures, quad and shader, and one frame.
#include "show.h"

#include <cstdio>
#include <cstdlib>

namespace driver {

constexpr uint32_t slotTextureSize = 512;

void createSlotTextures(ImageSlot* slots) {
    for (int32_t i = 0; i < imageSlotCount; ++i) {
        auto* texture = static_cast<gl::Texture*>(std::calloc(1, sizeof(gl::Texture)));
        slots[i].texture = texture;
        if (texture->pixels == nullptr &&
            !gl::decodeTexture(texture, slots[i].data, slots[i].length)) {
            std::printf("Fuck %s", gl::decodeFailureReason());
        }
        gl::resampleTexture(texture, slotTextureSize, slotTextureSize);
        texture->filter = 0;
        gl::uploadTexture(texture);
    }
}

void deleteSlotTextures(ImageSlot* slots) {
    for (int32_t i = 0; i < imageSlotCount; ++i) {
        if (slots[i].texture == nullptr) continue;
        gl::deleteTexture(slots[i].texture);
        slots[i].texture = nullptr;
    }
}

void pointAtQuad(gl::Mesh* mesh) {
    mesh->positions = gl::quadPositions;
    mesh->positionCount = 12;
    mesh->normals = nullptr;
    mesh->texcoords = gl::quadTexcoords;
    mesh->indices = gl::quadIndices;
    mesh->count = 6;
    mesh->primitive = 0;
}

void buildDemoShader(gl::ShaderProgram* shader) {
    shader->vertexSource = gl::demoVertexSource;
    shader->fragmentSource = gl::demoFragmentSource;
    gl::buildShaderProgram(shader);
}

void drawFrame(const Scene& scene, const BeatFrame& frame) {
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    gl::Texture* texture = scene.slots[frame.slot].texture;
    gl::bindTexture(texture, 0);
    gl::useShaderProgram(scene.shader);
    gl::setUniform2f(scene.shader, "resolution", scene.resolutionWidth, scene.resolutionHeight);
    gl::setUniform1i(scene.shader, "textura", 0);
    gl::setUniform1f(scene.shader, "feherGeci", frame.phase * 4.0f);
    gl::drawMesh(scene.mesh);
    gl::unbindTexture(texture);
    gl::unuseShaderProgram(scene.shader);
    gl::disableClientArrays(scene.mesh);
}

} // namespace driver
