// capture: renders the show offscreen, frame by frame on the sound's time, into a video file with
// the song as its sound track.
#include "sound_track.h"
#include "video_file.h"

#include "display/entry_points.h"
#include "display/platform.h"
#include "display/window.h"
#include "driver/image_table.h"
#include "driver/show.h"
#include "driver/timeline.h"
#include "embedded_assets.h"
#include "music/audio_output.h"
#include "music/format.h"
#include "music/module.h"
#include "music/stream.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr int exitOk = 0;
constexpr int exitWriteFailed = 1;
constexpr int exitUsage = 2;
constexpr int exitNoEncoder = 3;
constexpr int exitNoGl = 4;
constexpr int exitNoSong = 5;
constexpr int exitInterrupted = 130;

constexpr const char* captureVersion = "1.0";
constexpr int32_t defaultWidth = 1920;
constexpr int32_t defaultHeight = 1080;
constexpr int32_t defaultFramesPerSecond = 60;
constexpr int32_t largestSide = 8192;
constexpr int32_t highestFramesPerSecond = 240;
// The song reaches 48 s of clock after about 50 s of sound; this bound is only a safety net.
constexpr int64_t longestTrackChunks =
    int64_t{10} * 60 * music::defaultSampleRateHz /
    music::outputSizesForRate(music::defaultSampleRateHz).chunkFrames;

const char* const usage =
    "usage: capture [options]\n"
    "Renders the demo's show offscreen into a video file, with the song as its sound track.\n"
    "Each frame shows the music clock the demo would read while that frame's sound plays.\n"
    "\n"
    "  -o, --output FILE   video file; its name picks the format (default show.mp4):\n"
    "                      H.264 video and AAC sound, e.g. .mp4, .mkv, .mov\n"
    "  --size WxH          picture size, even numbers (default 1920x1080)\n"
    "  --fps N             frames per second, 1 to 240 (default 60)\n"
    "  --start MS          first frame: the first whose clock reaches MS (default 0)\n"
    "  --end MS            last frame: the first whose clock reaches MS (default 48000)\n"
    "  --encoder NAME      H.264 encoder (default libx264, else any the libraries offer)\n"
    "  --dump-audio FILE   also write the sound track as encoded: raw 16-bit little-endian\n"
    "                      stereo at 44100 Hz\n"
    "  --frame-log FILE    also write one line per frame: frame, sound time, clock, beat,\n"
    "                      slot, flash\n"
    "  --help, --version\n"
    "\n"
    "Exit codes: 0 done; 1 the output cannot be written (nothing is left behind);\n"
    "2 bad command line; 3 no container for the name, or no H.264 or AAC encoder for it;\n"
    "4 no offscreen OpenGL context; 5 the song cannot be rendered; 130 interrupted.\n";

struct Options {
    const char* output;
    int32_t width;
    int32_t height;
    int32_t framesPerSecond;
    uint32_t startClockMs;
    uint32_t endClockMs;
    const char* encoder;
    const char* dumpAudio;
    const char* frameLog;
};

volatile std::sig_atomic_t interrupted = 0;

void onInterrupt(int) {
    interrupted = 1;
}

bool parseNumber(const char* text, int64_t lowest, int64_t highest, int64_t* value) {
    char* end = nullptr;
    const long long n = std::strtoll(text, &end, 10);
    if (end == text || *end != 0 || n < lowest || n > highest) return false;
    *value = n;
    return true;
}

bool parseSize(const char* text, int32_t* width, int32_t* height) {
    char* end = nullptr;
    const long w = std::strtol(text, &end, 10);
    if (end == text || (*end != 'x' && *end != 'X')) return false;
    const char* heightText = end + 1;
    const long h = std::strtol(heightText, &end, 10);
    if (end == heightText || *end != 0) return false;
    if (w < 16 || h < 16 || w > largestSide || h > largestSide || w % 2 != 0 || h % 2 != 0) {
        return false;
    }
    *width = static_cast<int32_t>(w);
    *height = static_cast<int32_t>(h);
    return true;
}

