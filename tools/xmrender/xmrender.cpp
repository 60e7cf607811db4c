// xmrender: renders an XM module to a sound file (WAV, FLAC, Ogg Vorbis, AIFF) through the music
// library's public interface, the same chunk renderer the demo plays with.
//
// Files are written through libsndfile into a temporary file beside the target and renamed into
// place once complete; standard output, pipes and devices get a WAV stream written here, since
// libsndfile needs to seek back in what it writes.
#include "beatxm.h"
#include "tools/common/command_line.h"
#include "tools/common/output_file.h"
#include "tools/common/tool_common.h"

#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

// The most data bytes a RIFF file's 32-bit size fields can describe, with room for the header
// chunks; beyond it WAV is written as RF64. A test build lowers it to check that switch on a
// small file.
#ifndef XMRENDER_RIFF_LIMIT
#define XMRENDER_RIFF_LIMIT (0xFFFFFFFFull - 4096)
#endif

namespace {

using tools::exitBadInput;
using tools::exitOk;
using tools::exitOutputFailed;

constexpr uint64_t riffLimitBytes = XMRENDER_RIFF_LIMIT;
constexpr int32_t outputChannels = 2;
constexpr double maxSeconds = 6.0 * 3600.0;
constexpr int32_t blockFrames = 4096;

enum OptionId {
    optionSeconds = 's',
    optionProfile = 'p',
    optionRate = 'r',
    optionFloat = 'f',
    optionQuiet = 'q',
};

const tools::OptionSpec ownOptions[] = {
    {optionSeconds, "seconds", "N",
     "render exactly N seconds, repeating the song as\nit does (at most 6 hours)"},
    {optionProfile, "profile", "NAME",
     "playback rules: ft2 (default, FastTracker 2's)\nor demo (what the demo plays, bit for bit)"},
    {optionRate, "rate", "HZ", "output rate, 8000 to 192000 (default 44100)"},
    {optionFloat, "float", nullptr,
     "32-bit float samples, unclipped (WAV, AIFF; Ogg\nVorbis encodes from them)"},
    {optionQuiet, "quiet", nullptr, "no progress bar"},
};

const std::vector<tools::OptionSpec> optionTable =
    tools::optionTable(ownOptions, static_cast<int>(std::size(ownOptions)), true);

const tools::ExitSpec exitTable[] = {
    {0, "done"},
    {1, "the output cannot be written (an earlier file of its name is left as\nit was)"},
    {2, "the module cannot be read or loaded, the output name has no format\nxmrender "
        "writes, or a wrong command line"},
    {129, "stopped by SIGHUP: nothing written"},
    {130, "stopped by SIGINT (Ctrl-C): nothing written"},
    {131, "stopped by SIGQUIT: nothing written"},
    {143, "stopped by SIGTERM: nothing written"},
};

const tools::ToolSpec toolSpec = {
    "xmrender",
    "[options] IN.xm OUT",
    "Renders an XM module to a sound file. The name's extension picks the format:\n"
    ".wav (16-bit, or 32-bit float with --float; RF64 beyond 4 GiB), .flac,\n"
    ".ogg (Vorbis), .aiff. IN may be - for standard input; OUT may be - for a WAV\n"
    "stream on standard output. OUT appears only once complete, and never\n"
    "overwrites IN. Without --seconds the song is rendered once, until it comes\n"
    "back to a row already played (at most 20 minutes). A progress bar shows on\n"
    "standard error when it is a terminal.",
    optionTable.data(),
    static_cast<int>(optionTable.size()),
    nullptr,
    exitTable,
    static_cast<int>(sizeof exitTable / sizeof exitTable[0]),
};

enum class Container { WavStream, Wav, Flac, Ogg, Aiff };

struct Output {
    Container container;
    bool floatSamples;
    int32_t rate;
    int64_t frames;   // known before rendering: the fixed length or the song's duration
    bool fixedLength; // --seconds: exactly `frames`; else the song, at most `frames`
};

// ---- Little-endian WAV stream for standard output, pipes and devices -------------------------

void put16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void put32(uint8_t* p, uint32_t v) {
    put16(p, v & 0xFFFFu);
    put16(p + 2, v >> 16);
}

void put64(uint8_t* p, uint64_t v) {
    put32(p, static_cast<uint32_t>(v));
    put32(p + 4, static_cast<uint32_t>(v >> 32));
}

int32_t bytesPerFrame(const Output& o) {
    return outputChannels * (o.floatSamples ? 4 : 2);
}

// The header for `frames` frames: RIFF while the planned length (o.frames) fits 32-bit sizes,
// else RF64 with the sizes in its ds64 chunk; either way the same length of header, so it can
// be written again once a song's length is known. Float data has the fmt extension size and a fact
// chunk that WAV wants for every format but integer PCM.
bool writeWavHeader(FILE* f, const Output& o, int64_t frames) {
    const uint64_t dataBytes = static_cast<uint64_t>(frames) * bytesPerFrame(o);
    const bool rf64 = static_cast<uint64_t>(o.frames) * bytesPerFrame(o) > riffLimitBytes;
    uint8_t h[128];
    size_t n = 12;
    std::memcpy(h, rf64 ? "RF64" : "RIFF", 4);
    std::memcpy(h + 8, "WAVE", 4);
    size_t ds64At = 0;
    if (rf64) {
        std::memcpy(h + n, "ds64", 4);
        put32(h + n + 4, 28);
        ds64At = n + 8;
        put32(h + n + 32, 0); // no table of other chunks' sizes
        n += 36;
    }
    const uint32_t fmtBytes = o.floatSamples ? 18 : 16;
    std::memcpy(h + n, "fmt ", 4);
    put32(h + n + 4, fmtBytes);
    put16(h + n + 8, o.floatSamples ? 3 : 1); // IEEE float or PCM
    put16(h + n + 10, outputChannels);
    put32(h + n + 12, static_cast<uint32_t>(o.rate));
    put32(h + n + 16, static_cast<uint32_t>(o.rate * bytesPerFrame(o)));
    put16(h + n + 20, static_cast<uint32_t>(bytesPerFrame(o)));
    put16(h + n + 22, o.floatSamples ? 32 : 16);
    if (o.floatSamples) put16(h + n + 24, 0);
    n += 8 + fmtBytes;
    if (o.floatSamples) {
        std::memcpy(h + n, "fact", 4);
        put32(h + n + 4, 4);
        put32(h + n + 8, rf64 ? 0xFFFFFFFFu : static_cast<uint32_t>(frames));
        n += 12;
    }
    std::memcpy(h + n, "data", 4);
    put32(h + n + 4, rf64 ? 0xFFFFFFFFu : static_cast<uint32_t>(dataBytes));
    n += 8;
    const uint64_t riffBytes = n - 8 + dataBytes;
    put32(h + 4, rf64 ? 0xFFFFFFFFu : static_cast<uint32_t>(riffBytes));
    if (rf64) {
        put64(h + ds64At, riffBytes);
        put64(h + ds64At + 8, dataBytes);
        put64(h + ds64At + 16, static_cast<uint64_t>(frames));
    }
    return std::fwrite(h, 1, n, f) == n;
}

// Frames as little-endian bytes, whatever the host's order.
bool writeStreamFrames(FILE* f, const Output& o, const void* samples, int32_t frames) {
    uint8_t bytes[blockFrames * 8];
    const int32_t values = frames * outputChannels;
    if (o.floatSamples) {
        const float* in = static_cast<const float*>(samples);
        for (int32_t i = 0; i < values; ++i) {
            uint32_t bits = 0;
            std::memcpy(&bits, &in[i], 4);
            put32(bytes + i * 4, bits);
        }
    } else {
        const int16_t* in = static_cast<const int16_t*>(samples);
        for (int32_t i = 0; i < values; ++i) put16(bytes + i * 2, static_cast<uint16_t>(in[i]));
    }
    const size_t n = static_cast<size_t>(frames) * bytesPerFrame(o);
    return std::fwrite(bytes, 1, n, f) == n;
}

// ---- libsndfile on our own file descriptor ---------------------------------------------------

// libsndfile's calls go through these, so that a failed write (a full disk) is seen for
// certain, whatever the format's encoder does with the failure.
struct SoundFileIo {
    int fd;
    int error; // the first errno of a failed write or seek, 0 while none failed
};

sf_count_t ioLength(void* user) {
    struct stat st {};
    return fstat(static_cast<SoundFileIo*>(user)->fd, &st) == 0 ? st.st_size : -1;
}

sf_count_t ioSeek(sf_count_t offset, int whence, void* user) {
    SoundFileIo* io = static_cast<SoundFileIo*>(user);
    const off_t at = lseek(io->fd, offset, whence);
    if (at < 0 && io->error == 0) io->error = errno;
    return at;
}

sf_count_t ioRead(void* buffer, sf_count_t count, void* user) {
    const ssize_t n = read(static_cast<SoundFileIo*>(user)->fd, buffer, static_cast<size_t>(count));
    return n < 0 ? 0 : n;
}

sf_count_t ioWrite(const void* buffer, sf_count_t count, void* user) {
    SoundFileIo* io = static_cast<SoundFileIo*>(user);
    const char* from = static_cast<const char*>(buffer);
    sf_count_t done = 0;
    while (done < count) {
        const ssize_t n = write(io->fd, from + done, static_cast<size_t>(count - done));
        if (n < 0 && errno == EINTR && tools::stopSignal == 0) continue;
        if (n <= 0) {
            if (io->error == 0) io->error = n < 0 ? errno : ENOSPC;
            break;
        }
        done += n;
    }
    return done;
}

sf_count_t ioTell(void* user) {
    return lseek(static_cast<SoundFileIo*>(user)->fd, 0, SEEK_CUR);
}

int soundFileFormat(const Output& o) {
    const int samples = o.floatSamples ? SF_FORMAT_FLOAT : SF_FORMAT_PCM_16;
    const uint64_t dataBytes = static_cast<uint64_t>(o.frames) * bytesPerFrame(o);
    switch (o.container) {
    case Container::Wav:
        return (dataBytes > riffLimitBytes ? SF_FORMAT_RF64 : SF_FORMAT_WAV) | samples;
    case Container::Flac: return SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
    case Container::Ogg: return SF_FORMAT_OGG | SF_FORMAT_VORBIS;
    case Container::Aiff: return SF_FORMAT_AIFF | samples;
    case Container::WavStream: break;
    }
    return 0;
}

// ---- Rendering ---------------------------------------------------------------------------------

void drawProgress(double fraction, int64_t frames, int32_t rate) {
    char bar[41];
    tools::formatBar(fraction, 40, bar);
    char time[32];
    tools::formatTime(frames * 1000 / rate, time, sizeof time);
    std::fprintf(stderr, "\r[%s] %3d%% %s", bar, static_cast<int>(fraction * 100.0), time);
    std::fflush(stderr);
}

// Where the rendered blocks go.
struct Sink {
    const Output* output;
    FILE* stream;   // the WAV stream, or null
    SNDFILE* sound; // the libsndfile file, or null
};

bool writeBlock(const Sink& sink, const void* samples, int32_t frames) {
    if (sink.stream != nullptr)
        return writeStreamFrames(sink.stream, *sink.output, samples, frames);
    const sf_count_t written =
        sink.output->floatSamples
            ? sf_writef_float(sink.sound, static_cast<const float*>(samples), frames)
            : sf_writef_short(sink.sound, static_cast<const short*>(samples), frames);
    return written == frames;
}

enum class Rendered { Done, WriteFailed, Stopped };

// Renders output.frames frames at most (exactly that many for a fixed length) into the sink;
// *written tells how many went out.
Rendered render(bxm_player* player, const Output& output, const Sink& sink, bool progress,
                int64_t* written) {
    std::vector<int16_t> shorts(static_cast<size_t>(blockFrames) * outputChannels);
    std::vector<float> floats(output.floatSamples ? shorts.size() : 0);
    const int64_t limit = output.frames;
    *written = 0;
    int64_t lastDrawn = -limit;
    while (*written < limit) {
        if (tools::stopSignal != 0) return Rendered::Stopped;
        int32_t n = blockFrames;
        if (n > limit - *written) n = static_cast<int32_t>(limit - *written);
        n = output.floatSamples ? bxm_render_f32(player, floats.data(), n)
                                : bxm_render_s16(player, shorts.data(), n);
        if (n <= 0) break;
        const void* block = output.floatSamples ? static_cast<const void*>(floats.data())
                                                : static_cast<const void*>(shorts.data());
        if (!writeBlock(sink, block, n)) {
            return tools::stopSignal != 0 ? Rendered::Stopped : Rendered::WriteFailed;
        }
        *written += n;
        if (progress && *written - lastDrawn >= output.rate / 2) {
            drawProgress(limit > 0 ? static_cast<double>(*written) / limit : 1.0, *written,
                         output.rate);
            lastDrawn = *written;
        }
    }
    if (progress) {
        drawProgress(1.0, *written, output.rate);
        std::fputc('\n', stderr);
    }
    return Rendered::Done;
}

bool copyAll(FILE* from, FILE* to) {
    if (std::fseek(from, 0, SEEK_SET) != 0) return false;
    uint8_t block[65536];
    size_t n;
    while ((n = std::fread(block, 1, sizeof block, from)) > 0) {
        if (tools::stopSignal != 0 || std::fwrite(block, 1, n, to) != n) return false;
    }
    return !std::ferror(from);
}

// The WAV stream: the sizes are in the header from the start when the length is fixed; a song
// of unknown length goes to a seekable output directly and through a temporary file to a pipe.
Rendered renderStream(bxm_player* player, const Output& output, FILE* out, bool progress) {
    Sink sink{&output, out, nullptr};
    int64_t frames = 0;
    if (output.fixedLength) {
        if (!writeWavHeader(out, output, output.frames)) return Rendered::WriteFailed;
        const Rendered r = render(player, output, sink, progress, &frames);
        if (r != Rendered::Done) return r;
        return frames == output.frames ? Rendered::Done : Rendered::WriteFailed;
    }
    if (std::fseek(out, 0, SEEK_CUR) == 0) {
        if (!writeWavHeader(out, output, 0)) return Rendered::WriteFailed;
        const Rendered r = render(player, output, sink, progress, &frames);
        if (r != Rendered::Done) return r;
        const bool ok = std::fseek(out, 0, SEEK_SET) == 0 && writeWavHeader(out, output, frames);
        return ok ? Rendered::Done : Rendered::WriteFailed;
    }
    FILE* temp = std::tmpfile();
    if (temp == nullptr) return Rendered::WriteFailed;
    sink.stream = temp;
    Rendered r = render(player, output, sink, progress, &frames);
    if (r == Rendered::Done && !(writeWavHeader(out, output, frames) && copyAll(temp, out))) {
        r = tools::stopSignal != 0 ? Rendered::Stopped : Rendered::WriteFailed;
    }
    std::fclose(temp);
    return r;
}

Rendered renderSoundFile(bxm_player* player, const Output& output, int fd, bool progress,
                         int* error) {
    SoundFileIo io{fd, 0};
    SF_VIRTUAL_IO calls{ioLength, ioSeek, ioRead, ioWrite, ioTell};
    SF_INFO info{};
    info.samplerate = output.rate;
    info.channels = outputChannels;
    info.format = soundFileFormat(output);
    SNDFILE* sound = sf_open_virtual(&calls, SFM_WRITE, &info, &io);
    if (sound == nullptr) {
        *error = io.error != 0 ? io.error : EIO;
        return Rendered::WriteFailed;
    }
    // Floats are the mix with 1.0 at 16-bit full scale, as libsndfile takes them.
    sf_command(sound, SFC_SET_NORM_FLOAT, nullptr, SF_TRUE);
    if (output.container == Container::Ogg) {
        double quality = 0.6;
        sf_command(sound, SFC_SET_VBR_ENCODING_QUALITY, &quality, sizeof quality);
    }
    const Sink sink{&output, nullptr, sound};
    int64_t frames = 0;
    Rendered r = render(player, output, sink, progress, &frames);
    const int closed = sf_close(sound);
    if (r == Rendered::Done && (closed != 0 || io.error != 0)) r = Rendered::WriteFailed;
    if (r == Rendered::Done && output.fixedLength && frames != output.frames) {
        r = Rendered::WriteFailed;
    }
    *error = io.error != 0 ? io.error : EIO;
    return r;
}

// ---- The command line --------------------------------------------------------------------------

bool containerFor(const char* path, bool inPlace, Container* container) {
    const std::string ext = tools::extensionOf(path);
    if (inPlace) {
        *container = Container::WavStream;
        return ext.empty() || ext == "wav" || ext == "wave";
    }
    if (ext == "wav" || ext == "wave") {
        *container = Container::Wav;
    } else if (ext == "flac") {
        *container = Container::Flac;
    } else if (ext == "ogg" || ext == "oga") {
        *container = Container::Ogg;
    } else if (ext == "aif" || ext == "aiff" || ext == "aifc") {
        *container = Container::Aiff;
    } else {
        return false;
    }
    return true;
}

// Standard output, or an existing device or pipe: written in place as a WAV stream.
bool writtenInPlace(const char* path) {
    if (std::strcmp(path, "-") == 0) return true;
    struct stat st {};
    return stat(path, &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode);
}

[[gnu::format(printf, 1, 2)]] void fail(const char* format, ...) {
    std::fputs("xmrender: ", stderr);
    va_list arguments;
    va_start(arguments, format);
    std::vfprintf(stderr, format, arguments);
    va_end(arguments);
    std::fputc('\n', stderr);
}

struct Request {
    double seconds = -1.0; // above 0: a fixed length
    bool floatSamples = false;
    bool quiet = false;
    tools::ListenerOptions listener;
    bxm_options options{};
    const char* inPath = nullptr;
    const char* outPath = nullptr;
};

constexpr int keepGoing = -1;

// keepGoing, or the exit code after --help, --version or a wrong command line.
int parseCommandLine(int argc, char** argv, Request* request) {
    request->options.profile = BXM_PROFILE_FT2;
    tools::CommandLine line{};
    tools::startCommandLine(&line, toolSpec, argc, argv);
    for (;;) {
        const char* value = nullptr;
        const int id = tools::nextOption(&line, &value);
        if (id == tools::commandLineEnd) break;
        switch (id) {
        case tools::commandLineWrong: return exitBadInput;
        case tools::optionHelp: tools::printHelp(toolSpec, stdout); return exitOk;
        case tools::optionVersion: tools::printVersion("xmrender"); return exitOk;
        case optionSeconds: {
            char* end = nullptr;
            const double seconds = std::strtod(value, &end);
            if (end == value || *end != 0 || !(seconds > 0.0) || !(seconds <= maxSeconds)) {
                fail("--seconds wants a number above 0 and up to %g, not %s", maxSeconds, value);
                return exitBadInput;
            }
            request->seconds = seconds;
            break;
        }
        case optionProfile:
            if (!tools::parseProfile(value, &request->options.profile)) {
                fail("--profile wants ft2 or demo, not %s", value);
                return exitBadInput;
            }
            break;
        case optionRate:
            if (!tools::parseRate(value, &request->options.sample_rate)) {
                fail("--rate wants 8000 to 192000 Hz, not %s", value);
                return exitBadInput;
            }
            break;
        case optionFloat: request->floatSamples = true; break;
        case optionQuiet: request->quiet = true; break;
        default:
            if (!tools::isListenerOption(id)) return exitBadInput;
            if (!tools::takeListenerOption("xmrender", id, value, &request->listener))
                return exitBadInput;
            break;
        }
    }
    const std::vector<const char*> files = tools::operands(line);
    if (files.size() != 2) {
        tools::complain(toolSpec, files.size() < 2 ? "wants an input and an output"
                                                   : "wants one input and one output");
        return exitBadInput;
    }
    request->inPath = files[0];
    request->outPath = files[1];
    return keepGoing;
}

// Everything about the output that can be told from the command line, told before the module
// is read. False after saying what is wrong.
bool planOutput(const Request& request, Output* output) {
    const char* outPath = request.outPath;
    output->floatSamples = request.floatSamples;
    output->rate =
        request.options.sample_rate != 0 ? request.options.sample_rate : BXM_RATE_DEFAULT;
    output->fixedLength = request.seconds > 0.0;
    const bool inPlace = writtenInPlace(outPath);
    if (tools::outputIsInput(request.inPath, outPath)) {
        fail("%s is the input; xmrender does not overwrite %s", outPath, request.inPath);
        return false;
    }
    if (!containerFor(outPath, inPlace, &output->container)) {
        fail(inPlace ? "cannot write %s: standard output, pipes and devices get WAV only"
                     : "cannot write %s: no format for the name; xmrender writes .wav, .flac, "
                       ".ogg and .aiff",
             outPath);
        return false;
    }
    if (output->floatSamples && output->container == Container::Flac) {
        fail("cannot write %s: FLAC holds integer samples; --float is for WAV, AIFF and Ogg",
             outPath);
        return false;
    }
    if (output->fixedLength) {
        output->frames = static_cast<int64_t>(std::llround(request.seconds * output->rate));
        if (output->frames < 1) {
            fail("--seconds %g is less than one frame at %d Hz", request.seconds, output->rate);
            return false;
        }
    }
    if (output->container != Container::WavStream) {
        SF_INFO probe{};
        probe.samplerate = output->rate;
        probe.channels = outputChannels;
        probe.format = soundFileFormat(*output);
        if (sf_format_check(&probe) == 0) {
            fail("cannot write %s: this libsndfile cannot write that format", outPath);
            return false;
        }
    }
    return true;
}

// Renders into the output file and puts it in place. Closes the player; returns the exit code.
int renderToFile(bxm_player* player, const Output& output, const Request& request) {
    const char* outPath = request.outPath;
    tools::catchStopSignals();
    tools::OutputFile file{};
    std::string reason;
    if (!tools::openOutput(&file, outPath, &reason)) {
        fail("cannot write %s: %s", outPath, reason.c_str());
        bxm_close(player);
        return exitOutputFailed;
    }
    const bool progress = !request.quiet && isatty(STDERR_FILENO) != 0;
    Rendered result = Rendered::Done;
    int error = 0;
    if (output.container == Container::WavStream) {
        FILE* out = file.fd == STDOUT_FILENO ? stdout : fdopen(file.fd, "wb");
        if (out == nullptr) {
            result = Rendered::WriteFailed;
        } else {
            result = renderStream(player, output, out, progress);
            if (std::fflush(out) != 0 && result == Rendered::Done) result = Rendered::WriteFailed;
            error = errno;
            if (out != stdout) {
                std::fclose(out);
                file.fd = -1;
            }
        }
    } else {
        result = renderSoundFile(player, output, file.fd, progress, &error);
    }
    bxm_close(player);
    if (result == Rendered::Done && !tools::commitOutput(&file, &reason)) {
        result = Rendered::Stopped;
        if (tools::stopSignal == 0) {
            fail("cannot write %s: %s", outPath, reason.c_str());
            return exitOutputFailed;
        }
    }
    tools::abandonOutput(&file);
    if (result == Rendered::Stopped || (result != Rendered::Done && tools::stopSignal != 0)) {
        if (progress) std::fputc('\n', stderr);
        fail("stopped by a signal; %s %s", outPath,
             file.inPlace ? "is cut short" : "was not written");
        return tools::exitSignalBase + tools::stopSignal;
    }
    if (result == Rendered::WriteFailed) {
        fail("cannot write %s: %s",
             file.inPlace && std::strcmp(outPath, "-") == 0 ? "stdout" : outPath,
             std::strerror(error != 0 ? error : EIO));
        return exitOutputFailed;
    }
    return exitOk;
}

} // namespace

