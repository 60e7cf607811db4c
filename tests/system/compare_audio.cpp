// Test helper: compares raw 16-bit stereo audio written by the device with a WAV file's samples,
// from the first sounding frame of each, over the span both hold.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

std::vector<uint8_t> readFile(const char* path) {
    std::vector<uint8_t> bytes;
    std::FILE* in = std::fopen(path, "rb");
    if (in == nullptr) return bytes;
    uint8_t block[65536];
    size_t got = 0;
    while ((got = std::fread(block, 1, sizeof block, in)) > 0)
        bytes.insert(bytes.end(), block, block + got);
    std::fclose(in);
    return bytes;
}

// Offset and size of the WAV file's data chunk.
bool wavData(const std::vector<uint8_t>& wav, size_t* offset, size_t* size) {
    if (wav.size() < 12 || std::memcmp(wav.data(), "RIFF", 4) != 0) return false;
    size_t at = 12;
    while (at + 8 <= wav.size()) {
        uint32_t length = 0;
        std::memcpy(&length, wav.data() + at + 4, 4);
        if (std::memcmp(wav.data() + at, "data", 4) == 0) {
            *offset = at + 8;
            *size = std::min<size_t>(length, wav.size() - at - 8);
            return true;
        }
        at += 8 + length + (length & 1);
    }
    return false;
}

size_t firstSounding(const uint8_t* frames, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        uint32_t frame = 0;
        std::memcpy(&frame, frames + 4 * i, 4);
        if (frame != 0) return i;
    }
    return count;
}

} // namespace

// compare_audio DEVICE.raw RENDER.wav MIN_SECONDS
int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: compare_audio DEVICE.raw RENDER.wav MIN_SECONDS\n");
        return 2;
    }
    const std::vector<uint8_t> raw = readFile(argv[1]);
    const std::vector<uint8_t> wav = readFile(argv[2]);
    size_t dataOffset = 0;
    size_t dataSize = 0;
    if (!wavData(wav, &dataOffset, &dataSize)) {
        std::fprintf(stderr, "compare_audio: %s is no WAV file\n", argv[2]);
        return 2;
    }
    const uint8_t* device = raw.data();
    const uint8_t* render = wav.data() + dataOffset;
    size_t deviceFrames = raw.size() / 4;
    size_t renderFrames = dataSize / 4;
    // The device plays silence while it waits for the first buffer; the song's own start is
    // the first frame with sound in both.
    const size_t deviceStart = firstSounding(device, deviceFrames);
    const size_t renderStart = firstSounding(render, renderFrames);
    device += 4 * deviceStart;
    render += 4 * renderStart;
    deviceFrames -= deviceStart;
    renderFrames -= renderStart;
    const size_t common = std::min(deviceFrames, renderFrames);
    const double minSeconds = std::atof(argv[3]);
    std::printf("device %zu frames (sound from %zu), render %zu frames (sound from %zu), "
                "compared %zu frames = %.3f s\n",
                raw.size() / 4, deviceStart, dataSize / 4, renderStart, common, common / 44100.0);
    if (common < static_cast<size_t>(minSeconds * 44100.0)) {
        std::fprintf(stderr, "compare_audio: only %.3f s in common\n", common / 44100.0);
        return 1;
    }
    for (size_t i = 0; i < common; ++i) {
        if (std::memcmp(device + 4 * i, render + 4 * i, 4) != 0) {
            std::fprintf(stderr, "compare_audio: first difference at frame %zu (%.3f s)\n", i,
                         i / 44100.0);
            return 1;
        }
    }
    std::printf("identical\n");
    return 0;
}
