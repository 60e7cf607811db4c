// The sixteen-colour pixel-art scenes.
#include "art.h"

namespace art {

namespace {

// A height in pixels per column from layered value noise, for ridges, dunes and skylines.
std::vector<double> ridge(double base, double amplitude, double frequency, uint32_t seed) {
    std::vector<double> h(widthPx);
    for (int x = 0; x < widthPx; ++x) {
        const double n = fbm(x * frequency, 3.7, 5, seed);
        h[static_cast<size_t>(x)] = base - amplitude * (n - 0.5) * 2.0;
    }
    return h;
}

void triangle(Canvas& c, double ax, double ay, double bx, double by, double cx, double cy,
              int colour) {
    const int x0 = static_cast<int>(std::floor(std::min({ax, bx, cx})));
    const int x1 = static_cast<int>(std::ceil(std::max({ax, bx, cx})));
    const int y0 = static_cast<int>(std::floor(std::min({ay, by, cy})));
    const int y1 = static_cast<int>(std::ceil(std::max({ay, by, cy})));
    auto edge = [](double px, double py, double qx, double qy, double x, double y) {
        return (qx - px) * (y - py) - (qy - py) * (x - px);
    };
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x) {
            const double px = x + 0.5, py = y + 0.5;
            const double e0 = edge(ax, ay, bx, by, px, py);
            const double e1 = edge(bx, by, cx, cy, px, py);
            const double e2 = edge(cx, cy, ax, ay, px, py);
            if ((e0 >= 0 && e1 >= 0 && e2 >= 0) || (e0 <= 0 && e1 <= 0 && e2 <= 0))
                c.set(x, y, colour);
        }
}

void thickLine(Canvas& c, double x0, double y0, double x1, double y1, double radius, int colour) {
    const double len = std::hypot(x1 - x0, y1 - y0);
    const int steps = std::max(1, static_cast<int>(len * 2.0));
    for (int i = 0; i <= steps; ++i) {
        const double t = static_cast<double>(i) / steps;
        c.disc(x0 + (x1 - x0) * t, y0 + (y1 - y0) * t, radius, colour);
    }
}

} // namespace

// A city skyline at night with lit windows, a full moon and its reflection in the river.
png::Image image10() {
    const std::vector<Colour> pal = {
        {6, 6, 26},   {16, 16, 50}, {40, 30, 84},    {96, 56, 116},  {250, 246, 222}, {40, 34, 70},
        {24, 22, 46}, {10, 10, 20}, {255, 214, 96},  {178, 124, 60}, {120, 206, 255}, {255, 54, 54},
        {8, 14, 34},  {22, 32, 66}, {196, 196, 176}, {160, 150, 190}};
    Canvas c;
    const int waterline = 176;
    Rng rng{0xC17Eull};
    for (int y = 0; y < waterline; ++y)
        for (int x = 0; x < widthPx; ++x)
            c.set(x, y, ditherRamp({0, 1, 2, 3}, std::pow(y / 176.0, 1.6), x, y));
    for (int i = 0; i < 110; ++i) {
        const int x = rng.range(0, widthPx - 1), y = rng.range(0, 110);
        c.set(x, y, rng.uniform() < 0.25 ? 4 : 15);
    }
    c.disc(252, 46, 19, 4);
    c.disc(246, 40, 4, 14);
    c.disc(259, 52, 3, 14);
    c.disc(250, 56, 2, 14);
    // Three rows of buildings, far to near, each darker and with more lights.
    struct Layer {
        int colour, minW, maxW, minH, maxH;
        double lit;
    };
    const Layer layers[] = {
        {5, 8, 18, 28, 70, 0.0}, {6, 12, 26, 40, 110, 0.18}, {7, 16, 34, 18, 80, 0.38}};
    for (const Layer& layer : layers) {
        int x = -rng.range(0, 10);
        while (x < widthPx) {
            const int w = rng.range(layer.minW, layer.maxW);
            const int h = rng.range(layer.minH, layer.maxH);
            const int top = waterline - h;
            c.rect(x, top, x + w, waterline, layer.colour);
            if (rng.uniform() < 0.3) { // stepped roof
                c.rect(x + w / 4, top - 6, x + w - w / 4, top, layer.colour);
            }
            if (h > 90 && rng.uniform() < 0.7) {
                c.rect(x + w / 2, top - 20, x + w / 2 + 1, top, layer.colour);
                c.set(x + w / 2, top - 21, 11);
            }
            if (layer.lit > 0) {
                const int windowColour = rng.uniform() < 0.2 ? 10 : 8;
                for (int wy = top + 4; wy < waterline - 4; wy += 5)
                    for (int wx = x + 2; wx < x + w - 2; wx += 4)
                        if (rng.uniform() < layer.lit)
                            c.rect(wx, wy, wx + 2, wy + 3, rng.uniform() < 0.3 ? 9 : windowColour);
            }
            x += w + rng.range(0, 3);
        }
    }
    // The river mirrors the skyline, broken up by ripples and darkened.
    for (int y = waterline; y < heightPx; ++y) {
        const int dy = y - waterline;
        for (int x = 0; x < widthPx; ++x) {
            const int shift =
                static_cast<int>(std::lround(std::sin(dy * 0.9 + x * 0.05) * (1.0 + dy * 0.06)));
            const int src = c.get(x + shift, waterline - 1 - dy);
            int out;
            switch (src) {
            case 8:
            case 10:
            case 9: out = ((x + y) & 1) ? 9 : 12; break;
            case 4:
            case 14: out = ((y & 1) == 0) ? 14 : 13; break;
            case 11: out = 11; break;
            case 3:
            case 2: out = 13; break;
            default: out = 12; break;
            }
            if ((dy % 3) == 2 && out == 12 && ((x / 7 + dy) % 5) == 0) out = 13;
            c.set(x, y, out);
        }
    }
    return paletteImage(c, pal, 4);
}