// 0 to go on, or the exit code.
int parseOptions(int argc, char** argv, Options* options) {
    *options = Options{"show.mp4", defaultWidth,      defaultHeight, defaultFramesPerSecond,
                       0,          driver::showEndMs, nullptr,       nullptr,
                       nullptr};
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0) {
            std::fputs(usage, stdout);
            return -1;
        }
        if (std::strcmp(a, "--version") == 0) {
            std::printf("capture %s (libavcodec %s, libavformat %s)\n", captureVersion,
                        AV_STRINGIFY(LIBAVCODEC_VERSION), AV_STRINGIFY(LIBAVFORMAT_VERSION));
            return -1;
        }
        const bool takesValue = std::strcmp(a, "-o") == 0 || std::strcmp(a, "--output") == 0 ||
                                std::strcmp(a, "--size") == 0 || std::strcmp(a, "--fps") == 0 ||
                                std::strcmp(a, "--start") == 0 || std::strcmp(a, "--end") == 0 ||
                                std::strcmp(a, "--encoder") == 0 ||
                                std::strcmp(a, "--dump-audio") == 0 ||
                                std::strcmp(a, "--frame-log") == 0;
        if (!takesValue) {
            std::fprintf(stderr, "capture: unknown argument %s\n%s", a, usage);
            return exitUsage;
        }
        if (i + 1 >= argc) {
            std::fprintf(stderr, "capture: %s needs a value\n", a);
            return exitUsage;
        }
        const char* value = argv[++i];
        int64_t n = 0;
        if (std::strcmp(a, "-o") == 0 || std::strcmp(a, "--output") == 0) {
            options->output = value;
        } else if (std::strcmp(a, "--size") == 0) {
            if (!parseSize(value, &options->width, &options->height)) {
                std::fprintf(stderr, "capture: --size wants WxH, even, from 16 to %d (not %s)\n",
                             largestSide, value);
                return exitUsage;
            }
        } else if (std::strcmp(a, "--fps") == 0) {
            if (!parseNumber(value, 1, highestFramesPerSecond, &n)) {
                std::fprintf(stderr, "capture: --fps wants 1 to %d (not %s)\n",
                             highestFramesPerSecond, value);
                return exitUsage;
            }
            options->framesPerSecond = static_cast<int32_t>(n);
        } else if (std::strcmp(a, "--start") == 0 || std::strcmp(a, "--end") == 0) {
            if (!parseNumber(value, 0, driver::showEndMs, &n)) {
                std::fprintf(stderr, "capture: %s wants a clock from 0 to %u ms (not %s)\n", a,
                             driver::showEndMs, value);
                return exitUsage;
            }
            (a[2] == 's' ? options->startClockMs : options->endClockMs) = static_cast<uint32_t>(n);
        } else if (std::strcmp(a, "--encoder") == 0) {
            options->encoder = value;
        } else if (std::strcmp(a, "--dump-audio") == 0) {
            options->dumpAudio = value;
        } else {
            options->frameLog = value;
        }
    }
    if (options->startClockMs > options->endClockMs) {
        std::fprintf(stderr, "capture: --start %u is after --end %u\n", options->startClockMs,
                     options->endClockMs);
        return exitUsage;
    }
    return 0;
}

