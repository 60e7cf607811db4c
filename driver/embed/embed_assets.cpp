// Build-time tool: writes each asset's bytes as a C++ array, plus one header declaring them all
// with their sizes, so the demo reads nothing from disk and its tables are constant-initialised.
#include <cstdio>
#include <string>
#include <vector>

namespace {

bool readAll(const char* path, std::vector<unsigned char>* bytes) {
    std::FILE* in = std::fopen(path, "rb");
    if (in == nullptr) return false;
    unsigned char block[65536];
    size_t got = 0;
    while ((got = std::fread(block, 1, sizeof block, in)) > 0) {
        bytes->insert(bytes->end(), block, block + got);
    }
    const bool ok = std::ferror(in) == 0;
    std::fclose(in);
    return ok;
}

bool writeArray(const std::string& path, const std::string& symbol, const char* source,
                const std::vector<unsigned char>& bytes) {
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) return false;
    std::fprintf(out, "// Embedded copy of %s, written at build time.\n", source);
    std::fprintf(out, "#include \"embedded_assets.h\"\n\n");
    std::fprintf(out, "alignas(16) const uint8_t driver::assets::%s[%zu] = {\n", symbol.c_str(),
                 bytes.size());
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::fprintf(out, "%u,%s", static_cast<unsigned>(bytes[i]), (i % 24 == 23) ? "\n" : "");
    }
    std::fprintf(out, "};\n");
    return std::fclose(out) == 0;
}

} // namespace

// embed_assets OUTDIR SYMBOL=PATH...
int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: embed_assets OUTDIR SYMBOL=PATH...\n");
        return 2;
    }
    const std::string outDir = argv[1];
    std::string header = "// Declarations of the embedded assets, written at build time.\n"
                         "#pragma once\n\n#include <cstdint>\n\nnamespace driver::assets {\n";
    for (int i = 2; i < argc; ++i) {
        const std::string argument = argv[i];
        const size_t equals = argument.find('=');
        if (equals == std::string::npos) {
            std::fprintf(stderr, "embed_assets: expected SYMBOL=PATH, got %s\n", argv[i]);
            return 2;
        }
        const std::string symbol = argument.substr(0, equals);
        const std::string path = argument.substr(equals + 1);
        std::vector<unsigned char> bytes;
        if (!readAll(path.c_str(), &bytes)) {
            std::fprintf(stderr, "embed_assets: cannot read %s\n", path.c_str());
            return 1;
        }
        if (bytes.empty()) {
            std::fprintf(stderr, "embed_assets: %s is empty\n", path.c_str());
            return 1;
        }
        if (!writeArray(outDir + "/" + symbol + ".cpp", symbol, path.c_str(), bytes)) {
            std::fprintf(stderr, "embed_assets: cannot write %s/%s.cpp\n", outDir.c_str(),
                         symbol.c_str());
            return 1;
        }
        header += "constexpr uint32_t " + symbol + "_size = " + std::to_string(bytes.size()) +
                  "u;\nextern const uint8_t " + symbol + "[" + std::to_string(bytes.size()) +
                  "];\n";
    }
    header += "} // namespace driver::assets\n";
    const std::string headerPath = outDir + "/embedded_assets.h";
    std::FILE* out = std::fopen(headerPath.c_str(), "wb");
    if (out == nullptr || std::fputs(header.c_str(), out) < 0 || std::fclose(out) != 0) {
        std::fprintf(stderr, "embed_assets: cannot write %s\n", headerPath.c_str());
        return 1;
    }
    return 0;
}