// Layered mountain ridges against a sunset sky with a low sun and a flock of birds.
png::Image image11() {
    const std::vector<Colour> pal = {
        {44, 20, 78},   {96, 36, 108},   {176, 62, 104},  {240, 112, 82},
        {255, 172, 92}, {255, 222, 142}, {255, 250, 206}, {156, 74, 114},
        {114, 52, 98},  {78, 36, 84},    {48, 24, 62},    {26, 14, 40},
        {210, 96, 100}, {14, 8, 22},     {255, 196, 120}, {130, 60, 104}};
    Canvas c;
    for (int y = 0; y < heightPx; ++y)
        for (int x = 0; x < widthPx; ++x)
            c.set(x, y, ditherRamp({0, 1, 2, 3, 4, 14}, y / 170.0, x, y));
    // The sun with a soft halo, sinking behind the ridges.
    const double sunX = 196, sunY = 136;
    for (int y = 0; y < heightPx; ++y)
        for (int x = 0; x < widthPx; ++x) {
            const double d = std::hypot(x + 0.5 - sunX, (y + 0.5 - sunY) * 1.1);
            if (d < 34)
                c.set(x, y, d < 28 ? 6 : 5);
            else if (d < 60 && bayer8(x, y) < (60 - d) / 40.0)
                c.set(x, y, 14);
        }
    // Thin cloud streaks across the sky.
    for (int y = 40; y < 120; ++y)
        for (int x = 0; x < widthPx; ++x) {
            const double n = fbm(x * 0.012, y * 0.09, 4, 31u);
            if (n > 0.62) c.set(x, y, y < 80 ? 2 : 12);
        }
    const int layerColours[] = {7, 15, 8, 9, 10, 11};
    for (int layer = 0; layer < 6; ++layer) {
        const double base = 132.0 + layer * 18.0;
        const double amplitude = 34.0 - layer * 3.0;
        const auto h =
            ridge(base, amplitude, 0.008 + layer * 0.003, 100u + static_cast<uint32_t>(layer));
        for (int x = 0; x < widthPx; ++x)
            for (int y = std::max(0, static_cast<int>(h[static_cast<size_t>(x)])); y < heightPx;
                 ++y)
                c.set(x, y, layerColours[layer]);
    }
    // Birds: small chevrons.
    const double birds[][2] = {{90, 60}, {104, 52}, {116, 64}, {80, 72}, {128, 56}};
    for (const auto& bird : birds) {
        for (int i = -4; i <= 4; ++i) {
            const int bx = static_cast<int>(bird[0]) + i;
            const int by = static_cast<int>(bird[1]) - (4 - std::abs(i)) / 2;
            c.set(bx, by, 13);
        }
    }
    return paletteImage(c, pal, 4);
}

