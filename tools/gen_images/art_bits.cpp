// The two-colour pictures: op-art, line work and ordered-dither shading.
#include "art.h"

namespace art {

namespace {

void line(Bitmap& b, double x0, double y0, double x1, double y1, int v, int thickness) {
    const double dx = x1 - x0, dy = y1 - y0;
    const int steps =
        std::max(1, static_cast<int>(std::ceil(std::max(std::fabs(dx), std::fabs(dy)))));
    for (int i = 0; i <= steps; ++i) {
        const double t = static_cast<double>(i) / steps;
        const int cx = static_cast<int>(std::floor(x0 + dx * t));
        const int cy = static_cast<int>(std::floor(y0 + dy * t));
        for (int oy = 0; oy < thickness; ++oy)
            for (int ox = 0; ox < thickness; ++ox) b.set(cx + ox, cy + oy, v);
    }
}

} // namespace

// Two sets of concentric rings whose interference draws moiré fringes.
png::Image image01() {
    Bitmap b;
    for (int y = 0; y < heightPx; ++y)
        for (int x = 0; x < widthPx; ++x) {
            const double d1 = std::hypot(x + 0.5 - 118.0, y + 0.5 - 120.0);
            const double d2 = std::hypot(x + 0.5 - 202.0, y + 0.5 - 120.0);
            const int ring1 = static_cast<int>(d1 / 5.0) & 1;
            const int ring2 = static_cast<int>(d2 / 5.0) & 1;
            b.set(x, y, ring1 ^ ring2);
        }
    return greyImage(b);
}

// A twisting checkerboard tunnel fading into darkness at its far end.
png::Image image02() {
    Bitmap b;
    const double cx = 168.0, cy = 112.0;
    for (int y = 0; y < heightPx; ++y)
        for (int x = 0; x < widthPx; ++x) {
            const double dx = x + 0.5 - cx, dy = y + 0.5 - cy;
            const double r = std::hypot(dx, dy);
            const double depth = 2200.0 / (r + 1.0);
            const double around = std::atan2(dy, dx) / (2.0 * pi) * 20.0 + depth * 0.04;
            const int checker =
                (static_cast<int>(std::floor(around)) + static_cast<int>(std::floor(depth * 0.1))) &
                1;
            const double light = clamp01((r - 6.0) / 150.0);
            b.set(x, y, checker && light * light * 1.6 > bayer8(x, y) ? 1 : 0);
        }
    return greyImage(b);
}

// Lit spheres on a floor, shaded with ordered dithering.
png::Image image03() {
    struct Ball {
        double x, y, r;
    };
    const Ball balls[] = {{150, 112, 74}, {262, 150, 34}, {52, 168, 22}};
    const Vec3 light = normalize({-0.55, -0.65, 0.6});
    Bitmap b;
    for (int y = 0; y < heightPx; ++y)
        for (int x = 0; x < widthPx; ++x) {
            const double px = x + 0.5, py = y + 0.5;
            double shade;
            if (py > 150) {
                // Floor: brighter towards the viewer, with an elliptical shadow under each ball.
                shade = 0.25 + 0.35 * (py - 150) / 90.0;
                for (const Ball& ball : balls) {
                    const double sx = (px - (ball.x + ball.r * 0.6)) / (ball.r * 1.1);
                    const double sy = (py - (ball.y + ball.r * 0.95)) / (ball.r * 0.28);
                    shade *= 0.25 + 0.75 * smoothstep(0.6, 1.2, std::sqrt(sx * sx + sy * sy));
                }
            } else {
                shade = 0.05 + 0.12 * py / 150.0;
            }
            for (const Ball& ball : balls) {
                const double nx = (px - ball.x) / ball.r, ny = (py - ball.y) / ball.r;
                const double rr = nx * nx + ny * ny;
                if (rr >= 1.0) continue;
                const Vec3 n = {nx, ny, std::sqrt(1.0 - rr)};
                const double diffuse = std::max(0.0, dot(n, light));
                const Vec3 h = normalize(light + Vec3{0, 0, 1});
                const double specular = std::pow(std::max(0.0, dot(n, h)), 40.0);
                shade = 0.06 + 0.8 * diffuse + 0.7 * specular + 0.08 * std::max(0.0, ny);
            }
            b.set(x, y, shade > bayer8(x, y) ? 1 : 0);
        }
    return twoColourImage(b, {8, 18, 58}, {120, 232, 255});
}

// Two counter-rotating logarithmic spirals crossed into a hypnotic weave.
png::Image image04() {
    Bitmap b;
    for (int y = 0; y < heightPx; ++y)
        for (int x = 0; x < widthPx; ++x) {
            const double dx = x + 0.5 - 160.0, dy = y + 0.5 - 120.0;
            const double r = std::hypot(dx, dy);
            const double a = std::atan2(dy, dx) / (2.0 * pi);
            const double lr = std::log(r + 1.0) * 3.2;
            const int s1 = static_cast<int>(std::floor(a * 10.0 + lr)) & 1;
            const int s2 = static_cast<int>(std::floor(a * 10.0 - lr)) & 1;
            b.set(x, y, r < 4.0 ? 1 : s1 ^ s2);
        }
    return twoColourImage(b, {12, 4, 2}, {255, 142, 18});
}

// A hidden-line plot of a rippling surface, drawn front to back against a rising horizon.
png::Image image05() {
    Bitmap b;
    std::vector<double> horizon(widthPx, heightPx + 1.0);
    const int lines = 58;
    for (int k = 0; k < lines; ++k) {
        const double z = static_cast<double>(k) / (lines - 1); // 0 front, 1 back
        const double baseY = 228.0 - z * 150.0;
        const double scale = 1.0 - 0.35 * z; // the far rows shrink towards the centre
        double prevX = -1, prevY = 0;
        bool prevVisible = false;
        for (int x = 0; x < widthPx; ++x) {
            const double u = (x + 0.5 - 160.0) / (160.0 * scale);
            const double w = (z - 0.55) * 2.2;
            const double r = std::hypot(u * 1.3, w);
            const double height =
                62.0 * std::cos(r * 7.5) * std::exp(-r * 2.2) +
                18.0 * std::exp(-((u + 0.55) * (u + 0.55) + (w + 0.4) * (w + 0.4)) * 9.0) +
                6.0 * (fbm(u * 3.0 + 10.0, z * 6.0, 3, 55u) - 0.5);
            const double sy = baseY - height * (0.6 + 0.4 * (1.0 - z));
            const bool visible = sy < horizon[static_cast<size_t>(x)];
            if (visible && prevVisible)
                line(b, prevX, prevY, x, sy, 1, 1);
            else if (visible)
                b.set(x, static_cast<int>(sy), 1);
            horizon[static_cast<size_t>(x)] = std::min(horizon[static_cast<size_t>(x)], sy);
            prevX = x;
            prevY = sy;
            prevVisible = visible;
        }
    }
    return twoColourImage(b, {26, 8, 44}, {255, 176, 222});
}

// A checkerboard swelling out of the page through a spherical lens.
png::Image image07() {
    Bitmap b;
    const double lensR = 104.0;
    for (int y = 0; y < heightPx; ++y)
        for (int x = 0; x < widthPx; ++x) {
            double px = x + 0.5 - 160.0, py = y + 0.5 - 120.0;
            const double d = std::hypot(px, py);
            if (d < lensR) {
                // Sampling the board at a power of the radius magnifies the middle and crowds the
                // rim, so the flat board seems to swell into a ball.
                const double f = std::pow(d / lensR, 0.55);
                px *= f;
                py *= f;
            }
            const int c = (static_cast<int>(std::floor(px / 16.0)) +
                           static_cast<int>(std::floor(py / 16.0))) &
                          1;
            b.set(x, y, c);
        }
    return twoColourImage(b, {18, 16, 24}, {244, 232, 208});
}

// Truchet tiles: quarter-circle arcs joining into endless winding pipes.
png::Image image08() {
    Bitmap b;
    Rng rng{0x7A11E5ull};
    const int tile = 20;
    std::vector<int> flip(static_cast<size_t>((widthPx / tile) * (heightPx / tile)));
    for (int& f : flip) f = static_cast<int>(rng.next() & 1u);
    for (int y = 0; y < heightPx; ++y)
        for (int x = 0; x < widthPx; ++x) {
            const int tx = x / tile, ty = y / tile;
            double u = (x % tile) + 0.5, v = (y % tile) + 0.5;
            if (flip[static_cast<size_t>(ty * (widthPx / tile) + tx)]) u = tile - u;
            const double d1 = std::hypot(u, v);
            const double d2 = std::hypot(tile - u, tile - v);
            const double half = tile / 2.0;
            const double e = std::min(std::fabs(d1 - half), std::fabs(d2 - half));
            // A hollow pipe: an outline with a thin gap down the middle.
            const int on = (e < 4.2 && e > 1.4) ? 1 : 0;
            b.set(x, y, on);
        }
    return twoColourImage(b, {0, 34, 18}, {152, 255, 86});
}

// Two fans of rays from nearby centres beating against each other.
png::Image image14() {
    Bitmap b;
    const int rays = 72;
    for (int y = 0; y < heightPx; ++y)
        for (int x = 0; x < widthPx; ++x) {
            const double a1 = std::atan2(y + 0.5 - 100.0, x + 0.5 - 128.0);
            const double a2 = std::atan2(y + 0.5 - 140.0, x + 0.5 - 192.0);
            const int r1 = static_cast<int>(std::floor((a1 / (2.0 * pi) + 0.5) * rays)) & 1;
            const int r2 = static_cast<int>(std::floor((a2 / (2.0 * pi) + 0.5) * rays)) & 1;
            b.set(x, y, r1 ^ r2);
        }
    return twoColourImage(b, {248, 246, 236}, {22, 30, 120});
}

// A harmonograph trace: two damped pendulums per axis drawing a decaying figure.
png::Image image15() {
    Bitmap b;
    const double f1 = 3.001, f2 = 2.0, f3 = 3.0, f4 = 2.003;
    double prevX = 0, prevY = 0;
    const int steps = 60000;
    for (int i = 0; i <= steps; ++i) {
        const double t = i * 0.004;
        const double x = 160.0 + std::exp(-0.004 * t) * (70.0 * std::sin(f1 * t + 0.3) +
                                                         62.0 * std::sin(f2 * t + 1.7));
        const double y = 120.0 + std::exp(-0.004 * t) *
                                     (52.0 * std::sin(f3 * t + 0.9) + 54.0 * std::sin(f4 * t));
        if (i > 0) line(b, prevX, prevY, x, y, 1, 1);
        prevX = x;
        prevY = y;
    }
    return twoColourImage(b, {6, 6, 18}, {255, 212, 84});
}

} // namespace art
