// What the demo puts on screen: start-up of the slot textures, quad and shader, and one frame.
#include "show.h"

#if defined(__linux__)
#include <sys/mman.h>
#endif
#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace driver {

constexpr uint32_t slotTextureSize = 512;

namespace {

using Clock = std::chrono::steady_clock;

double millisecondsSince(Clock::time_point from) {
    return std::chrono::duration<double, std::milli>(Clock::now() - from).count();
}

// Fresh memory costs a page fault per 4 KiB page on first touch, about as much as resampling
// into it; in 2 MiB pages the whole block takes a handful. Room for four components everywhere:
// what is never touched is never backed.
uint8_t* allocatePictureBlock(size_t bytes) {
#if defined(__linux__)
    constexpr size_t hugePage = size_t{2} << 20;
    const size_t rounded = (bytes + hugePage - 1) & ~(hugePage - 1);
    void* block = nullptr;
    if (posix_memalign(&block, hugePage, rounded) != 0) return nullptr;
    madvise(block, rounded, MADV_HUGEPAGE);
    return static_cast<uint8_t*>(block);
#else
    return static_cast<uint8_t*>(std::malloc(bytes));
#endif
}

} // namespace

// About what 23 textures of 512 x 512 take in the driver, with room for its own buffers.
constexpr size_t warmHeapBytes = size_t{28} << 20;

void shareOneHeap() {
#if defined(__GLIBC__)
    // Larger blocks than this would be mapped afresh and unmapped on free, never reused.
    mallopt(M_MMAP_THRESHOLD, static_cast<int>(warmHeapBytes + (size_t{4} << 20)));
    mallopt(M_TRIM_THRESHOLD, static_cast<int>(warmHeapBytes * 2));
    // One heap for every thread, so what the picture thread frees the main thread reuses.
    mallopt(M_ARENA_MAX, 1);
#endif
}

void warmHeap() {
#if defined(__GLIBC__)
    auto* block = static_cast<uint8_t*>(std::malloc(warmHeapBytes));
    if (block == nullptr) return;
    // In 2 MiB pages, touching it takes a handful of faults instead of thousands.
    constexpr uintptr_t hugePage = uintptr_t{2} << 20;
    const uintptr_t from = (reinterpret_cast<uintptr_t>(block) + hugePage - 1) & ~(hugePage - 1);
    const uintptr_t to = (reinterpret_cast<uintptr_t>(block) + warmHeapBytes) & ~(hugePage - 1);
    if (to > from) madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
    volatile uint8_t* touch = block;
    for (size_t i = 0; i < warmHeapBytes; i += 4096) touch[i] = 0;
    std::free(block);
#endif
}

void preparePictures(ImageSlot* slots, PreparedPictures* prepared) {
    *prepared = PreparedPictures{};
    constexpr size_t mostBytesPerSlot = size_t{4} * slotTextureSize * slotTextureSize;
    prepared->block = allocatePictureBlock(mostBytesPerSlot * imageSlotCount);
    size_t used = 0;
    for (int32_t i = 0; i < imageSlotCount; ++i) {
        const Clock::time_point started = Clock::now();
        auto* texture = static_cast<gl::Texture*>(std::calloc(1, sizeof(gl::Texture)));
        slots[i].texture = texture;
        if (texture->pixels == nullptr &&
            !gl::decodeTexture(texture, slots[i].data, slots[i].length)) {
            std::printf("Fuck %s", gl::decodeFailureReason());
        }
        const Clock::time_point decoded = Clock::now();
        prepared->decodeMs += std::chrono::duration<double, std::milli>(decoded - started).count();
        const size_t bytes = gl::resampledBytes(texture, slotTextureSize, slotTextureSize);
        uint8_t* target = prepared->block != nullptr && bytes <= mostBytesPerSlot
                              ? prepared->block + used
                              : nullptr;
        if (target != nullptr &&
            gl::resampleTextureInto(texture, slotTextureSize, slotTextureSize, target) == 0) {
            prepared->pixels[i] = target;
            used += bytes;
        } else if (target == nullptr) {
            // No block: each picture gets memory of its own, as the upload expects.
            gl::resampleTexture(texture, slotTextureSize, slotTextureSize);
        }
        prepared->resampleMs += millisecondsSince(decoded);
    }
}

void uploadPictures(ImageSlot* slots, PreparedPictures* prepared) {
    for (int32_t i = 0; i < imageSlotCount; ++i) {
        gl::Texture* texture = slots[i].texture;
        texture->filter = 0;
        if (prepared->pixels[i] != nullptr) {
            gl::uploadTextureFrom(texture, prepared->pixels[i]);
        } else {
            gl::uploadTexture(texture);
        }
        prepared->pixels[i] = nullptr;
    }
    std::free(prepared->block);
    prepared->block = nullptr;
}

void createSlotTextures(ImageSlot* slots) {
    PreparedPictures prepared{};
    preparePictures(slots, &prepared);
    uploadPictures(slots, &prepared);
}

void deleteSlotTextures(ImageSlot* slots, bool contextAlive) {
    for (int32_t i = 0; i < imageSlotCount; ++i) {
        if (slots[i].texture == nullptr) continue;
        if (!contextAlive) slots[i].texture->name = 0;
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