// Deep space: a nebula, stars, a ringed planet with its moon and a small red world.
png::Image image12() {
    const std::vector<Colour> pal = {
        {0, 0, 4},       {22, 10, 44},    {62, 20, 92},    {132, 40, 142},
        {222, 102, 184}, {120, 120, 150}, {255, 255, 255}, {24, 44, 112},
        {56, 106, 200},  {124, 184, 255}, {212, 180, 126}, {138, 108, 78},
        {84, 76, 70},    {168, 158, 140}, {232, 222, 202}, {255, 118, 60}};
    Canvas c;
    for (int y = 0; y < heightPx; ++y)
        for (int x = 0; x < widthPx; ++x) {
            const double n = fbm(x * 0.011, y * 0.014, 6, 77u);
            const double band = std::exp(-std::pow((y - 90.0 - x * 0.35) / 70.0, 2.0));
            c.set(x, y, ditherRamp({0, 1, 2, 3, 4}, (n - 0.38) * 2.2 * band, x, y));
        }
    Rng rng{0x57A25ull};
    for (int i = 0; i < 260; ++i) {
        const int x = rng.range(0, widthPx - 1), y = rng.range(0, heightPx - 1);
        const bool bright = rng.uniform() < 0.15;
        c.set(x, y, bright ? 6 : 5);
        if (bright && rng.uniform() < 0.4) {
            c.set(x - 1, y, 5);
            c.set(x + 1, y, 5);
            c.set(x, y - 1, 5);
            c.set(x, y + 1, 5);
        }
    }
    const double px = 196, py = 138, pr = 62;
    const double tilt = -0.32;
    const double ct = std::cos(tilt), st = std::sin(tilt);
    auto ringAt = [&](double x, double y, bool front) {
        const double dx = x - px, dy = y - py;
        const double u = dx * ct + dy * st, v = (-dx * st + dy * ct) / 0.26;
        const double r = std::hypot(u, v);
        if ((v > 0) != front) return -1;
        if (r > pr * 1.35 && r < pr * 1.62) return (r < pr * 1.46 || r > pr * 1.52) ? 10 : 11;
        if (r > pr * 1.65 && r < pr * 1.8) return 11;
        return -1;
    };
    for (int y = 0; y < heightPx; ++y)
        for (int x = 0; x < widthPx; ++x) {
            const int ring = ringAt(x + 0.5, y + 0.5, false);
            if (ring >= 0) c.set(x, y, ring);
        }
    const Vec3 light = normalize({-0.7, -0.35, 0.6});
    for (int y = 0; y < heightPx; ++y)
        for (int x = 0; x < widthPx; ++x) {
            const double nx = (x + 0.5 - px) / pr, ny = (y + 0.5 - py) / pr;
            const double rr = nx * nx + ny * ny;
            if (rr >= 1) continue;
            const Vec3 n = {nx, ny, std::sqrt(1 - rr)};
            const double lat = ny * ct - nx * st;
            const double bands = 0.12 * std::sin(lat * 22.0 + 2.0 * fbm(nx * 4, lat * 8, 3, 9u));
            const double shade = std::max(0.0, dot(n, light)) * 0.9 + 0.06 + bands;
            c.set(x, y, ditherRamp({0, 7, 8, 9}, shade, x, y));
        }
    for (int y = 0; y < heightPx; ++y)
        for (int x = 0; x < widthPx; ++x) {
            const int ring = ringAt(x + 0.5, y + 0.5, true);
            if (ring >= 0) c.set(x, y, ring);
        }
    auto moon = [&](double mx, double my, double mr, const std::vector<int>& ramp, uint32_t seed) {
        for (int y = 0; y < heightPx; ++y)
            for (int x = 0; x < widthPx; ++x) {
                const double nx = (x + 0.5 - mx) / mr, ny = (y + 0.5 - my) / mr;
                const double rr = nx * nx + ny * ny;
                if (rr >= 1) continue;
                const Vec3 n = {nx, ny, std::sqrt(1 - rr)};
                const double craters = fbm(nx * 3 + 5, ny * 3, 4, seed);
                const double shade = std::max(0.0, dot(n, light)) * (0.7 + 0.5 * craters);
                c.set(x, y, ditherRamp(ramp, shade, x, y));
            }
    };
    moon(62, 62, 22, {0, 12, 13, 14}, 5u);
    moon(286, 36, 9, {0, 11, 15}, 6u);
    return paletteImage(c, pal, 4);
}

