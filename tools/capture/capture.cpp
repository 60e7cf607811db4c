// capture: renders the show offscreen, frame by frame on the sound's time, into a video file with
// the song as its sound track.
#include "sound_track.h"
#include "video_file.h"

#include "display/entry_points.h"
#include "display/offscreen.h"
#include "driver/image_table.h"
#include "driver/show.h"
#include "driver/timeline.h"
#include "embedded_assets.h"
#include "music/audio_output.h"
#include "music/format.h"
#include "music/module.h"
#include "music/stream.h"
#include "tools/common/command_line.h"
#include "tools/common/output_file.h"

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
#include <string>
#include <vector>

namespace {

constexpr int exitOk = 0;
constexpr int exitWriteFailed = 1;
constexpr int exitUsage = 2;
constexpr int exitNoEncoder = 3;
constexpr int exitNoGl = 4;
constexpr int exitNoSong = 5;

constexpr int32_t defaultWidth = 1920;
constexpr int32_t defaultHeight = 1080;
constexpr int32_t defaultFramesPerSecond = 60;
constexpr int32_t largestSide = 8192;
constexpr int32_t highestFramesPerSecond = 240;
// The song reaches 48 s of clock after about 50 s of sound; this bound is only a safety net.
constexpr int64_t longestTrackChunks =
    int64_t{10} * 60 * music::defaultSampleRateHz /
    music::outputSizesForRate(music::defaultSampleRateHz).chunkFrames;

enum OptionId {
    optionOutput = 'o',
    optionQuiet = 'q',
    optionSize = tools::optionFirstLongOnly,
    optionFps,
    optionStart,
    optionEnd,
    optionEncoder,
    optionPreset,
    optionDumpAudio,
    optionFrameLog,
};

const tools::OptionSpec optionTable[] = {
    {optionOutput, "output", "FILE",
     "video file; its name picks the format (default\nshow.mp4): H.264 video and AAC sound, "
     "e.g.\n.mp4, .mkv, .mov"},
    {optionSize, "size", "WxH", "picture size, even numbers (default 1920x1080)"},
    {optionFps, "fps", "N", "frames per second, 1 to 240 (default 60)"},
    {optionStart, "start", "MS", "first frame: the first whose clock reaches MS\n(default 0)"},
    {optionEnd, "end", "MS", "last frame: the first whose clock reaches MS\n(default 48000)"},
    {optionEncoder, "encoder", "NAME",
     "H.264 encoder (default libx264, else any the\nlibraries offer)"},
    {optionPreset, "preset", "NAME",
     "x264's speed against file size at the same\nquality, fastest first: ultrafast, "
     "superfast,\nveryfast, faster, fast, medium (default), slow,\nslower, veryslow, placebo"},
    {optionDumpAudio, "dump-audio", "FILE",
     "also write the sound track as encoded: raw\n16-bit little-endian stereo at 44100 Hz"},
    {optionFrameLog, "frame-log", "FILE",
     "also write one line per frame: frame, sound\ntime, clock, beat, slot, flash"},
    {optionQuiet, "quiet", nullptr, "no progress on standard error"},
    {tools::optionHelp, "help", nullptr, "print this and exit"},
    {tools::optionVersion, "version", nullptr, "print the version and exit"},
};

const tools::ExitSpec exitTable[] = {
    {0, "done"},
    {1, "an output cannot be written"},
    {2, "a wrong command line"},
    {3, "no container for the name, or no H.264 or AAC encoder for\nit"},
    {4, "no offscreen OpenGL context"},
    {5, "the song cannot be rendered"},
    {129, "stopped by SIGHUP"},
    {130, "stopped by SIGINT (Ctrl-C)"},
    {131, "stopped by SIGQUIT"},
    {143, "stopped by SIGTERM"},
};

const tools::ToolSpec toolSpec = {
    "capture",
    "[options]",
    "Renders the demo's show offscreen into a video file, with the song as its\n"
    "sound track. Each frame shows the music clock the demo would read while that\n"
    "frame's sound plays. The video, the frame log and the sound dump appear only\n"
    "once complete: on any failure or stop nothing new is left and an earlier file\n"
    "of the name is as it was. Progress goes to standard error: a bar on a\n"
    "terminal, else a line every 10 %.",
    optionTable,
    static_cast<int>(sizeof optionTable / sizeof optionTable[0]),
    nullptr,
    exitTable,
    static_cast<int>(sizeof exitTable / sizeof exitTable[0]),
};

struct Options {
    const char* output = "show.mp4";
    int32_t width = defaultWidth;
    int32_t height = defaultHeight;
    int32_t framesPerSecond = defaultFramesPerSecond;
    uint32_t startClockMs = 0;
    uint32_t endClockMs = driver::showEndMs;
    const char* encoder = nullptr;
    const char* preset = nullptr;
    const char* dumpAudio = nullptr;
    const char* frameLog = nullptr;
    bool quiet = false;
};

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

// 0 to go on, -1 after --help or --version, or the exit code.
int parseOptions(int argc, char** argv, Options* options) {
    *options = Options{};
    tools::CommandLine line{};
    tools::startCommandLine(&line, toolSpec, argc, argv);
    for (;;) {
        const char* value = nullptr;
        const int id = tools::nextOption(&line, &value);
        if (id == tools::commandLineEnd) break;
        int64_t n = 0;
        switch (id) {
        case tools::commandLineWrong: return exitUsage;
        case tools::optionHelp: tools::printHelp(toolSpec, stdout); return -1;
        case tools::optionVersion:
            std::printf("capture %s (libavcodec %s, libavformat %s)\n", TOOLS_VERSION,
                        AV_STRINGIFY(LIBAVCODEC_VERSION), AV_STRINGIFY(LIBAVFORMAT_VERSION));
            return -1;
        case optionOutput: options->output = value; break;
        case optionSize:
            if (!parseSize(value, &options->width, &options->height)) {
                std::fprintf(stderr, "capture: --size wants WxH, even, from 16 to %d (not %s)\n",
                             largestSide, value);
                return exitUsage;
            }
            break;
        case optionFps:
            if (!parseNumber(value, 1, highestFramesPerSecond, &n)) {
                std::fprintf(stderr, "capture: --fps wants 1 to %d (not %s)\n",
                             highestFramesPerSecond, value);
                return exitUsage;
            }
            options->framesPerSecond = static_cast<int32_t>(n);
            break;
        case optionStart:
        case optionEnd:
            if (!parseNumber(value, 0, driver::showEndMs, &n)) {
                std::fprintf(stderr, "capture: %s wants a clock from 0 to %u ms (not %s)\n",
                             id == optionStart ? "--start" : "--end", driver::showEndMs, value);
                return exitUsage;
            }
            (id == optionStart ? options->startClockMs : options->endClockMs) =
                static_cast<uint32_t>(n);
            break;
        case optionEncoder: options->encoder = value; break;
        case optionPreset: {
            options->preset = nullptr;
            for (const char* name : capture::x264Presets) {
                if (std::strcmp(name, value) == 0) options->preset = name;
            }
            if (options->preset == nullptr) {
                std::fprintf(stderr,
                             "capture: --preset wants one of x264's presets, ultrafast "
                             "to placebo (not %s)\n",
                             value);
                return exitUsage;
            }
            break;
        }
        case optionDumpAudio: options->dumpAudio = value; break;
        case optionFrameLog: options->frameLog = value; break;
        case optionQuiet: options->quiet = true; break;
        default: return exitUsage;
        }
    }
    if (!tools::operands(line).empty()) {
        char text[256];
        std::snprintf(text, sizeof text, "takes no file names (not %s); -o names the output",
                      tools::operands(line)[0]);
        tools::complain(toolSpec, text);
        return exitUsage;
    }
    if (options->startClockMs > options->endClockMs) {
        std::fprintf(stderr, "capture: --start %u is after --end %u\n", options->startClockMs,
                     options->endClockMs);
        return exitUsage;
    }
    const char* named[] = {options->output, options->dumpAudio, options->frameLog};
    for (int i = 0; i < 3; ++i) {
        for (int j = i + 1; j < 3; ++j) {
            if (named[i] != nullptr && named[j] != nullptr &&
                tools::sameOutput(named[i], named[j])) {
                std::fprintf(stderr, "capture: %s and %s are one file; each output needs its own\n",
                             named[i], named[j]);
                return exitUsage;
            }
        }
    }
    return 0;
}

// Little-endian 16-bit stereo, whatever the host's order.
bool writeRawSound(FILE* f, const int16_t* samples, int64_t frames) {
    std::vector<uint8_t> bytes(static_cast<size_t>(frames) * music::bytesPerFrame);
    for (size_t i = 0; i < bytes.size() / 2; ++i) {
        const auto v = static_cast<uint16_t>(samples[i]);
        bytes[i * 2] = static_cast<uint8_t>(v);
        bytes[i * 2 + 1] = static_cast<uint8_t>(v >> 8);
    }
    return std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size() && std::fflush(f) == 0;
}

// A bar redrawn in place on a terminal; elsewhere (a log, a pipe) a plain line at every 10 %.
struct Progress {
    bool bar;
    bool lines;
    int64_t total;
    int32_t framesPerSecond;
    int32_t nextTenth; // the next tenth to report as a line
};

Progress startProgress(const Options& options, int64_t total) {
    const bool terminal = isatty(STDERR_FILENO) != 0;
    return {!options.quiet && terminal, !options.quiet && !terminal, total, options.framesPerSecond,
            1};
}

void drawProgress(int64_t done, int64_t total, uint32_t clockMs);

void showProgress(Progress* p, int64_t done, uint32_t clockMs) {
    if (p->bar && (done % p->framesPerSecond == 0 || done == p->total)) {
        drawProgress(done, p->total, clockMs);
    }
    while (p->lines && p->nextTenth <= 10 && done * 10 >= p->total * p->nextTenth) {
        std::fprintf(stderr, "capture: %d%%, frame %lld of %lld, clock %.1f s\n", p->nextTenth * 10,
                     static_cast<long long>(done), static_cast<long long>(p->total),
                     clockMs / 1000.0);
        ++p->nextTenth;
    }
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
    const int64_t total = plan.lastFrame - plan.firstFrame + 1;
    Progress progress = startProgress(options, total);
    const int64_t firstSound = capture::soundFrameAtVideoFrame(plan.firstFrame, fps);
    // Most frames show what the one before showed (a slot holds for a beat or more, and only the
    // first quarter of a flashing beat changes): those are handed to the encoder again as they
    // are, not drawn, read back and converted once more.
    driver::BeatFrame shown{};
    bool anyShown = false;
    for (int64_t frame = plan.firstFrame; frame <= plan.lastFrame; ++frame) {
        if (tools::stopSignal != 0) return tools::exitSignalBase + tools::stopSignal;
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
                         static_cast<double>(soundFrom - firstSound) * 1000.0 /
                             music::defaultSampleRateHz,
                         clockMs, beat.beat, beat.slot, static_cast<double>(beat.flash));
        }
        const int64_t done = frame - plan.firstFrame + 1;
        showProgress(&progress, done, clockMs);
    }
    if (progress.bar) std::fputc('\n', stderr);
    return exitOk;
}

