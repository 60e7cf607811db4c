// Writes the loader fuzzer's seed modules, built with the tests' module builder, into a folder.
#include "xm_builder.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace {

struct Seed {
    const char* name;
    xmb::Module module;
};

xmb::Module everyPart() {
    xmb::Module m;
    m.orders = {0, 1, 2};
    m.patterns.push_back(
        xmb::pattern(2, xmb::packCells({{0x31, 1, 0x40, 0, 0}, {}, {97}, {0, 0, 0, 0x0F, 3}})));
    m.patterns.push_back(xmb::pattern(64, {}));
    m.patterns.push_back(
        xmb::pattern(1, xmb::plainCells({{0x30, 2, 0, 0, 0}, {0x31, 1, 0, 0, 0}})));
    m.instruments.push_back(xmb::Instrument{});
    xmb::Instrument first;
    first.samples.push_back(xmb::sample8({1, 2, 3, 4}));
    m.instruments.push_back(first);
    xmb::Instrument last;
    xmb::Sample looped = xmb::sample8({10, 10, 10, 10, 10, 10});
    looped.type = 1;
    looped.loopStartBytes = 2;
    looped.loopLengthBytes = 4;
    last.samples.push_back(looped);
    last.samples.push_back(xmb::sample16({300, 300, 300}));
    m.instruments.push_back(last);
    return m;
}

xmb::Module shortHeader() {
    xmb::Module m;
    m.headerSize = 29;
    m.channelCount = 6;
    m.orders = {9, 4, 5, 8, 1, 1, 1, 2, 7};
    m.tempo = 7;
    m.bpm = 132;
    for (uint8_t i = 0; i < 11; ++i) {
        std::vector<xmb::Cell> cells(12);
        cells[i % 12] = {static_cast<uint8_t>(0x20 + i), 1, 0x30, 0x0A, 0x04};
        m.patterns.push_back(xmb::pattern(2, xmb::packCells(cells)));
    }
    xmb::Instrument ins;
    ins.samples.push_back(xmb::sample8(xmb::deltasOf<int8_t>({0, 40, 80, 40, 0, -40, -80, -40})));
    m.instruments.push_back(ins);
    return m;
}

xmb::Module loops() {
    xmb::Module m;
    std::vector<int16_t> wave;
    for (int i = 0; i < 32; ++i) wave.push_back(static_cast<int16_t>((i - 16) * 1500));
    xmb::Instrument ins;
    xmb::Sample forward = xmb::sample8(std::vector<int8_t>(24, 5));
    forward.type = 1;
    forward.loopStartBytes = 8;
    forward.loopLengthBytes = 16;
    xmb::Sample pingPong = xmb::sample16(xmb::deltasOf(wave));
    pingPong.type = 0x12;
    pingPong.loopStartBytes = 10;
    pingPong.loopLengthBytes = 30;
    xmb::Sample pastTheEnd = xmb::sample8(std::vector<int8_t>(10, -3));
    pastTheEnd.type = 1;
    pastTheEnd.loopStartBytes = 6;
    pastTheEnd.loopLengthBytes = 100;
    ins.samples = {forward, pingPong, pastTheEnd, xmb::Sample{}};
    for (int i = 0; i < 96; ++i) ins.sampleMap[i] = static_cast<uint8_t>(i % 4);
    m.instruments.push_back(ins);
    m.patterns.push_back(
        xmb::pattern(4, xmb::packCells({{49, 1}, {}, {}, {61, 1}, {}, {}, {97}, {}})));
    return m;
}

xmb::Module envelopes() {
    xmb::Module m;
    m.channelCount = 1;
    xmb::Instrument ins;
    ins.samples.push_back(xmb::sample8(std::vector<int8_t>(16, 7)));
    const xmb::Point volume[4] = {{0, 0}, {4, 64}, {10, 32}, {20, 0}};
    for (int i = 0; i < 4; ++i) ins.volumeEnvelope[i] = volume[i];
    ins.volumePointCount = 4;
    ins.volumeSustain = 1;
    ins.volumeLoopStart = 1;
    ins.volumeLoopEnd = 2;
    ins.volumeType = 7;
    ins.panningEnvelope[0] = {0, 32};
    ins.panningEnvelope[1] = {8, 0};
    ins.panningEnvelope[2] = {16, 64};
    ins.panningPointCount = 3;
    ins.panningType = 1;
    ins.fadeout = 0x200;
    ins.vibratoType = 1;
    ins.vibratoSweep = 8;
    ins.vibratoDepth = 4;
    ins.vibratoRate = 16;
    m.instruments.push_back(ins);
    m.patterns.push_back(xmb::pattern(2, xmb::packCells({{49, 1, 0x40}, {97}})));
    return m;
}

xmb::Module plainCells() {
    xmb::Module m;
    m.channelCount = 4;
    m.orders = {0, 0, 1};
    m.restartPosition = 1;
    m.flags = 0;
    m.patterns.push_back(xmb::pattern(2, xmb::plainCells({{0x31, 1, 0x20, 0x01, 0x10},
                                                          {97, 129},
                                                          {0x40, 128},
                                                          {},
                                                          {},
                                                          {},
                                                          {},
                                                          {0x01, 2, 0, 0x0F, 0x20}})));
    m.patterns.push_back(xmb::pattern(0, {}));
    xmb::Instrument a;
    a.samples.push_back(xmb::sample16({100, -200, 300, -400}));
    m.instruments.push_back(a);
    xmb::Instrument b;
    b.headerSize = 40;
    m.instruments.push_back(b);
    return m;
}

xmb::Module sixteenSamples() {
    xmb::Module m;
    xmb::Instrument ins;
    for (int i = 0; i < 16; ++i) {
        xmb::Sample s = i % 2 ? xmb::sample16({static_cast<int16_t>(i * 100)})
                              : xmb::sample8({static_cast<int8_t>(i)});
        s.relativeNote = static_cast<int8_t>(i - 8);
        s.finetune = static_cast<int8_t>(i * 8);
        ins.samples.push_back(s);
        ins.sampleMap[i * 6] = static_cast<uint8_t>(i);
    }
    m.instruments.push_back(ins);
    return m;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_load_make_corpus DIRECTORY\n");
        return 2;
    }
    const std::filesystem::path dir = argv[1];
    std::filesystem::create_directories(dir);
    const Seed seeds[] = {
        {"minimal.xm", xmb::Module{}},
        {"every_part.xm", everyPart()},
        {"short_header.xm", shortHeader()},
        {"loops.xm", loops()},
        {"envelopes.xm", envelopes()},
        {"plain_cells.xm", plainCells()},
        {"sixteen_samples.xm", sixteenSamples()},
    };
    for (const Seed& seed : seeds) {
        const xmb::Bytes bytes = xmb::build(seed.module);
        const std::string path = (dir / seed.name).string();
        FILE* f = std::fopen(path.c_str(), "wb");
        if (f == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) {
            std::fprintf(stderr, "fuzz_load_make_corpus: cannot write %s\n", path.c_str());
            if (f != nullptr) std::fclose(f);
            return 1;
        }
        std::fclose(f);
    }
    return 0;
}
