// The 256-colour pictures: a sine plasma and a burning fire.
#include "art.h"

namespace art {

// Overlapping sine fields through a cycling rainbow palette.
png::Image image13() {
    std::vector<Colour> pal(256);
    for (int i = 0; i < 256; ++i) {
        const double t = i / 256.0 * 2.0 * pi;
        const auto channel = [&](double phase) {
            return static_cast<uint8_t>(std::lround(127.5 + 127.5 * std::cos(t * 2.0 + phase)));
        };
        pal[static_cast<size_t>(i)] = {channel(0.0), channel(2.1), channel(4.2)};
    }
    Canvas c;
    for (int y = 0; y < heightPx; ++y)
        for (int x = 0; x < widthPx; ++x) {
            const double fx = x / 320.0, fy = y / 240.0;
            double v = std::sin(fx * 11.0 + 1.0);
            v += std::sin((fy * 9.0 + fx * 5.0) + 2.0);
            v += std::sin(std::hypot(fx - 0.6, fy - 0.4) * 22.0);
            v += std::sin(std::hypot(fx - 0.2, fy - 0.8) * 15.0 + fx * 4.0);
            const int index = static_cast<int>(std::floor((v + 4.0) / 8.0 * 512.0)) & 255;
            c.set(x, y, index);
        }
    return paletteImage(c, pal, 8);
}

// The classic cellular fire: hot coals at the bottom, heat rising and cooling into flames.
png::Image image18() {
    std::vector<Colour> pal(256);
    for (int i = 0; i < 256; ++i) {
        const double t = i / 255.0;
        const double r = clamp01(t * 3.0), g = clamp01(t * 3.0 - 1.0), b = clamp01(t * 3.0 - 2.0);
        pal[static_cast<size_t>(i)] = {static_cast<uint8_t>(std::lround(r * 255.0)),
                                       static_cast<uint8_t>(std::lround(std::pow(g, 1.2) * 255.0)),
                                       static_cast<uint8_t>(std::lround(b * 255.0))};
    }
    const int rows = heightPx + 2;
    std::vector<int> heat(static_cast<size_t>(widthPx * rows), 0);
    auto at = [&](int x, int y) -> int& {
        x = (x + widthPx) % widthPx;
        return heat[static_cast<size_t>(y * widthPx + x)];
    };
    Rng rng{0xF12Eull};
    for (int step = 0; step < 420; ++step) {
        // Coals in runs of a few pixels: wide hot patches feed separate tongues of flame.
        int runLeft = 0, value = 0;
        for (int x = 0; x < widthPx; ++x) {
            if (runLeft-- <= 0) {
                const double centre = 1.0 - std::pow(std::fabs(x - 160.0) / 170.0, 2.0);
                value = rng.uniform() < 0.6 * centre + 0.1 ? 255 : 0;
                runLeft = rng.range(3, 14);
            }
            at(x, rows - 1) = value;
            at(x, rows - 2) = value;
        }
        for (int y = 0; y < rows - 2; ++y)
            for (int x = 0; x < widthPx; ++x) {
                const int sum = at(x - 1, y + 1) + at(x, y + 1) + at(x + 1, y + 1) + at(x, y + 2);
                // Heat drifts sideways as it rises and loses a step on two rows in three, which
                // breaks the glow into licking tongues.
                const int drift = static_cast<int>(rng.next() % 3) - 1;
                at(x + drift, y) = std::max(0, sum / 4 - static_cast<int>(rng.next() % 3 != 0));
            }
    }
    Canvas c;
    for (int y = 0; y < heightPx; ++y)
        for (int x = 0; x < widthPx; ++x) c.set(x, y, std::min(255, at(x, y)));
    return paletteImage(c, pal, 8);
}

} // namespace art
