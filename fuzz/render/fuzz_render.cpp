// libFuzzer target: loads arbitrary bytes as a module and renders a few seconds of it offline.
#include "music/module.h"
#include "music/offline_render.h"
#include "music/stream.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>

namespace {

constexpr int32_t renderSeconds = 3;
constexpr int32_t outputRateHz = 44100;
constexpr int32_t blockFrames = 4096;

int16_t block[blockFrames * 2];

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > static_cast<size_t>(std::numeric_limits<int32_t>::max())) return 0;
    // A block of exactly the input's size, so that any read past its end is caught.
    std::unique_ptr<uint8_t[]> bytes(new uint8_t[size]);
    if (size > 0) std::memcpy(bytes.get(), data, size);

    music::MemoryStream description{static_cast<int32_t>(size), 0, bytes.get()};
    music::Player* player = music::createPlayer(&description);
    if (player == nullptr) return 0;
    if (music::offlineBegin(player)) {
        int32_t left = renderSeconds * outputRateHz;
        while (left > 0) {
            const int32_t n = left < blockFrames ? left : blockFrames;
            if (music::offlineRender(player, block, n) != n)
                std::abort(); // a running render never stops
            left -= n;
        }
        music::offlineEnd(player);
    }
    music::destroyPlayer(player);
    return 0;
}
