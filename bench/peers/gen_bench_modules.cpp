// Writes the generated benchmark modules (or the small seed modules) into a folder.
#include "small_modules.h"
#include "xm_generator.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

bool writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        std::fprintf(stderr, "gen_bench_modules: cannot write %s\n", path.c_str());
        return false;
    }
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    ok = std::fclose(f) == 0 && ok;
    if (!ok) std::fprintf(stderr, "gen_bench_modules: short write to %s\n", path.c_str());
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3 || (std::strcmp(argv[1], "bench") != 0 && std::strcmp(argv[1], "small") != 0)) {
        std::fprintf(stderr, "usage: gen_bench_modules bench|small OUTPUT_DIR\n");
        return 2;
    }
    std::string dir = argv[2];
    bool ok = true;
    if (std::strcmp(argv[1], "bench") == 0) {
        for (int32_t channels : {4, 8, 16, 32}) {
            char name[32];
            std::snprintf(name, sizeof name, "/gen_%02dch.xm", static_cast<int>(channels));
            ok = writeFile(dir + name, benchgen::generateModule(benchgen::benchShape(channels))) &&
                 ok;
        }
    } else {
        for (const auto& s : benchgen::smallShapes())
            ok = writeFile(dir + "/" + s.name + ".xm", benchgen::generateModule(s.shape)) && ok;
    }
    return ok ? 0 : 1;
}