int main(int argc, char** argv) {
    Request request;
    if (const int parsed = parseCommandLine(argc, argv, &request); parsed != keepGoing)
        return parsed;
    Output output{};
    if (!planOutput(request, &output)) return exitBadInput;
    bxm_options options = request.options;
    // A fixed length goes on through the song's end, as often as it takes.
    options.play_count = output.fixedLength ? -1 : 1;

    bxm_player* player = tools::openModuleFile("xmrender", request.inPath, options);
    if (player == nullptr) return exitBadInput;
    if (!tools::applyListenerOptions("xmrender", request.inPath, player, request.listener)) {
        bxm_close(player);
        return exitBadInput;
    }
    if (!output.fixedLength) {
        // From a later start, to where the song would have ended.
        bxm_module_info info{};
        bxm_get_module_info(player, &info);
        bxm_position at{};
        bxm_get_position(player, &at);
        const int64_t startFrame = static_cast<int64_t>(at.time_ms) * output.rate / 1000;
        output.frames = info.duration_frames - startFrame;
        if (output.frames < 1) output.frames = 1;
    }
    const uint64_t dataBytes = static_cast<uint64_t>(output.frames) * bytesPerFrame(output);
    if (output.container == Container::Aiff && dataBytes > riffLimitBytes) {
        fail("cannot write %s: more than 4 GiB of sound, which AIFF cannot hold; .wav (RF64) and "
             ".flac can",
             request.outPath);
        bxm_close(player);
        return exitBadInput;
    }
    return renderToFile(player, output, request);
}
