// xminfo: loads an XM module the way the demo does and prints what the loader made of it.
#include "music/load_result.h"
#include "music/module.h"
#include "music/stream.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <vector>

namespace {

constexpr int exitUnloadable = 2;

const char* loopName(uint8_t mode) {
    switch (mode) {
    case music::LOOP_FORWARD: return "forward";
    case music::LOOP_PINGPONG: return "ping-pong";
    default: return "none";
    }
}

void printUsage(FILE* out) {
    std::fprintf(out, "usage: xminfo FILE.xm\n"
                      "Loads FILE.xm with the demo's loader and prints channels, song length,\n"
                      "restart position, orders, patterns with their rows, instruments and\n"
                      "samples (length, loop start, loop length and mode in sample frames, bits\n"
                      "after decoding). Exit code 2 when the file cannot be read or loaded.\n");
}

// The whole file, or false when it cannot be read or is too large for a stream.
bool readFile(const char* path, std::vector<uint8_t>* bytes, const char** reason) {
    FILE* f = std::fopen(path, "rb");
    if (f == nullptr) {
        *reason = std::strerror(errno);
        return false;
    }
    uint8_t chunk[65536];
    size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof(chunk), f)) > 0) {
        bytes->insert(bytes->end(), chunk, chunk + got);
        if (bytes->size() > static_cast<size_t>(std::numeric_limits<int32_t>::max())) {
            std::fclose(f);
            *reason = "file too large";
            return false;
        }
    }
    const bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed) *reason = "read error";
    return !failed;
}

void printPlayer(const music::Player* p) {
    std::printf("channels: %d\n", p->channelCount);
    std::printf("song length: %d\n", p->songLength);
    std::printf("restart: %d\n", p->restartPosition);
    std::printf("orders:");
    for (int32_t i = 0; i < p->songLength; ++i) std::printf(" %d", p->orderTable[i]);
    std::printf("\n");
    std::printf("flags: %d (%s frequency table)\n", p->flags, p->flags & 1 ? "linear" : "Amiga");
    std::printf("tempo: %d\nbpm: %d\n", p->defaultTempo, p->defaultBpm);
    std::printf("patterns: %d (%d named by the orders)\n", p->patternRecordCount, p->patternCount);
    for (int32_t i = 0; i < p->patternRecordCount; ++i)
        std::printf("  pattern %d: %d rows\n", i, p->patterns[i].rowCount);
    std::printf("instruments: %d\n", p->instrumentCount);
    for (int32_t i = 0; i < p->instrumentCount; ++i) {
        const music::Instrument& ins = p->instruments[i];
        std::printf("instrument %d: %d sample%s\n", i + 1, ins.sampleCount,
                    ins.sampleCount == 1 ? "" : "s");
        for (int32_t s = 0; s < ins.sampleCount; ++s) {
            const music::Sample* smp = ins.samples[s];
            std::printf("  sample %d: length %u, loop start %u, loop length %u, loop %s, "
                        "%d bits\n",
                        s + 1, smp->length, smp->loopStart, smp->loopLength,
                        loopName(smp->loopMode), smp->bits);
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        printUsage(stdout);
        return 0;
    }
    if (argc != 2) {
        printUsage(stderr);
        return exitUnloadable;
    }
    const char* path = argv[1];
    std::vector<uint8_t> bytes;
    const char* reason = "";
    if (!readFile(path, &bytes, &reason)) {
        std::fprintf(stderr, "xminfo: cannot read %s: %s\n", path, reason);
        return exitUnloadable;
    }

    music::installMemoryStream();
    const music::MemoryStream description{static_cast<int32_t>(bytes.size()), 0, bytes.data()};
    music::LoadResult result{};
    music::Player* player = music::createPlayerWithResult(&description, &result);
    if (player == nullptr) {
        char why[160];
        std::fprintf(stderr, "xminfo: cannot load %s: %s\n", path,
                     music::loadErrorText(result, why, sizeof why));
        return exitUnloadable;
    }
    printPlayer(player);
    music::destroyPlayer(player);
    return 0;
}