// The outputs while they are written: temporary files until committed.
struct Outputs {
    tools::OutputFile video;
    tools::OutputFile frameLogFile;
    tools::OutputFile dumpFile;
    FILE* frameLog;
    FILE* dump;
};

bool openOne(const char* path, tools::OutputFile* file, FILE** stream) {
    std::string reason;
    if (!tools::openOutput(file, path, &reason)) {
        std::fprintf(stderr, "capture: cannot write %s: %s\n", path, reason.c_str());
        return false;
    }
    if (stream == nullptr) return true;
    *stream = fdopen(file->fd, "w");
    if (*stream == nullptr) {
        std::fprintf(stderr, "capture: cannot write %s: %s\n", path, std::strerror(errno));
        return false;
    }
    return true;
}

bool openOutputs(const Options& options, Outputs* o) {
    if (!openOne(options.output, &o->video, nullptr)) return false;
    // The video is opened again by name by the libraries.
    if (o->video.inPlace || o->video.tempPath.empty()) {
        std::fprintf(stderr, "capture: cannot write %s: a video needs a file of its own\n",
                     options.output);
        return false;
    }
    close(o->video.fd);
    o->video.fd = -1;
    return (options.frameLog == nullptr ||
            openOne(options.frameLog, &o->frameLogFile, &o->frameLog)) &&
           (options.dumpAudio == nullptr || openOne(options.dumpAudio, &o->dumpFile, &o->dump));
}

