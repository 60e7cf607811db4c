// Start-up cost of the pictures: decoding, resampling and uploading all 23 slots, on an
// offscreen GL context (display's, as the capture tool draws), separately and together.
// BM_ResampleAll gives each picture fresh memory, as a lone resample does; BM_PreparePictures is
// the demo's picture thread, which resamples into one block.
#include "display/offscreen.h"
#include "driver/image_table.h"
#include "driver/show.h"
#include "gl/texture.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <vector>

namespace {

display::Offscreen offscreen{};

std::vector<gl::Texture> decodedSlots() {
    std::vector<gl::Texture> textures(driver::imageSlotCount);
    for (int32_t i = 0; i < driver::imageSlotCount; ++i) {
        textures[i] = {};
        gl::decodeTexture(&textures[i], driver::imageTable[i].data, driver::imageTable[i].length);
    }
    return textures;
}

void BM_DecodeAll(benchmark::State& state) {
    for (auto _ : state) {
        std::vector<gl::Texture> textures = decodedSlots();
        for (gl::Texture& t : textures) std::free(t.pixels);
    }
}

void BM_ResampleAll(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        std::vector<gl::Texture> textures = decodedSlots();
        state.ResumeTiming();
        for (gl::Texture& t : textures) gl::resampleTexture(&t, 512, 512);
        state.PauseTiming();
        for (gl::Texture& t : textures) std::free(t.pixels);
        state.ResumeTiming();
    }
}

void BM_UploadAll(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        std::vector<gl::Texture> textures = decodedSlots();
        for (gl::Texture& t : textures) gl::resampleTexture(&t, 512, 512);
        state.ResumeTiming();
        for (gl::Texture& t : textures) gl::uploadTexture(&t);
        glFinish();
        state.PauseTiming();
        for (gl::Texture& t : textures) glDeleteTextures(1, &t.name);
        state.ResumeTiming();
    }
}

// The picture thread's share: decode and resample every slot into one block, as the demo does
// beside the window; the block and the records are given back untimed.
void BM_PreparePictures(benchmark::State& state) {
    for (auto _ : state) {
        driver::PreparedPictures prepared{};
        driver::preparePictures(driver::imageTable, &prepared);
        state.PauseTiming();
        std::free(prepared.block);
        for (int32_t i = 0; i < driver::imageSlotCount; ++i) {
            std::free(driver::imageTable[i].texture->pixels);
            std::free(driver::imageTable[i].texture);
            driver::imageTable[i].texture = nullptr;
        }
        state.ResumeTiming();
    }
}

// What start-up step 9 does, in its order: decode and resample every slot, then upload them.
void BM_SlotTexturesAsStartUp(benchmark::State& state) {
    for (auto _ : state) {
        driver::createSlotTextures(driver::imageTable);
        glFinish();
        state.PauseTiming();
        driver::deleteSlotTextures(driver::imageTable);
        state.ResumeTiming();
    }
}

BENCHMARK(BM_DecodeAll)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ResampleAll)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UploadAll)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PreparePictures)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SlotTexturesAsStartUp)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    if (const char* missing = display::openOffscreen(&offscreen, 640, 480)) {
        std::fprintf(stderr, "startup_bench: no offscreen GL context: %s\n", missing);
        display::closeOffscreen(&offscreen);
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    display::closeOffscreen(&offscreen);
    return 0;
}
