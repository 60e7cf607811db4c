// Test helper for the capture: measures decoded pictures and sound, each measurement a subcommand.
//   correlate A.raw B.raw                 Pearson correlation of two 16-bit stereo streams
//   picture-difference A.ppm B.ppm        mean absolute difference per channel value, 0..255
//   sync FRAMES.gray W H FPS SOUND.raw    first flash frame of each beat against the kicks
//   conversion A.ppm...                   the capture's colour conversion gives swscale's bytes
//                                         for each picture, read back as GL would hand it over
#ifdef CAPTURE_CHECK_CONVERSION
#include "swscale_reference.h"
#endif
#include "tests/lib/read_file.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int32_t sampleRateHz = 44100;

using testing_files::readFile;

std::vector<int16_t> readSamples(const char* path) {
    const std::vector<uint8_t> bytes = readFile(path);
    std::vector<int16_t> samples(bytes.size() / 2);
    for (size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<int16_t>(bytes[i * 2] | (bytes[i * 2 + 1] << 8));
    }
    return samples;
}

double correlation(const double* a, const double* b, size_t n) {
    double sa = 0, sb = 0;
    for (size_t i = 0; i < n; ++i) {
        sa += a[i];
        sb += b[i];
    }
    const double ma = sa / static_cast<double>(n);
    const double mb = sb / static_cast<double>(n);
    double ab = 0, aa = 0, bb = 0;
    for (size_t i = 0; i < n; ++i) {
        ab += (a[i] - ma) * (b[i] - mb);
        aa += (a[i] - ma) * (a[i] - ma);
        bb += (b[i] - mb) * (b[i] - mb);
    }
    return aa > 0 && bb > 0 ? ab / std::sqrt(aa * bb) : 0.0;
}

int correlate(const char* aPath, const char* bPath) {
    const std::vector<int16_t> a = readSamples(aPath);
    const std::vector<int16_t> b = readSamples(bPath);
    const size_t n = std::min(a.size(), b.size());
    if (n == 0) {
        std::fprintf(stderr, "correlate: no samples\n");
        return 2;
    }
    std::vector<double> x(a.begin(), a.begin() + static_cast<std::ptrdiff_t>(n));
    std::vector<double> y(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(n));
    std::printf("frames %zu %zu correlation %.6f\n", a.size() / 2, b.size() / 2,
                correlation(x.data(), y.data(), n));
    return 0;
}

struct Picture {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> rgb;
};

// Binary PPM with a maxval of 255, comments allowed in the header.
bool readPpm(const char* path, Picture* picture) {
    const std::vector<uint8_t> bytes = readFile(path);
    size_t at = 0;
    auto token = [&]() {
        std::string t;
        while (at < bytes.size()) {
            if (bytes[at] == '#') {
                while (at < bytes.size() && bytes[at] != '\n') ++at;
            } else if (std::isspace(bytes[at]) != 0) {
                ++at;
            } else {
                break;
            }
        }
        while (at < bytes.size() && std::isspace(bytes[at]) == 0)
            t.push_back(static_cast<char>(bytes[at++]));
        return t;
    };
    if (token() != "P6") return false;
    picture->width = std::atoi(token().c_str());
    picture->height = std::atoi(token().c_str());
    if (token() != "255") return false;
    ++at;
    const size_t size = static_cast<size_t>(picture->width) * picture->height * 3;
    if (picture->width <= 0 || picture->height <= 0 || bytes.size() < at + size) return false;
    picture->rgb.assign(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                        bytes.begin() + static_cast<std::ptrdiff_t>(at + size));
    return true;
}

int pictureDifference(const char* aPath, const char* bPath) {
    Picture a, b;
    if (!readPpm(aPath, &a) || !readPpm(bPath, &b)) {
        std::fprintf(stderr, "picture-difference: unreadable PPM\n");
        return 2;
    }
    if (a.width != b.width || a.height != b.height) {
        std::fprintf(stderr, "picture-difference: %dx%d against %dx%d\n", a.width, a.height,
                     b.width, b.height);
        return 2;
    }
    double sum = 0;
    int64_t far = 0; // values more than 64 apart
    for (size_t i = 0; i < a.rgb.size(); ++i) {
        const int d = std::abs(a.rgb[i] - b.rgb[i]);
        sum += d;
        far += d > 64 ? 1 : 0;
    }
    std::printf("mean %.3f far %.5f\n", sum / static_cast<double>(a.rgb.size()),
                static_cast<double>(far) / static_cast<double>(a.rgb.size()));
    return 0;
}