// Closes a stream over an output's descriptor; the descriptor goes with it.
bool closeStream(FILE** stream, tools::OutputFile* file) {
    if (*stream == nullptr) return true;
    const bool ok = std::fclose(*stream) == 0;
    *stream = nullptr;
    // fclose closed the descriptor; an in-place output keeps nothing else to close.
    file->fd = -1;
    return ok;
}

// Puts every finished output in place. 0 or the exit code.
int commitOutputs(const Options& options, Outputs* o) {
    std::string reason;
    const char* failed = nullptr;
    if (options.frameLog != nullptr && !closeStream(&o->frameLog, &o->frameLogFile)) {
        failed = options.frameLog;
        reason = std::strerror(errno);
    }
    if (failed == nullptr && options.dumpAudio != nullptr && !closeStream(&o->dump, &o->dumpFile)) {
        failed = options.dumpAudio;
        reason = std::strerror(errno);
    }
    // The sidecar files are fsynced and renamed after the video, so a video in place always has
    // its log beside it.
    if (failed == nullptr && !tools::commitOutput(&o->video, &reason)) failed = options.output;
    if (failed == nullptr && options.frameLog != nullptr &&
        !tools::commitOutput(&o->frameLogFile, &reason)) {
        failed = options.frameLog;
    }
    if (failed == nullptr && options.dumpAudio != nullptr &&
        !tools::commitOutput(&o->dumpFile, &reason)) {
        failed = options.dumpAudio;
    }
    if (failed == nullptr) return exitOk;
    if (tools::stopSignal == 0)
        std::fprintf(stderr, "capture: cannot write %s: %s\n", failed, reason.c_str());
    return exitWriteFailed;
}

