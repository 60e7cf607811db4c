// Tests of the in-memory stream: reads clamped at the end, seeks by mode, positions outside.
#include "music/module.h"
#include "music/stream.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <limits>
#include <vector>

namespace {

using namespace music;

// An open stream over a block of 0, 1, 2, ... that closes itself.
struct OpenStream {
    std::vector<uint8_t> block;
    void* stream = nullptr;
    explicit OpenStream(int32_t size) : block(static_cast<size_t>(size)) {
        for (int32_t i = 0; i < size; ++i) block[i] = static_cast<uint8_t>(i);
        const MemoryStream description{size, 12345, block.data()};
        stream = memoryOpen(&description);
    }
    ~OpenStream() { memoryClose(stream); }
};

TEST(MemoryStream, OpenCopiesTheBlockAndStartsAtZero) {
    OpenStream s(100);
    ASSERT_NE(s.stream, nullptr);
    const auto* m = static_cast<const MemoryStream*>(s.stream);
    EXPECT_EQ(m->size, 100);
    EXPECT_EQ(m->base, s.block.data());
    EXPECT_EQ(memoryTell(s.stream), 0); // the description's position is not looked at
}

TEST(MemoryStream, TableNamesEveryEntry) {
    const StreamInterface& s = memoryStreamInterface;
    EXPECT_EQ(s.open, &memoryOpen);
    EXPECT_EQ(s.close, &memoryClose);
    EXPECT_EQ(s.read, &memoryRead);
    EXPECT_EQ(s.seek, &memorySeek);
    EXPECT_EQ(s.tell, &memoryTell);
    EXPECT_TRUE(streamInterfaceComplete(s));
    for (int32_t missing = 0; missing < 5; ++missing) {
        StreamInterface t = s;
        if (missing == 0) t.open = nullptr;
        if (missing == 1) t.close = nullptr;
        if (missing == 2) t.read = nullptr;
        if (missing == 3) t.seek = nullptr;
        if (missing == 4) t.tell = nullptr;
        EXPECT_FALSE(streamInterfaceComplete(t)) << missing;
    }
    // A Player reads through the memory stream unless it is given another table.
    const Player p{};
    EXPECT_EQ(p.streams.read, &memoryRead);
}

TEST(MemoryStream, ReadClampsAtTheEndAndThenCopiesNothing) {
    OpenStream s(100);
    uint8_t buffer[10] = {};
    EXPECT_EQ(memoryRead(buffer, 4, s.stream), 4);
    EXPECT_EQ(buffer[3], 3);
    EXPECT_EQ(memoryTell(s.stream), 4);

    memorySeek(s.stream, 95, 0);
    std::fill(std::begin(buffer), std::end(buffer), 0xEE);
    EXPECT_EQ(memoryRead(buffer, 10, s.stream), 5);
    EXPECT_EQ(buffer[0], 95);
    EXPECT_EQ(buffer[4], 99);
    EXPECT_EQ(buffer[5], 0xEE);
    EXPECT_EQ(memoryTell(s.stream), 100);

    buffer[0] = 0x42;
    EXPECT_EQ(memoryRead(buffer, 10, s.stream), 0);
    EXPECT_EQ(buffer[0], 0x42);
    EXPECT_EQ(memoryTell(s.stream), 100);

    // Exactly up to the end is a full read.
    memorySeek(s.stream, 90, 0);
    EXPECT_EQ(memoryRead(buffer, 10, s.stream), 10);
    EXPECT_EQ(buffer[9], 99);
}

TEST(MemoryStream, HugeAndNegativeCountsStayInsideTheBlock) {
    OpenStream s(100);
    std::vector<uint8_t> buffer(100, 0xEE);
    memorySeek(s.stream, 5, 0);
    EXPECT_EQ(memoryRead(buffer.data(), std::numeric_limits<int32_t>::max(), s.stream), 95);
    EXPECT_EQ(buffer[94], 99);

    memorySeek(s.stream, 5, 0);
    buffer[0] = 0xEE;
    EXPECT_EQ(memoryRead(buffer.data(), -1, s.stream), 0);
    EXPECT_EQ(buffer[0], 0xEE);
    EXPECT_EQ(memoryTell(s.stream), 5);
}

TEST(MemoryStream, SeekModesAndClampToSize) {
    OpenStream s(100);
    memorySeek(s.stream, -10, 2);
    EXPECT_EQ(memoryTell(s.stream), 90);
    memorySeek(s.stream, 150, 0);
    EXPECT_EQ(memoryTell(s.stream), 100);
    memorySeek(s.stream, 20, 0);
    memorySeek(s.stream, 7, 1);
    EXPECT_EQ(memoryTell(s.stream), 27);
    memorySeek(s.stream, 80, 1);
    EXPECT_EQ(memoryTell(s.stream), 100);
    memorySeek(s.stream, 5, 2);
    EXPECT_EQ(memoryTell(s.stream), 100);

    // Only the low 8 bits of the mode count; other modes leave the position.
    memorySeek(s.stream, 33, 0x100);
    EXPECT_EQ(memoryTell(s.stream), 33);
    memorySeek(s.stream, -1, 0x7702);
    EXPECT_EQ(memoryTell(s.stream), 99);
    memorySeek(s.stream, 10, 3);
    memorySeek(s.stream, 10, -1);
    EXPECT_EQ(memoryTell(s.stream), 99);
}

TEST(MemoryStream, OffsetsNearTheInt32LimitsDoNotWrap) {
    OpenStream s(100);
    memorySeek(s.stream, 50, 0);
    memorySeek(s.stream, std::numeric_limits<int32_t>::max(), 1);
    EXPECT_EQ(memoryTell(s.stream), 100);
    memorySeek(s.stream, std::numeric_limits<int32_t>::max(), 2);
    EXPECT_EQ(memoryTell(s.stream), 100);
    memorySeek(s.stream, std::numeric_limits<int32_t>::min(), 0);
    memorySeek(s.stream, std::numeric_limits<int32_t>::min(), 1);
    EXPECT_LT(memoryTell(s.stream), 0);
}

TEST(MemoryStream, APositionBelowZeroReadsNothing) {
    OpenStream s(100);
    memorySeek(s.stream, -5, 0);
    EXPECT_EQ(memoryTell(s.stream), -5); // not clamped below
    uint8_t buffer[8] = {0xEE};
    EXPECT_EQ(memoryRead(buffer, 8, s.stream), 0);
    EXPECT_EQ(buffer[0], 0xEE);
    EXPECT_EQ(memoryTell(s.stream), -5);
    memorySeek(s.stream, 10, 1);
    EXPECT_EQ(memoryRead(buffer, 1, s.stream), 1);
    EXPECT_EQ(buffer[0], 5);
}

TEST(MemoryStream, ABlockWithANegativeSizeReadsNothing) {
    const uint8_t byte = 1;
    const MemoryStream description{-4, 0, &byte};
    void* stream = memoryOpen(&description);
    ASSERT_NE(stream, nullptr);
    uint8_t buffer[4] = {};
    EXPECT_EQ(memoryRead(buffer, 4, stream), 0);
    memoryClose(stream);
    EXPECT_EQ(memoryOpen(nullptr), nullptr);
}

} // namespace