// Kick attacks, by a matched filter: the song's kick is a sine sweeping down from about 540 Hz
// to 47 Hz in its first tens of ms, always started at phase 0, so where the sound matches that
// sweep best (normalised correlation, a local peak well above chance) a kick starts.
std::vector<double> kickOnsetsMs(const std::vector<int16_t>& stereo) {
    constexpr double templateSeconds = 0.04;
    constexpr double matchAtLeast = 0.5;
    constexpr double refractoryMs = 150.0;
    const size_t length = static_cast<size_t>(templateSeconds * sampleRateHz);
    std::vector<double> kick(length);
    double phase = 0;
    double kickEnergy = 0;
    for (size_t i = 0; i < length; ++i) {
        const double t = static_cast<double>(i) / sampleRateHz;
        phase +=
            (47.0 + 115.0 * std::exp(-t / 0.032) + 380.0 * std::exp(-t / 0.003)) / sampleRateHz;
        kick[i] = std::sin(2.0 * M_PI * phase) * (1.0 - std::exp(-t / 0.0007));
        kickEnergy += kick[i] * kick[i];
    }
    const size_t frames = stereo.size() / 2;
    std::vector<double> mono(frames);
    for (size_t i = 0; i < frames; ++i) mono[i] = stereo[i * 2] + stereo[i * 2 + 1];
    std::vector<double> match(frames, 0.0);
    double energy = 0;
    for (size_t i = 0; i < length && i < frames; ++i) energy += mono[i] * mono[i];
    for (size_t s = 0; s + length < frames; ++s) {
        double dot = 0;
        for (size_t i = 0; i < length; ++i) dot += mono[s + i] * kick[i];
        match[s] = energy > 0 ? dot / std::sqrt(energy * kickEnergy) : 0.0;
        energy += mono[s + length] * mono[s + length] - mono[s] * mono[s];
    }
    std::vector<double> onsets;
    const size_t refractory = static_cast<size_t>(refractoryMs * sampleRateHz / 1000.0);
    for (size_t s = 0; s < frames; ++s) {
        if (match[s] < matchAtLeast) continue;
        // the best match within the refractory span is the attack
        size_t best = s;
        for (size_t k = s; k < s + refractory && k < frames; ++k) {
            if (match[k] > match[best]) best = k;
        }
        onsets.push_back(static_cast<double>(best) * 1000.0 / sampleRateHz);
        s = best + refractory;
    }
    return onsets;
}

// A flash starts at frame f when f is the inverse of its beat's plain picture (a fifth of a beat
// later) and the frame before it is not.
std::vector<int64_t> flashStarts(const std::vector<uint8_t>& grey, int32_t width, int32_t height,
                                 int32_t fps) {
    const size_t pixels = static_cast<size_t>(width) * height;
    const int64_t frames = static_cast<int64_t>(grey.size() / pixels);
    const int64_t lag = std::lround(fps * 0.2);
    auto frameCorrelation = [&](int64_t a, int64_t b) {
        std::vector<double> x(grey.begin() + static_cast<std::ptrdiff_t>(a * pixels),
                              grey.begin() + static_cast<std::ptrdiff_t>((a + 1) * pixels));
        std::vector<double> y(grey.begin() + static_cast<std::ptrdiff_t>(b * pixels),
                              grey.begin() + static_cast<std::ptrdiff_t>((b + 1) * pixels));
        return correlation(x.data(), y.data(), pixels);
    };
    std::vector<int64_t> starts;
    for (int64_t f = 1; f + lag < frames; ++f) {
        if (frameCorrelation(f, f + lag) < -0.5 && frameCorrelation(f - 1, f + lag) > -0.5) {
            starts.push_back(f);
        }
    }
    return starts;
}