// A sunny seaside: sea to the horizon, a sailing boat, a sandy shore and a palm tree.
png::Image image16() {
    const std::vector<Colour> pal = {
        {70, 150, 236},  {128, 192, 248}, {196, 228, 255}, {255, 255, 255},
        {255, 240, 150}, {16, 72, 150},   {34, 116, 196},  {172, 226, 255},
        {244, 214, 146}, {210, 170, 100}, {124, 82, 40},   {80, 50, 24},
        {46, 156, 56},   {22, 94, 32},    {222, 52, 40},   {30, 30, 44}};
    Canvas c;
    const int horizon = 116;
    for (int y = 0; y < horizon; ++y)
        for (int x = 0; x < widthPx; ++x) c.set(x, y, ditherRamp({0, 1, 2}, y / 116.0, x, y));
    c.disc(262, 40, 18, 4);
    // Puffy clouds from overlapping discs.
    const double clouds[][3] = {{70, 34, 1.0}, {170, 58, 0.8}, {300, 86, 0.6}};
    for (const auto& cloud : clouds) {
        const double s = cloud[2];
        c.disc(cloud[0], cloud[1], 12 * s, 3);
        c.disc(cloud[0] + 14 * s, cloud[1] - 6 * s, 14 * s, 3);
        c.disc(cloud[0] + 30 * s, cloud[1], 11 * s, 3);
        c.rect(static_cast<int>(cloud[0]), static_cast<int>(cloud[1]),
               static_cast<int>(cloud[0] + 30 * s), static_cast<int>(cloud[1] + 8 * s), 3);
        c.rect(static_cast<int>(cloud[0] - 2 * s), static_cast<int>(cloud[1] + 6 * s),
               static_cast<int>(cloud[0] + 34 * s), static_cast<int>(cloud[1] + 11 * s), 2);
    }
    for (int y = horizon; y < heightPx; ++y)
        for (int x = 0; x < widthPx; ++x) {
            const double t = (y - horizon) / 80.0;
            int colour = ditherRamp({6, 5}, t * 0.9, x, y);
            const double wave =
                std::sin(x * (0.25 - t * 0.12) + y * 1.7) + std::sin(x * 0.05 - y * 0.6);
            if (wave > 1.55 - t * 0.2) colour = 7;
            if (std::fabs(x - 262.0) < 10.0 - (y - horizon) * 0.05 && ((y / 2) & 1) &&
                y < horizon + 60)
                colour = 4;
            c.set(x, y, colour);
        }
    // Sailing boat on the horizon.
    triangle(c, 140, 112, 152, 112, 148, 80, 3);
    triangle(c, 138, 112, 146, 112, 146, 90, 2);
    c.rect(135, 112, 158, 116, 14);
    c.rect(137, 116, 156, 118, 14);
    // The shore: a sand bank rising to the left with a line of foam.
    for (int x = 0; x < widthPx; ++x) {
        const double shore = 176.0 + x * 0.14 + 6.0 * std::sin(x * 0.03);
        for (int y = static_cast<int>(shore); y < heightPx; ++y) {
            int colour = (y - shore) < 3
                             ? 3
                             : ditherRamp({8, 9}, fbm(x * 0.08, y * 0.08, 3, 12u) * 0.9, x, y);
            c.set(x, y, colour);
        }
    }
    // Palm tree: a curved trunk and drooping fronds.
    double tx = 40, ty = 226;
    for (int i = 0; i < 40; ++i) {
        const double t = i / 40.0;
        const double nx = 40 + 40 * t * t, ny = 226 - 140 * t;
        thickLine(c, tx, ty, nx, ny, 5.0 - 2.0 * t, (i & 1) ? 10 : 11);
        tx = nx;
        ty = ny;
    }
    const double crownX = tx, crownY = ty;
    for (int f = 0; f < 7; ++f) {
        const double angle = -pi + f * (pi / 6.0) + 0.1;
        double fx = crownX, fy = crownY;
        for (int s = 1; s <= 14; ++s) {
            const double t = s / 14.0;
            const double nx = crownX + std::cos(angle) * 52 * t;
            const double ny = crownY + std::sin(angle) * 34 * t + 30 * t * t;
            thickLine(c, fx, fy, nx, ny, 3.2 * (1.0 - t) + 0.8, (f & 1) ? 12 : 13);
            fx = nx;
            fy = ny;
        }
    }
    c.disc(crownX - 3, crownY + 4, 3.5, 11);
    c.disc(crownX + 4, crownY + 5, 3.5, 11);
    return paletteImage(c, pal, 4);
}