// Little-endian 16-bit stereo, whatever the host's order.
bool writeRawSound(const char* path, const int16_t* samples, int64_t frames) {
    FILE* f = std::fopen(path, "wb");
    if (f == nullptr) return false;
    std::vector<uint8_t> bytes(static_cast<size_t>(frames) * music::bytesPerFrame);
    for (size_t i = 0; i < bytes.size() / 2; ++i) {
        const auto v = static_cast<uint16_t>(samples[i]);
        bytes[i * 2] = static_cast<uint8_t>(v);
        bytes[i * 2 + 1] = static_cast<uint8_t>(v >> 8);
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && written;
}

void drawProgress(int64_t done, int64_t total, uint32_t clockMs) {
    constexpr int width = 40;
    const double fraction = total > 0 ? static_cast<double>(done) / static_cast<double>(total) : 1;
    const int filled = static_cast<int>(fraction * width);
    char bar[width + 1];
    for (int i = 0; i < width; ++i) bar[i] = i < filled ? '#' : '.';
    bar[width] = 0;
    std::fprintf(stderr, "\r[%s] %3d%% frame %lld/%lld clock %5.1f s", bar,
                 static_cast<int>(fraction * 100.0), static_cast<long long>(done),
                 static_cast<long long>(total), clockMs / 1000.0);
    std::fflush(stderr);
}

// The offscreen context and the framebuffer the show is drawn into.
struct Offscreen {
    void* window;
    void* context;
    GLuint framebuffer;
    GLuint colour;
    PFNGLGENFRAMEBUFFERSPROC genFramebuffers;
    PFNGLBINDFRAMEBUFFERPROC bindFramebuffer;
    PFNGLDELETEFRAMEBUFFERSPROC deleteFramebuffers;
    PFNGLGENRENDERBUFFERSPROC genRenderbuffers;
    PFNGLBINDRENDERBUFFERPROC bindRenderbuffer;
    PFNGLDELETERENDERBUFFERSPROC deleteRenderbuffers;
    PFNGLRENDERBUFFERSTORAGEPROC renderbufferStorage;
    PFNGLFRAMEBUFFERRENDERBUFFERPROC framebufferRenderbuffer;
    PFNGLCHECKFRAMEBUFFERSTATUSPROC checkFramebufferStatus;
};

template <typename Function> Function fetch(const char* name) {
    return reinterpret_cast<Function>(display::platformGetProcAddress(name));
}

// The demo draws into a window of the screen's size with the default viewport; a framebuffer of
// the video's size with the viewport set to all of it is the same picture, at any size.
const char* openOffscreen(Offscreen* o, int32_t width, int32_t height) {
    *o = Offscreen{};
    // Never a window on someone's screen, whatever the environment asks for.
    setenv("SDL_VIDEODRIVER", "offscreen", 1);
    if (!display::platformStart()) return "the offscreen video driver cannot start";
    const display::PixelFormatDescriptor& d = display::pixelFormatDescriptor;
    o->window = display::platformCreateWindow(
        "capture", 64, 64, {d.cColorBits, d.cAlphaBits, d.cDepthBits, d.cStencilBits, true});
    if (o->window == nullptr) return "no offscreen window";
    o->context = display::platformCreateContext(o->window);
    if (o->context == nullptr || !display::platformMakeCurrent(o->window, o->context)) {
        return "no OpenGL context";
    }
    display::initialiseRenderState(width, height);
    if (const char* missing = display::firstMissingEntryPoint(); missing != nullptr) {
        return missing;
    }
    o->genFramebuffers = fetch<PFNGLGENFRAMEBUFFERSPROC>("glGenFramebuffers");
    o->bindFramebuffer = fetch<PFNGLBINDFRAMEBUFFERPROC>("glBindFramebuffer");
    o->deleteFramebuffers = fetch<PFNGLDELETEFRAMEBUFFERSPROC>("glDeleteFramebuffers");
    o->genRenderbuffers = fetch<PFNGLGENRENDERBUFFERSPROC>("glGenRenderbuffers");
    o->bindRenderbuffer = fetch<PFNGLBINDRENDERBUFFERPROC>("glBindRenderbuffer");
    o->deleteRenderbuffers = fetch<PFNGLDELETERENDERBUFFERSPROC>("glDeleteRenderbuffers");
    o->renderbufferStorage = fetch<PFNGLRENDERBUFFERSTORAGEPROC>("glRenderbufferStorage");
    o->framebufferRenderbuffer =
        fetch<PFNGLFRAMEBUFFERRENDERBUFFERPROC>("glFramebufferRenderbuffer");
    o->checkFramebufferStatus = fetch<PFNGLCHECKFRAMEBUFFERSTATUSPROC>("glCheckFramebufferStatus");
    if (o->genFramebuffers == nullptr || o->bindFramebuffer == nullptr ||
        o->deleteFramebuffers == nullptr || o->genRenderbuffers == nullptr ||
        o->bindRenderbuffer == nullptr || o->deleteRenderbuffers == nullptr ||
        o->renderbufferStorage == nullptr || o->framebufferRenderbuffer == nullptr ||
        o->checkFramebufferStatus == nullptr) {
        return "framebuffer objects";
    }
    GLint largest = 0;
    glGetIntegerv(GL_MAX_RENDERBUFFER_SIZE, &largest);
    if (width > largest || height > largest) return "a framebuffer of that size";
    o->genRenderbuffers(1, &o->colour);
    o->bindRenderbuffer(GL_RENDERBUFFER, o->colour);
    o->renderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, width, height);
    o->genFramebuffers(1, &o->framebuffer);
    o->bindFramebuffer(GL_FRAMEBUFFER, o->framebuffer);
    o->framebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, o->colour);
    if (o->checkFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
        return "a complete framebuffer";
    }
    glViewport(0, 0, width, height);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadBuffer(GL_COLOR_ATTACHMENT0);
    return nullptr;
}