int sync(const char* framesPath, int32_t width, int32_t height, int32_t fps, const char* soundPath,
         double toleranceMs) {
    const std::vector<uint8_t> grey = readFile(framesPath);
    const std::vector<int16_t> sound = readSamples(soundPath);
    if (grey.empty() || sound.empty() || width <= 0 || height <= 0 || fps <= 0) {
        std::fprintf(stderr, "sync: nothing to measure\n");
        return 2;
    }
    const std::vector<int64_t> flashes = flashStarts(grey, width, height, fps);
    // Flashes can be found up to a fifth of a beat before the last frame; kicks count up to there.
    const int64_t frames =
        static_cast<int64_t>(grey.size() / (static_cast<size_t>(width) * height));
    const double measuredUpToMs =
        static_cast<double>(frames - std::lround(fps * 0.2)) * 1000.0 / fps;
    std::vector<double> kicks;
    for (double k : kickOnsetsMs(sound)) {
        if (k < measuredUpToMs) kicks.push_back(k);
    }
    std::printf("flashes %zu kicks %zu\n", flashes.size(), kicks.size());
    auto nearestTo = [](double at, const std::vector<double>& times) {
        double nearest = 1e9;
        for (double t : times) {
            if (std::fabs(t - at) < std::fabs(nearest)) nearest = t - at;
        }
        return nearest;
    };
    std::vector<double> flashMs;
    for (int64_t f : flashes) flashMs.push_back(static_cast<double>(f) * 1000.0 / fps);
    int failures = 0;
    for (size_t i = 0; i < flashes.size(); ++i) {
        const double offset = nearestTo(flashMs[i], kicks);
        const bool ok = std::fabs(offset) <= toleranceMs;
        failures += ok ? 0 : 1;
        std::printf("flash frame %lld at %.1f ms: kick %+.1f ms %s\n",
                    static_cast<long long>(flashes[i]), flashMs[i], offset, ok ? "ok" : "OFF");
    }
    for (double k : kicks) {
        const double offset = nearestTo(k, flashMs);
        const bool ok = std::fabs(offset) <= toleranceMs;
        failures += ok ? 0 : 1;
        std::printf("kick at %.1f ms: flash %+.1f ms %s\n", k, offset, ok ? "ok" : "OFF");
    }
    return failures == 0 ? 0 : 1;
}

#ifdef CAPTURE_CHECK_CONVERSION
int conversion(int count, char** paths) {
    int failures = 0;
    for (int i = 0; i < count; ++i) {
        Picture picture;
        if (!readPpm(paths[i], &picture)) {
            std::fprintf(stderr, "conversion: unreadable PPM %s\n", paths[i]);
            return 2;
        }
        // The capture's sizes are even; an odd edge is left out.
        const int32_t width = picture.width & ~1;
        const int32_t height = picture.height & ~1;
        if (width == 0 || height == 0) {
            std::fprintf(stderr, "conversion: %s is too small\n", paths[i]);
            return 2;
        }
        // RGBA with the bottom row first, as glReadPixels hands it over.
        std::vector<uint8_t> rgba(static_cast<size_t>(width) * height * 4);
        for (int32_t y = 0; y < height; ++y) {
            for (int32_t x = 0; x < width; ++x) {
                const uint8_t* from =
                    &picture.rgb[(static_cast<size_t>(y) * picture.width + x) * 3];
                uint8_t* to = &rgba[(static_cast<size_t>(height - 1 - y) * width + x) * 4];
                to[0] = from[0];
                to[1] = from[1];
                to[2] = from[2];
                to[3] = 255;
            }
        }
        const std::string different =
            capture_test::difference(capture_test::byConverter(rgba.data(), width, height),
                                     capture_test::bySwscale(rgba.data(), width, height), width);
        std::printf("conversion %s %dx%d: %s\n", paths[i], width, height,
                    different.empty() ? "the same bytes as swscale" : different.c_str());
        if (!different.empty()) ++failures;
    }
    return failures == 0 ? 0 : 1;
}
#endif

} // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "correlate") == 0) return correlate(argv[2], argv[3]);
    if (argc == 4 && std::strcmp(argv[1], "picture-difference") == 0) {
        return pictureDifference(argv[2], argv[3]);
    }
    if (argc == 8 && std::strcmp(argv[1], "sync") == 0) {
        return sync(argv[2], std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]), argv[6],
                    std::atof(argv[7]));
    }
#ifdef CAPTURE_CHECK_CONVERSION
    if (argc >= 3 && std::strcmp(argv[1], "conversion") == 0) return conversion(argc - 2, argv + 2);
#endif
    std::fprintf(stderr, "usage: capture_check correlate A.raw B.raw\n"
                         "       capture_check picture-difference A.ppm B.ppm\n"
                         "       capture_check sync FRAMES.gray W H FPS SOUND.raw TOLERANCE_MS\n"
                         "       capture_check conversion A.ppm...\n");
    return 2;
}
