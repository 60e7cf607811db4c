// The whole of a file as bytes, for tests that load modules and renders from disk; empty when the
// file cannot be opened.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

namespace testing_files {

inline std::vector<uint8_t> readFile(const char* path) {
    std::vector<uint8_t> bytes;
    std::FILE* f = std::fopen(path, "rb");
    if (f == nullptr) return bytes;
    uint8_t block[65536];
    size_t n;
    while ((n = std::fread(block, 1, sizeof block, f)) > 0)
        bytes.insert(bytes.end(), block, block + n);
    std::fclose(f);
    return bytes;
}

} // namespace testing_files