void closeOffscreen(Offscreen* o) {
    if (o->framebuffer != 0) {
        o->bindFramebuffer(GL_FRAMEBUFFER, 0);
        o->deleteFramebuffers(1, &o->framebuffer);
    }
    if (o->colour != 0) o->deleteRenderbuffers(1, &o->colour);
    if (o->context != nullptr) {
        display::platformMakeCurrent(o->window, nullptr);
        display::platformDeleteContext(o->context);
    }
    if (o->window != nullptr) display::platformDestroyWindow(o->window);
    display::platformStop();
    *o = Offscreen{};
}

struct Show {
    gl::Mesh mesh;
    gl::ShaderProgram shader;
    driver::Scene scene;
};

// False when the shader program could not be made.
bool buildShow(Show* show, int32_t width, int32_t height) {
    driver::createSlotTextures(driver::imageTable);
    show->mesh = gl::Mesh{};
    driver::pointAtQuad(&show->mesh);
    show->shader = gl::ShaderProgram{};
    // The shader logs are the demo's diagnostics; the tool's standard output stays clean.
    std::fflush(stdout);
    const int savedStdout = dup(STDOUT_FILENO);
    const int devNull = open("/dev/null", O_WRONLY);
    if (savedStdout >= 0 && devNull >= 0) dup2(devNull, STDOUT_FILENO);
    driver::buildDemoShader(&show->shader);
    std::fflush(stdout);
    if (savedStdout >= 0 && devNull >= 0) dup2(savedStdout, STDOUT_FILENO);
    if (devNull >= 0) close(devNull);
    if (savedStdout >= 0) close(savedStdout);
    show->scene = {driver::imageTable, &show->mesh, &show->shader, static_cast<float>(width),
                   static_cast<float>(height)};
    return show->shader.program != 0;
}

// Draws and encodes every planned frame with its share of the sound. 0 or the exit code.
int encodeFrames(const Options& options, const capture::SoundTrack& track,
                 const capture::FramePlan& plan, const Show& show, capture::VideoFile* video,
                 FILE* frameLog) {
    const int32_t fps = options.framesPerSecond;
    std::vector<uint8_t> pixels(static_cast<size_t>(options.width) * options.height * 4);
    const bool progress = isatty(STDERR_FILENO) != 0;
    const int64_t total = plan.lastFrame - plan.firstFrame + 1;
    const int64_t firstSound = capture::soundFrameAtVideoFrame(plan.firstFrame, fps);
    // Most frames show what the one before showed (a slot holds for a beat or more, and only the
    // first quarter of a flashing beat changes): those are handed to the encoder again as they
    // are, not drawn, read back and converted once more.
    driver::BeatFrame shown{};
    bool anyShown = false;
    for (int64_t frame = plan.firstFrame; frame <= plan.lastFrame; ++frame) {
        if (interrupted != 0) return exitInterrupted;
        const uint32_t clockMs = capture::clockAtFrame(track, frame, fps);
        const driver::BeatFrame beat = driver::beatFrameAt(clockMs);
        bool pictureWritten = false;
        if (anyShown && driver::samePicture(beat, shown)) {
            pictureWritten = capture::repeatPicture(video);
        } else {
            driver::drawFrame(show.scene, beat);
            glReadPixels(0, 0, options.width, options.height, GL_RGBA, GL_UNSIGNED_BYTE,
                         pixels.data());
            pictureWritten = capture::writePicture(video, pixels.data());
            shown = beat;
            anyShown = true;
        }
        const int64_t soundFrom = capture::soundFrameAtVideoFrame(frame, fps);
        const int64_t soundTo = capture::soundFrameAtVideoFrame(frame + 1, fps);
        if (!pictureWritten || !capture::writeSound(video, track.samples.data() + soundFrom * 2,
                                                    soundTo - soundFrom)) {
            return exitWriteFailed;
        }
        if (frameLog != nullptr) {
            std::fprintf(frameLog, "%lld %.3f %u %d %d %.4f\n",
                         static_cast<long long>(frame - plan.firstFrame),
                         static_cast<double>(soundFrom - firstSound) * 1000.0 / music::sampleRate,
                         clockMs, beat.beat, beat.slot, static_cast<double>(beat.flash));
        }
        const int64_t done = frame - plan.firstFrame + 1;
        if (progress && (done % fps == 0 || done == total)) drawProgress(done, total, clockMs);
    }
    if (progress) std::fputc('\n', stderr);
    return exitOk;
}

} // namespace

