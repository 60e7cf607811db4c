// Checks the committed slideshow pictures' PNG structure and that the generator remakes them.
#include "asset_table.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <unistd.h>

namespace {

using asset_test::expectedFormats;

// Bit-at-a-time CRC, written independently of the generator's table-driven one.
uint32_t referenceCrc(const uint8_t* data, size_t size) {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

uint32_t bigEndian32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

struct Chunk {
    std::string type;
    std::vector<uint8_t> body;
    bool crcMatches;
};

// Splits a file into its chunks; false when the signature is wrong or a chunk runs past the end.
bool readChunks(const std::vector<uint8_t>& file, std::vector<Chunk>& chunks) {
    static const uint8_t signature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    if (file.size() < 8 || !std::equal(signature, signature + 8, file.begin())) return false;
    size_t at = 8;
    while (at < file.size()) {
        if (file.size() - at < 12) return false;
        const uint32_t length = bigEndian32(&file[at]);
        if (length > file.size() - at - 12) return false;
        Chunk chunk;
        chunk.type.assign(file.begin() + static_cast<std::ptrdiff_t>(at + 4),
                          file.begin() + static_cast<std::ptrdiff_t>(at + 8));
        chunk.body.assign(file.begin() + static_cast<std::ptrdiff_t>(at + 8),
                          file.begin() + static_cast<std::ptrdiff_t>(at + 8 + length));
        chunk.crcMatches =
            referenceCrc(&file[at + 4], length + 4) == bigEndian32(&file[at + 8 + length]);
        chunks.push_back(std::move(chunk));
        at += 12 + length;
    }
    return true;
}

TEST(AssetFiles, EachFileIsAWellFormedPngInItsSlotsStoredFormat) {
    for (const auto& expected : expectedFormats) {
        SCOPED_TRACE("image " + std::to_string(expected.file));
        const auto bytes = asset_test::readBytes(asset_test::assetPath(ASSET_DIR, expected.file));
        ASSERT_FALSE(bytes.empty()) << "missing or empty file";
        std::vector<Chunk> chunks;
        ASSERT_TRUE(readChunks(bytes, chunks)) << "bad signature or truncated chunk";
        ASSERT_GE(chunks.size(), 3u);
        for (const Chunk& chunk : chunks) EXPECT_TRUE(chunk.crcMatches) << chunk.type << " CRC";

        ASSERT_EQ(chunks.front().type, "IHDR");
        const auto& ihdr = chunks.front().body;
        ASSERT_EQ(ihdr.size(), 13u);
        EXPECT_EQ(bigEndian32(&ihdr[0]), 320u);
        EXPECT_EQ(bigEndian32(&ihdr[4]), 240u);
        EXPECT_EQ(ihdr[8], expected.bitDepth);
        EXPECT_EQ(ihdr[9], expected.colourType);
        EXPECT_EQ(ihdr[10], 0) << "compression method";
        EXPECT_EQ(ihdr[11], 0) << "filter method";
        EXPECT_EQ(ihdr[12], 0) << "interlace";
        EXPECT_EQ(chunks.back().type, "IEND");
        EXPECT_TRUE(chunks.back().body.empty());

        std::map<std::string, int> counts;
        for (const Chunk& chunk : chunks) ++counts[chunk.type];
        EXPECT_EQ(counts["tRNS"], 0) << "a transparency chunk would add an alpha component";
        EXPECT_GE(counts["IDAT"], 1);
        EXPECT_EQ(counts["IHDR"], 1);
        EXPECT_EQ(counts["IEND"], 1);
        if (expected.colourType == 3) {
            ASSERT_EQ(counts["PLTE"], 1);
            for (const Chunk& chunk : chunks)
                if (chunk.type == "PLTE") {
                    EXPECT_EQ(chunk.body.size() % 3, 0u);
                    EXPECT_GE(chunk.body.size(), 3u);
                    EXPECT_LE(chunk.body.size(), 3u << expected.bitDepth);
                }
        } else {
            EXPECT_EQ(counts["PLTE"], 0);
        }
    }
}

TEST(AssetFiles, EveryFileIsADifferentPicture) {
    std::vector<std::vector<uint8_t>> files;
    for (const auto& expected : expectedFormats)
        files.push_back(asset_test::readBytes(asset_test::assetPath(ASSET_DIR, expected.file)));
    for (size_t a = 0; a < files.size(); ++a)
        for (size_t b = a + 1; b < files.size(); ++b)
            EXPECT_NE(files[a], files[b])
                << "images " << a + 1 << " and " << b + 1 << " are identical";
}

TEST(AssetFiles, GeneratorRemakesTheCommittedBytesExactly) {
    std::string pattern = (std::filesystem::temp_directory_path() / "gen_images_XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    const std::filesystem::path folder = pattern;
    const std::string command = std::string("'") + GEN_IMAGES_PATH + "' '" + folder.string() + "'";
    const int status = std::system(command.c_str());
    ASSERT_EQ(status, 0) << command;
    for (const auto& expected : expectedFormats) {
        SCOPED_TRACE("image " + std::to_string(expected.file));
        const auto fresh =
            asset_test::readBytes(asset_test::assetPath(folder.string(), expected.file));
        const auto committed =
            asset_test::readBytes(asset_test::assetPath(ASSET_DIR, expected.file));
        ASSERT_FALSE(fresh.empty());
        EXPECT_TRUE(fresh == committed) << "committed file differs from the generator's output ("
                                        << committed.size() << " vs " << fresh.size() << " bytes)";
    }
    std::filesystem::remove_all(folder);
}

TEST(AssetFiles, GeneratorRefusesAMissingFolder) {
    const std::string command =
        std::string("'") + GEN_IMAGES_PATH + "' /nonexistent-folder/for/gen_images 2>/dev/null";
    EXPECT_NE(std::system(command.c_str()), 0);
}

} // namespace
