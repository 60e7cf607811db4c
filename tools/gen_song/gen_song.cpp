// Composes the demo's song, synthesises its instruments and writes it as an XM module.
//
// Everything is computed from fixed seeds and formulas, so two runs write the same bytes. The
// parts: instruments.cpp (the sounds, from synthesis.cpp's toolkit), composition.cpp (the
// patterns), tempo.cpp (BPM changes that put the song's beats on the picture timeline's beats as
// the player's own song time counts them) and song_file.cpp (the file, at the size the demo
// loads).
#include "composition.h"
#include "instruments.h"
#include "song_file.h"
#include "song_shape.h"
#include "tempo.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <vector>

using namespace gensong;

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: gen_song OUTPUT.xm\n");
        return 2;
    }

    std::array<Pattern, storedPatternCount> patterns = composePatterns();
    const TimingReport timing = steerTempo(patterns);
    if (!startUntimedPatternsAtReferenceBpm(patterns)) {
        std::fprintf(stderr, "gen_song: no free effect column for the reference BPM\n");
        return 1;
    }

    std::vector<xmwrite::Bytes> packed;
    uint32_t patternBytes = 0;
    for (const Pattern& p : patterns) {
        packed.push_back(packPattern(p));
        patternBytes += xmwrite::patternHeaderBytes + static_cast<uint32_t>(packed.back().size());
    }

    // The pad and the riser take up whatever room the rest leaves.
    std::vector<Instrument> instruments = {
        makeKick(), makeSnare(), makeClap(),  makeClosedHat(), makeOpenHat(),   makeCrash(),
        makeBass(), makeAcid(),  makeLead(),  Instrument{},    makeChord(true), makeChord(false),
        makeArp(),  makeBell(),  makeChoir(), Instrument{},    makeZap(),       makeTom()};
    constexpr int32_t riserFrames = 66150; // 8-bit: one byte a frame
    uint32_t used = bytesBesideSampleData(packed) + riserFrames;
    for (const Instrument& in : instruments) used += sampleDataBytes(in);
    if (used >= static_cast<uint32_t>(moduleBytes)) {
        std::fprintf(stderr, "gen_song: no room left for the pad\n");
        return 1;
    }
    const uint32_t room = moduleBytes - used;
    instruments[pad - 1] = makePad(static_cast<int32_t>(room / 2));
    instruments[riser - 1] = makeRiser(riserFrames + static_cast<int32_t>(room % 2));

    const xmwrite::Bytes bytes = writeSong(packed, instruments, timing.defaultBpm);
    if (bytes.size() != static_cast<size_t>(moduleBytes)) {
        std::fprintf(stderr, "gen_song: wrote %zu bytes, not %d\n", bytes.size(), moduleBytes);
        return 1;
    }

    FILE* f = std::fopen(argv[1], "wb");
    if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) {
        std::fprintf(stderr, "gen_song: cannot write %s\n", argv[1]);
        if (f) std::fclose(f);
        return 1;
    }
    std::fclose(f);
    std::printf("gen_song: %zu bytes (unread tail from %zu), patterns %u bytes, default BPM %d, "
                "%d BPM changes, largest beat offset %+.2f ms at beat %d\n",
                bytes.size(), bytes.size() - unreadTailBytes, patternBytes, timing.defaultBpm,
                timing.bpmChanges, timing.worstOffsetMs, timing.worstBeat);
    return 0;
}