int main(int argc, char** argv) {
    Options options{};
    if (const int parsed = parseOptions(argc, argv, &options); parsed != 0) {
        return parsed < 0 ? exitOk : parsed;
    }

    music::installMemoryStream();
    const music::MemoryStream song = {static_cast<int32_t>(driver::assets::song_xm_size), 0,
                                      driver::assets::song_xm};
    music::Player* player = music::createPlayer(&song);
    capture::SoundTrack track{};
    const int32_t chunkFrames = music::outputSizesForRate(music::sampleRate).chunkFrames;
    // Enough chunks past the end clock for the sound of the last frame to be complete.
    const int32_t extraChunks = music::sampleRate / options.framesPerSecond / chunkFrames + 2;
    const bool rendered =
        player != nullptr && capture::renderSoundTrack(player, options.endClockMs, extraChunks,
                                                       longestTrackChunks, &track);
    music::destroyPlayer(player);
    capture::FramePlan plan{};
    if (!rendered || !capture::planFrames(track, options.framesPerSecond, options.startClockMs,
                                          options.endClockMs, &plan)) {
        std::fputs("capture: the song cannot be rendered up to the end clock\n", stderr);
        return exitNoSong;
    }
    const int64_t soundFrom =
        capture::soundFrameAtVideoFrame(plan.firstFrame, options.framesPerSecond);
    const int64_t soundTo =
        capture::soundFrameAtVideoFrame(plan.lastFrame + 1, options.framesPerSecond);
    if (options.dumpAudio != nullptr &&
        !writeRawSound(options.dumpAudio, track.samples.data() + soundFrom * 2,
                       soundTo - soundFrom)) {
        std::fprintf(stderr, "capture: cannot write %s: %s\n", options.dumpAudio,
                     std::strerror(errno));
        return exitWriteFailed;
    }

    // From here on a file may exist: an interruption ends the work and removes it. Past a file
    // size limit a write should fail and be reported, not end the process.
    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);
    std::signal(SIGXFSZ, SIG_IGN);
    capture::VideoFile video{};
    char message[512] = {};
    const capture::VideoSettings settings = {options.output, options.width, options.height,
                                             options.framesPerSecond, options.encoder};
    const capture::VideoFileStatus opened =
        capture::openVideoFile(&video, settings, message, sizeof message);
    int result = exitOk;
    if (opened != capture::VideoFileStatus::Ok) {
        std::fprintf(stderr, "capture: %s\n", message);
        result = opened == capture::VideoFileStatus::WriteFailed ? exitWriteFailed : exitNoEncoder;
    }
    // The file is checked first, so that a wrong name or encoder is told before the slow part.
    Offscreen offscreen{};
    Show show{};
    if (result == exitOk) {
        const char* missing = openOffscreen(&offscreen, options.width, options.height);
        if (missing == nullptr && !buildShow(&show, options.width, options.height)) {
            missing = "the shader program";
        }
        if (missing != nullptr) {
            std::fprintf(stderr, "capture: no offscreen OpenGL rendering (%s)\n", missing);
            result = exitNoGl;
        }
    }
    FILE* frameLog = nullptr;
    if (result == exitOk && options.frameLog != nullptr) {
        frameLog = std::fopen(options.frameLog, "w");
        if (frameLog == nullptr) {
            std::fprintf(stderr, "capture: cannot write %s: %s\n", options.frameLog,
                         std::strerror(errno));
            result = exitWriteFailed;
        }
    }
    if (result == exitOk) {
        result = encodeFrames(options, track, plan, show, &video, frameLog);
        if (result == exitOk && !capture::finishVideoFile(&video)) result = exitWriteFailed;
        if (result == exitWriteFailed) {
            std::fprintf(stderr, "capture: writing %s failed; nothing is left of it\n",
                         options.output);
        } else if (result == exitInterrupted) {
            std::fprintf(stderr, "\ncapture: interrupted; %s removed\n", options.output);
        }
    }
    if (frameLog != nullptr && std::fclose(frameLog) != 0 && result == exitOk) {
        std::fprintf(stderr, "capture: cannot write %s\n", options.frameLog);
        result = exitWriteFailed;
    }
    capture::closeVideoFile(&video, result != exitOk);
    driver::deleteSlotTextures(driver::imageTable);
    closeOffscreen(&offscreen);
    return result;
}
