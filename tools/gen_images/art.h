// Shared drawing helpers for the generated pictures: canvases, dithering, noise and vectors.
#pragma once

#include "png_write.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace art {

constexpr int widthPx = 320;
constexpr int heightPx = 240;
constexpr double pi = 3.14159265358979323846;

struct Colour {
    uint8_t r, g, b;
};

// splitmix64: tiny, fixed-seeded, identical on every platform.
struct Rng {
    uint64_t state;
    uint64_t next() {
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    double uniform() { return static_cast<double>(next() >> 11) * (1.0 / 9007199254740992.0); }
    int range(int lo, int hi) {
        return lo + static_cast<int>(next() % static_cast<uint64_t>(hi - lo + 1));
    }
};

// Threshold of the 8x8 ordered-dither matrix at a pixel, in (0, 1).
inline double bayer8(int x, int y) {
    static constexpr int m2[2][2] = {{0, 2}, {3, 1}};
    int v = 0;
    for (int i = 0; i < 3; ++i) v = v * 4 + m2[(y >> i) & 1][(x >> i) & 1];
    return (v + 0.5) / 64.0;
}

inline double clamp01(double v) {
    return std::clamp(v, 0.0, 1.0);
}
inline double smoothstep(double e0, double e1, double x) {
    const double t = clamp01((x - e0) / (e1 - e0));
    return t * t * (3.0 - 2.0 * t);
}
inline double fract(double v) {
    return v - std::floor(v);
}

// Two-valued picture: 1-bit greyscale or a two-entry palette.
struct Bitmap {
    std::vector<uint8_t> bits = std::vector<uint8_t>(widthPx * heightPx, 0);
    void set(int x, int y, int v) {
        if (x >= 0 && y >= 0 && x < widthPx && y < heightPx)
            bits[static_cast<size_t>(y * widthPx + x)] = static_cast<uint8_t>(v);
    }
    int get(int x, int y) const { return bits[static_cast<size_t>(y * widthPx + x)]; }
};

// Palette-index picture.
struct Canvas {
    std::vector<uint8_t> px = std::vector<uint8_t>(widthPx * heightPx, 0);
    void set(int x, int y, int c) {
        if (x >= 0 && y >= 0 && x < widthPx && y < heightPx)
            px[static_cast<size_t>(y * widthPx + x)] = static_cast<uint8_t>(c);
    }
    int get(int x, int y) const {
        x = std::clamp(x, 0, widthPx - 1);
        y = std::clamp(y, 0, heightPx - 1);
        return px[static_cast<size_t>(y * widthPx + x)];
    }
    void rect(int x0, int y0, int x1, int y1, int c) {
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x) set(x, y, c);
    }
    void disc(double cx, double cy, double r, int c) {
        for (int y = static_cast<int>(cy - r) - 1; y <= static_cast<int>(cy + r) + 1; ++y)
            for (int x = static_cast<int>(cx - r) - 1; x <= static_cast<int>(cx + r) + 1; ++x) {
                const double dx = x + 0.5 - cx, dy = y + 0.5 - cy;
                if (dx * dx + dy * dy <= r * r) set(x, y, c);
            }
    }
};

// Picks one of a ramp of palette indices for a value in [0, 1], dithered between neighbours.
inline int ditherRamp(const std::vector<int>& ramp, double t, int x, int y) {
    const double scaled = clamp01(t) * static_cast<double>(ramp.size() - 1);
    const int low = static_cast<int>(std::floor(scaled));
    if (low >= static_cast<int>(ramp.size()) - 1) return ramp.back();
    return (scaled - low) > bayer8(x, y) ? ramp[static_cast<size_t>(low + 1)]
                                         : ramp[static_cast<size_t>(low)];
}

