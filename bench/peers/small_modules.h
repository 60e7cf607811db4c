// The small generated modules that seed the render fuzzer and feed quick tests.
#pragma once

#include "xm_generator.h"

#include <array>

namespace benchgen {

struct NamedShape {
    const char* name;
    SongShape shape;
};

// Each a few kilobytes: short patterns, tiny samples, and between them every effect family.
inline std::array<NamedShape, 6> smallShapes() {
    return {{
        {"small_1ch_plain", {1, 1, 32, 2, 64, true, false, 11}},
        {"small_2ch_flow", {2, 2, 16, 4, 64, true, true, 12}},
        {"small_4ch_amiga", {4, 2, 16, 8, 64, false, true, 13}},
        {"small_3ch_envelopes", {3, 1, 24, 8, 96, true, false, 14}},
        {"small_6ch_flow", {6, 3, 12, 8, 48, true, true, 15}},
        {"small_8ch_amiga_flow", {8, 2, 8, 8, 40, false, true, 16}},
    }};
}

} // namespace benchgen