// A desert at noon: dunes, pyramids lit from one side and saguaro cacti.
png::Image image17() {
    const std::vector<Colour> pal = {
        {96, 160, 226},  {160, 204, 240}, {232, 230, 214}, {255, 252, 224},
        {242, 194, 112}, {224, 162, 82},  {194, 124, 60},  {152, 92, 46},
        {238, 204, 134}, {164, 122, 72},  {64, 146, 64},   {32, 94, 44},
        {122, 72, 40},   {92, 62, 40},    {255, 255, 255}, {22, 16, 12}};
    Canvas c;
    for (int y = 0; y < 150; ++y)
        for (int x = 0; x < widthPx; ++x)
            c.set(x, y, ditherRamp({0, 1, 2}, std::pow(y / 150.0, 1.3), x, y));
    for (int y = 0; y < 150; ++y)
        for (int x = 0; x < widthPx; ++x) {
            const double d = std::hypot(x + 0.5 - 70, y + 0.5 - 42);
            if (d < 20)
                c.set(x, y, 3);
            else if (d < 40 && bayer8(x, y) < (40 - d) / 30.0)
                c.set(x, y, 2);
        }
    // Pyramids: the sunlit face on the left, the shaded face on the right.
    const double pyramids[][3] = {{208, 142, 60}, {268, 146, 40}, {150, 148, 24}};
    for (const auto& p : pyramids) {
        const double cx = p[0], base = p[1], h = p[2];
        triangle(c, cx - h * 1.25, base, cx + h * 0.2, base, cx, base - h, 8);
        triangle(c, cx + h * 0.2, base, cx + h * 1.25, base, cx, base - h, 9);
    }
    const int duneColours[] = {5, 4, 6, 5, 7};
    for (int layer = 0; layer < 5; ++layer) {
        for (int x = 0; x < widthPx; ++x) {
            const double top = 140.0 + layer * 20.0 +
                               9.0 * std::sin(x * (0.012 + layer * 0.004) + layer * 1.7) +
                               5.0 * std::sin(x * 0.041 + layer);
            for (int y = static_cast<int>(top); y < heightPx; ++y) {
                int colour = duneColours[layer];
                if (y - top < 2)
                    colour = 8;
                else if (fract((y - top) * 0.16 + std::sin(x * 0.05) * 0.3) < 0.1)
                    colour = layer == 4 ? 12 : 6;
                c.set(x, y, colour);
            }
        }
    }
    // Saguaro cacti with their shadows.
    auto cactus = [&](int x, int groundY, int height) {
        for (int i = 0; i < 18; ++i) c.set(x + 6 + i, groundY + i / 4, 12);
        c.rect(x - 3, groundY - height, x + 4, groundY, 10);
        c.rect(x + 1, groundY - height, x + 4, groundY, 11);
        c.disc(x + 0.5, groundY - height, 3.5, 10);
        c.rect(x - 12, groundY - height / 2 - 4, x - 3, groundY - height / 2, 10);
        c.rect(x - 12, groundY - height * 3 / 4, x - 8, groundY - height / 2, 10);
        c.disc(x - 10, groundY - height * 3 / 4, 2, 10);
        c.rect(x + 4, groundY - height / 3 - 4, x + 12, groundY - height / 3, 11);
        c.rect(x + 8, groundY - height * 2 / 3, x + 12, groundY - height / 3, 11);
        c.disc(x + 10, groundY - height * 2 / 3, 2, 11);
    };
    cactus(60, 214, 58);
    cactus(250, 228, 40);
    cactus(122, 190, 26);
    return paletteImage(c, pal, 4);
}

