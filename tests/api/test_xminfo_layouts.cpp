// xminfo on modules of every layout the loader reads: what it prints about instruments and
// samples is what the file states, wherever the layout puts it.
#include "xm_builder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// A module of three instruments: two samples, one sample, none; before, after or between
// them whatever the test adds.
xmb::Module module(uint16_t version) {
    xmb::Module m;
    m.version = version;
    m.patterns.push_back(xmb::pattern(4, xmb::packCells(std::vector<xmb::Cell>(8))));
    xmb::Instrument first;
    xmb::Sample a = xmb::sample8({1, 2, 3, 4, 5});
    a.name = "eight";
    a.type = 0x01;
    a.loopStartBytes = 1;
    a.loopLengthBytes = 3;
    a.relativeNote = -12;
    first.samples.push_back(a);
    xmb::Sample b = xmb::sample16({100, -100, 7});
    b.name = "sixteen";
    b.type = 0x12;
    b.loopStartBytes = 2;
    b.loopLengthBytes = 4;
    first.samples.push_back(b);
    first.volumePointCount = 2;
    first.volumeEnvelope[1] = {10, 32};
    first.volumeType = 1;
    m.instruments.push_back(first);
    xmb::Instrument second;
    xmb::Sample c = xmb::sample8({9, 9});
    c.name = "last";
    c.relativeNote = 7;
    second.samples.push_back(c);
    m.instruments.push_back(second);
    m.instruments.push_back(xmb::Instrument{});
    return m;
}

std::string xminfoOf(const std::vector<uint8_t>& bytes) {
    char path[] = "/tmp/xminfo_layoutXXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) return "no temporary file";
    const bool written =
        write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    close(fd);
    std::string out;
    if (written) {
        const std::string command = std::string(XMINFO_PATH) + " " + path + " 2>&1";
        FILE* p = popen(command.c_str(), "r");
        if (p != nullptr) {
            char block[4096];
            size_t n;
            while ((n = std::fread(block, 1, sizeof block, p)) > 0) out.append(block, n);
            pclose(p);
        }
    }
    unlink(path);
    return out;
}

// The lines about the three instruments of module(), found in order in out.
void expectThreeInstruments(const std::string& out, const std::string& what, int32_t second = 2) {
    const std::vector<std::string> lines = {
        "instrument 1: 2 samples, \"instrument\"\n",
        "  volume envelope: 2 points, type 1 (on)\n    (0,0) (10,32)\n",
        "  sample 1: \"eight\", length 5, loop forward start 1 length 3, 8 bits, volume 64, "
        "finetune 0, panning 128, relative note -12\n",
        "  sample 2: \"sixteen\", length 3, loop ping-pong start 1 length 2, 16 bits, volume 64, "
        "finetune 0, panning 128, relative note 0\n",
        "instrument " + std::to_string(second) + ": 1 sample, \"instrument\"\n",
        "  sample 1: \"last\", length 2, loop none, 8 bits, volume 64, finetune 0, panning 128, "
        "relative note 7\n",
        "instrument " + std::to_string(second + 1) + ": 0 samples, \"instrument\"\n",
    };
    size_t at = 0;
    for (const std::string& line : lines) {
        const size_t found = out.find(line, at);
        ASSERT_NE(found, std::string::npos) << what << ": no line\n" << line << "in\n" << out;
        at = found + line.size();
    }
}

TEST(XminfoLayouts, EarlyAndCurrentVersions) {
    for (uint16_t version : {0x0102, 0x0103, 0x0104}) {
        const std::string out = xminfoOf(xmb::build(module(version)));
        char expected[32];
        std::snprintf(expected, sizeof expected, "format version: %x.%02x\n", version >> 8,
                      version & 0xFF);
        EXPECT_NE(out.find(expected), std::string::npos) << out;
        expectThreeInstruments(out, expected);
    }
}

TEST(XminfoLayouts, StatedSizesTheLoaderReadsItsOwnWay) {
    // A pattern header stating 8 bytes still has its 9 bytes of fields.
    xmb::Module shortPattern = module(0x0104);
    shortPattern.patterns[0].headerLength = 8;
    expectThreeInstruments(xminfoOf(xmb::build(shortPattern)), "pattern header of 8");

    // An instrument header size of 0 stands for 263 bytes.
    const xmb::Module m = module(0x0104);
    xmb::Bytes bytes = xmb::build(m);
    size_t at = 60 + m.headerSize;
    for (const xmb::Pattern& p : m.patterns) at += p.headerLength + p.data.size();
    for (size_t i = 0; i < 2; ++i) {
        ASSERT_EQ(bytes[at], 263 & 0xFF);
        for (size_t k = 0; k < 4; ++k) bytes[at + k] = 0;
        xmb::Bytes one;
        xmb::putInstrument(one, m.instruments[i]);
        at += one.size();
    }
    expectThreeInstruments(xminfoOf(bytes), "instrument header size 0");
}

TEST(XminfoLayouts, PackedSamplesAndSamplesPastTheSixteenth) {
    xmb::Module m = module(0x0104);
    xmb::Sample packed;
    packed.name = "packed";
    packed.reserved = 0xAD;
    packed.lengthBytes = 101;
    packed.data.assign(16 + 51, 0x11);
    xmb::Instrument adpcm;
    adpcm.samples.push_back(packed);
    m.instruments.insert(m.instruments.begin() + 1, adpcm);
    std::string out = xminfoOf(xmb::build(m));
    EXPECT_NE(out.find("instrument 2: 1 sample, \"instrument\"\n"), std::string::npos) << out;
    EXPECT_NE(out.find("  sample 1: \"packed\", length 101, loop none, 8 bits"), std::string::npos)
        << out;
    expectThreeInstruments(out, "after a packed sample", 3);

    m = module(0x0104);
    xmb::Instrument many;
    for (int32_t k = 0; k < 20; ++k) {
        xmb::Sample s = xmb::sample8(std::vector<int8_t>(static_cast<size_t>(k + 1), 1));
        s.relativeNote = static_cast<int8_t>(k);
        many.samples.push_back(s);
    }
    m.instruments.insert(m.instruments.begin() + 1, many);
    out = xminfoOf(xmb::build(m));
    EXPECT_NE(out.find("instrument 2: 20 samples, \"instrument\"\n"), std::string::npos) << out;
    EXPECT_NE(out.find("  sample 20: \"sample\", length 20, loop none, 8 bits, volume 64, finetune "
                       "0, panning 128, relative note 19\n"),
              std::string::npos)
        << out;
    expectThreeInstruments(out, "after 20 samples", 3);
}

} // namespace