struct Vec3 {
    double x = 0, y = 0, z = 0;
};
inline Vec3 operator+(Vec3 a, Vec3 b) {
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
inline Vec3 operator-(Vec3 a, Vec3 b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
inline Vec3 operator*(Vec3 a, double s) {
    return {a.x * s, a.y * s, a.z * s};
}
inline Vec3 operator*(Vec3 a, Vec3 b) {
    return {a.x * b.x, a.y * b.y, a.z * b.z};
}
inline double dot(Vec3 a, Vec3 b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
inline Vec3 cross(Vec3 a, Vec3 b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
inline double length(Vec3 a) {
    return std::sqrt(dot(a, a));
}
inline Vec3 normalize(Vec3 a) {
    return a * (1.0 / length(a));
}
inline Vec3 mix(Vec3 a, Vec3 b, double t) {
    return a + (b - a) * t;
}
inline Vec3 reflect(Vec3 d, Vec3 n) {
    return d - n * (2.0 * dot(d, n));
}

// Lattice value noise and its fractal sum, in [0, 1].
inline uint32_t hash2(int x, int y, uint32_t seed) {
    uint32_t h = static_cast<uint32_t>(x) * 0x8da6b343u ^ static_cast<uint32_t>(y) * 0xd8163841u ^
                 seed * 0xcb1ab31fu;
    h ^= h >> 13;
    h *= 0x85ebca6bu;
    h ^= h >> 16;
    h *= 0xc2b2ae35u;
    h ^= h >> 15;
    return h;
}
inline double valueNoise(double x, double y, uint32_t seed) {
    const double fx = std::floor(x), fy = std::floor(y);
    const int ix = static_cast<int>(fx), iy = static_cast<int>(fy);
    const double tx = x - fx, ty = y - fy;
    const double u = tx * tx * (3 - 2 * tx), v = ty * ty * (3 - 2 * ty);
    auto at = [&](int dx, int dy) { return hash2(ix + dx, iy + dy, seed) * (1.0 / 4294967295.0); };
    const double a = at(0, 0), b = at(1, 0), c = at(0, 1), d = at(1, 1);
    return a + (b - a) * u + (c - a) * v + (a - b - c + d) * u * v;
}
inline double fbm(double x, double y, int octaves, uint32_t seed) {
    double sum = 0, amplitude = 0.5, total = 0;
    for (int i = 0; i < octaves; ++i) {
        sum += amplitude * valueNoise(x, y, seed + static_cast<uint32_t>(i) * 977u);
        total += amplitude;
        // A rotation between octaves hides the lattice's axis-aligned grain.
        const double nx = 1.6 * x - 1.2 * y, ny = 1.2 * x + 1.6 * y;
        x = nx;
        y = ny;
        amplitude *= 0.5;
    }
    return sum / total;
}

// Linear light to an 8-bit sRGB-like value.
inline uint8_t toByte(double linear) {
    return static_cast<uint8_t>(std::lround(std::pow(clamp01(linear), 1.0 / 2.2) * 255.0));
}

// Packaging into the stored formats.
png::Image greyImage(const Bitmap& bitmap);
png::Image twoColourImage(const Bitmap& bitmap, Colour zero, Colour one);
png::Image paletteImage(const Canvas& canvas, const std::vector<Colour>& palette, uint8_t bitDepth);

struct RgbCanvas {
    std::vector<uint8_t> rgb = std::vector<uint8_t>(widthPx * heightPx * 3, 0);
    void set(int x, int y, Vec3 linear) {
        uint8_t* p = rgb.data() + static_cast<size_t>(y * widthPx + x) * 3;
        p[0] = toByte(linear.x);
        p[1] = toByte(linear.y);
        p[2] = toByte(linear.z);
    }
};
png::Image rgbImage(const RgbCanvas& canvas);

// Picture makers, one per file, grouped by stored format.
png::Image image01();
png::Image image02();
png::Image image03();
png::Image image04();
png::Image image05();
png::Image image07();
png::Image image08();
png::Image image14();
png::Image image15();
png::Image image10();
png::Image image11();
png::Image image12();
png::Image image16();
png::Image image17();
png::Image image19();
png::Image image13();
png::Image image18();
png::Image image06();
png::Image image09();
png::Image image20();
png::Image image21();
png::Image image22();

} // namespace art