// A neon night drive: striped sun, wireframe mountains and a grid racing to the horizon.
png::Image image19() {
    const std::vector<Colour> pal = {
        {10, 0, 30},    {38, 0, 70},     {86, 10, 110},  {156, 30, 130},
        {255, 62, 150}, {255, 122, 122}, {255, 190, 90}, {255, 240, 120},
        {255, 40, 220}, {110, 20, 150},  {18, 0, 38},    {30, 8, 58},
        {0, 220, 255},  {255, 255, 255}, {70, 0, 90},    {4, 0, 12}};
    Canvas c;
    const int horizon = 150;
    for (int y = 0; y < horizon; ++y)
        for (int x = 0; x < widthPx; ++x)
            c.set(x, y, ditherRamp({0, 1, 2, 3}, std::pow(y / 150.0, 1.8), x, y));
    Rng rng{0x5E0Eull};
    for (int i = 0; i < 70; ++i) c.set(rng.range(0, widthPx - 1), rng.range(0, 90), 13);
    const double sunX = 160, sunY = 108, sunR = 62;
    for (int y = 0; y < horizon; ++y)
        for (int x = 0; x < widthPx; ++x) {
            const double d = std::hypot(x + 0.5 - sunX, y + 0.5 - sunY);
            if (d >= sunR) continue;
            const double t = (y - (sunY - sunR)) / (2 * sunR);
            // Gaps that widen towards the bottom of the disc.
            const double gapPhase = fract((y - 90.0) / 9.0);
            if (y > 90 && gapPhase < (y - 90.0) / 70.0) continue;
            c.set(x, y, ditherRamp({7, 6, 5, 4}, t * 1.3, x, y));
        }
    // Mountains with a cyan rim, overlapping the bottom of the sun.
    const auto peaks = ridge(horizon - 10.0, 26.0, 0.012, 404u);
    for (int x = 0; x < widthPx; ++x) {
        const double centre = std::fabs(x - 160.0) / 160.0;
        const double top =
            horizon - (horizon - peaks[static_cast<size_t>(x)]) * (0.3 + 0.9 * centre);
        for (int y = static_cast<int>(top); y < horizon; ++y)
            c.set(x, y, y - static_cast<int>(top) < 1 ? 12 : 11);
        for (int y = static_cast<int>(top) + 1; y < horizon; ++y)
            if (((x + y) % 11) == 0 || ((x - y) % 11) == 0) c.set(x, y, 14);
    }
    // The floor grid in perspective, fading into a glow at the horizon.
    for (int y = horizon; y < heightPx; ++y) {
        const double dy = y + 0.5 - horizon;
        const double z = 60.0 / dy;
        for (int x = 0; x < widthPx; ++x) {
            const double wx = (x + 0.5 - 160.0) * z / 40.0;
            const double along = z * 3.0;
            const double lineWidthX = 0.06 * z;
            const bool across = fract(along) < std::min(0.5, 0.02 * dy / 4.0 + 0.12);
            const bool lengthwise = std::fabs(fract(wx) - 0.5) >
                                    0.5 - std::max(0.04, 0.4 / (dy * z) + lineWidthX * 0.1);
            int colour = 10;
            if (dy < 6 && bayer8(x, y) < (6 - dy) / 6.0) colour = 3;
            if (across || lengthwise) colour = dy < 20 ? 9 : 8;
            c.set(x, y, colour);
        }
    }
    for (int x = 0; x < widthPx; ++x) c.set(x, horizon, 4);
    return paletteImage(c, pal, 4);
}

} // namespace art