void abandonOutputs(Outputs* o) {
    closeStream(&o->frameLog, &o->frameLogFile);
    closeStream(&o->dump, &o->dumpFile);
    tools::abandonOutput(&o->video);
    tools::abandonOutput(&o->frameLogFile);
    tools::abandonOutput(&o->dumpFile);
}

// The libraries' messages name the temporary file; the user named the target.
std::string withTargetName(const char* message, const std::string& temporary, const char* target) {
    std::string text(message);
    for (size_t at = text.find(temporary); !temporary.empty() && at != std::string::npos;
         at = text.find(temporary, at + std::strlen(target))) {
        text.replace(at, temporary.size(), target);
    }
    return text;
}

} // namespace

int main(int argc, char** argv) {
    Options options{};
    if (const int parsed = parseOptions(argc, argv, &options); parsed != 0) {
        return parsed < 0 ? exitOk : parsed;
    }

    const music::MemoryStream song = {static_cast<int32_t>(driver::assets::song_xm_size), 0,
                                      driver::assets::song_xm};
    music::Player* player = music::createPlayer(&song);
    capture::SoundTrack track{};
    const int32_t chunkFrames = music::outputSizesForRate(music::defaultSampleRateHz).chunkFrames;
    // Enough chunks past the end clock for the sound of the last frame to be complete.
    const int32_t extraChunks =
        music::defaultSampleRateHz / options.framesPerSecond / chunkFrames + 2;
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

    // Every output goes to a temporary file beside its target and is renamed into place only
    // when all of them are complete; whatever stops the work removes them, and an earlier file
    // of a name is left as it was.
    tools::catchStopSignals();
    Outputs outputs{};
    int result = exitOk;
    if (!openOutputs(options, &outputs)) result = exitWriteFailed;
    if (result == exitOk && outputs.dump != nullptr &&
        !writeRawSound(outputs.dump, track.samples.data() + soundFrom * 2, soundTo - soundFrom)) {
        std::fprintf(stderr, "capture: cannot write %s: %s\n", options.dumpAudio,
                     std::strerror(errno));
        result = exitWriteFailed;
    }
    capture::VideoFile video{};
    if (result == exitOk) {
        char message[512] = {};
        // libavformat opens the temporary file by its name, which keeps the extension.
        const capture::VideoSettings settings = {
            outputs.video.tempPath.c_str(), options.width,   options.height,
            options.framesPerSecond,        options.encoder, options.preset};
        const capture::VideoFileStatus opened =
            capture::openVideoFile(&video, settings, message, sizeof message);
        if (opened != capture::VideoFileStatus::Ok) {
            std::fprintf(stderr, "capture: %s\n",
                         withTargetName(message, outputs.video.tempPath, options.output).c_str());
            result =
                opened == capture::VideoFileStatus::WriteFailed ? exitWriteFailed : exitNoEncoder;
        }
    }
    // The file is checked first, so that a wrong name or encoder is told before the slow part.
    display::Offscreen offscreen{};
    Show show{};
    if (result == exitOk) {
        const char* missing = display::openOffscreen(&offscreen, options.width, options.height);
        // Rows of the readback follow each other without padding.
        if (missing == nullptr) glPixelStorei(GL_PACK_ALIGNMENT, 1);
        if (missing == nullptr && !buildShow(&show, options.width, options.height)) {
            missing = "the shader program";
        }
        if (missing != nullptr) {
            std::fprintf(stderr, "capture: no offscreen OpenGL rendering (%s)\n", missing);
            result = exitNoGl;
        }
    }
    if (result == exitOk) {
        result = encodeFrames(options, track, plan, show, &video, outputs.frameLog);
        if (result == exitOk && !capture::finishVideoFile(&video)) result = exitWriteFailed;
        if (result == exitWriteFailed) {
            std::fprintf(stderr, "capture: writing %s failed; nothing new is left\n",
                         options.output);
        }
    }
    if (outputs.frameLog != nullptr && std::fflush(outputs.frameLog) != 0 && result == exitOk) {
        std::fprintf(stderr, "capture: cannot write %s: %s\n", options.frameLog,
                     std::strerror(errno));
        result = exitWriteFailed;
    }
    capture::closeVideoFile(&video, result != exitOk);
    driver::deleteSlotTextures(driver::imageTable);
    display::closeOffscreen(&offscreen);
    if (result == exitOk) result = commitOutputs(options, &outputs);
    abandonOutputs(&outputs);
    if (result == exitWriteFailed && tools::stopSignal != 0) {
        result = tools::exitSignalBase + tools::stopSignal;
    }
    if (result > tools::exitSignalBase) {
        // A bar on the terminal is left without its line end.
        if (!options.quiet && isatty(STDERR_FILENO) != 0) std::fputc('\n', stderr);
        std::fprintf(stderr, "capture: stopped by a signal; nothing new is left\n");
    }
    return result;
}
