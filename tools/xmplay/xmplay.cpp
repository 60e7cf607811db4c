// xmplay: plays XM modules through the sound card (SDL audio), with a status line and keys.
//
// The SDL audio thread pulls frames from the library's render call; the main thread reads keys,
// seeks and draws the status line. Every library call on the player is made with the audio
// device locked, so the two threads never call into the player at the same time.
#include "beatxm.h"
#include "tools/common/command_line.h"
#include "tools/common/tool_common.h"

#include <SDL.h>
#include <sys/ioctl.h>
#include <sys/select.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

namespace {

constexpr uint16_t deviceBufferFrames = 1024;
constexpr int32_t keyPollMs = 50;
constexpr int32_t statusEveryMs = 100;
constexpr int32_t fullBarCells = 20;
constexpr int32_t shortBarCells = 10;
constexpr int32_t fullTitleColumns = 24;
constexpr int32_t shortTitleColumns = 8;
constexpr int32_t defaultColumns = 80;
constexpr int32_t volumeStepPercent = 10;
constexpr int32_t loudestPercent = 200;
constexpr int32_t seekStepMs = 10000;

enum OptionId {
    optionProfile = 'p',
    optionRate = 'r',
    optionLoop = 'l',
};

const tools::OptionSpec ownOptions[] = {
    {optionProfile, "profile", "NAME", "playback rules: ft2 (default, FastTracker 2) or\ndemo"},
    {optionRate, "rate", "HZ", "output rate, 8000 to 192000 (default 44100)"},
    {optionLoop, "loop", "N", "play each song N times (default 1; 0 plays it\nfor ever)"},
};

const std::vector<tools::OptionSpec> optionTable =
    tools::optionTable(ownOptions, static_cast<int>(std::size(ownOptions)), true);

const tools::ExitSpec exitTable[] = {
    {0, "every file played, or q"},
    {1, "no audio device"},
    {2, "a file cannot be read or loaded (the others still play), or\na wrong command line"},
    {129, "stopped by SIGHUP (the terminal went away)"},
    {130, "stopped by SIGINT (Ctrl-C)"},
    {131, "stopped by SIGQUIT (Ctrl-\\)"},
    {143, "stopped by SIGTERM"},
};

const tools::ToolSpec toolSpec = {
    "xmplay",
    "[options] FILE.xm...",
    "Plays XM modules one after another through the sound card (SDL audio), with\n"
    "a status line on standard output when it is a terminal. A song ends when it\n"
    "comes back to a row it has already played. FILE may be - for standard input\n"
    "(there are no keys then). Keys are read from standard input; without them\n"
    "(</dev/null, a closed pipe) it plays on and waits idle.",
    optionTable.data(),
    static_cast<int>(optionTable.size()),
    "Keys:\n"
    "  space         pause / resume\n"
    "  left, <       previous order\n"
    "  right, >      next order\n"
    "  ,  .          10 seconds back / forward\n"
    "  1 to 9        mute / unmute channel 1 to 9\n"
    "  + (or =), -   volume up / down by 10 % (0 to 200 %)\n"
    "  n             next file\n"
    "  p             previous file\n"
    "  q             quit\n"
    "The terminal is restored after q, at the end and after the signals below.",
    exitTable,
    static_cast<int>(sizeof exitTable / sizeof exitTable[0]),
};

// ---- Terminal and signals ----------------------------------------------------------------------

std::atomic<bool> resized{false};
bool terminalRaw = false;
termios savedTerminal;

void onResize(int) {
    resized.store(true, std::memory_order_release);
}

void restoreTerminal() {
    if (terminalRaw) {
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &savedTerminal);
        terminalRaw = false;
    }
}

// A terminal that is not ours to control (tcgetpgrp fails) can be read without being stopped.
bool inForeground() {
    const pid_t foreground = tcgetpgrp(STDIN_FILENO);
    return foreground < 0 || foreground == getpgrp();
}

// Keys arrive one by one without echo; Ctrl-C still raises SIGINT. Only in the foreground: a
// background job that changed the terminal would be stopped for it.
void enterRawMode() {
    if (terminalRaw || !isatty(STDIN_FILENO) || !inForeground()) return;
    if (tcgetattr(STDIN_FILENO, &savedTerminal) != 0) return;
    termios raw = savedTerminal;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    raw.c_cc[VMIN] = 0;
    raw.c_cc[VTIME] = 0;
    if (tcsetattr(STDIN_FILENO, TCSAFLUSH, &raw) == 0) terminalRaw = true;
}

void installSignals() {
    tools::catchStopSignals();
    struct sigaction sa {};
    sigemptyset(&sa.sa_mask);
    sa.sa_handler = onResize;
    sigaction(SIGWINCH, &sa, nullptr);
}

int32_t terminalColumns() {
    winsize size{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return defaultColumns;
}

// ---- Keys --------------------------------------------------------------------------------------

enum class Key {
    None,
    Pause,
    Previous,
    Next,
    Back,
    Forward,
    NextFile,
    PreviousFile,
    VolumeUp,
    VolumeDown,
    Quit,
    Mute1, // Mute1 + c - 1 for channel c, 1 to 9
    Mute9 = Mute1 + 8
};

// Standard input stops giving keys for good at its end or on an error (</dev/null, a closed
// pipe, nohup's unreadable file); from then on the loop only waits.
bool keysOpen = true;

void waitQuietly(int32_t ms) {
    timeval wait{0, ms * 1000};
    select(0, nullptr, nullptr, nullptr, &wait);
}

// One key from standard input, waiting at most keyPollMs; arrows come as ESC [ C and ESC [ D.
Key readKey() {
    if (!keysOpen || (isatty(STDIN_FILENO) && !inForeground())) {
        waitQuietly(keyPollMs);
        return Key::None;
    }
    enterRawMode();
    fd_set set;
    FD_ZERO(&set);
    FD_SET(STDIN_FILENO, &set);
    timeval wait{0, keyPollMs * 1000};
    if (select(STDIN_FILENO + 1, &set, nullptr, nullptr, &wait) <= 0) return Key::None;
    char c = 0;
    const ssize_t got = read(STDIN_FILENO, &c, 1);
    if (got == 0 || (got < 0 && errno != EINTR && errno != EAGAIN)) {
        keysOpen = false;
        return Key::None;
    }
    if (got != 1) return Key::None;
    switch (c) {
    case ' ': return Key::Pause;
    case 'n':
    case 'N': return Key::NextFile;
    case 'p':
    case 'P': return Key::PreviousFile;
    case 'q':
    case 'Q': return Key::Quit;
    case '<': return Key::Previous;
    case '>': return Key::Next;
    case '+':
    case '=': return Key::VolumeUp;
    case '-': return Key::VolumeDown;
    case ',': return Key::Back;
    case '.': return Key::Forward;
    case 0x1B: {
        char seq[2] = {0, 0};
        if (read(STDIN_FILENO, &seq[0], 1) != 1 || read(STDIN_FILENO, &seq[1], 1) != 1)
            return Key::None;
        if (seq[0] == '[' && seq[1] == 'C') return Key::Next;
        if (seq[0] == '[' && seq[1] == 'D') return Key::Previous;
        return Key::None;
    }
    default:
        if (c >= '1' && c <= '9') return static_cast<Key>(static_cast<int>(Key::Mute1) + c - '1');
        return Key::None;
    }
}

// ---- Playback ----------------------------------------------------------------------------------

struct Playback {
    bxm_player* player;
    SDL_AudioDeviceID device;
    std::atomic<bool> songOver;
    std::atomic<int32_t>* volumePercent;
};

// At 100 % the samples go out as rendered, bit for bit.
void scale(int16_t* samples, int32_t count, int32_t percent) {
    for (int32_t i = 0; i < count; ++i) {
        int32_t v = samples[i] * percent / 100;
        if (v > INT16_MAX) v = INT16_MAX;
        if (v < INT16_MIN) v = INT16_MIN;
        samples[i] = static_cast<int16_t>(v);
    }
}

void fillAudio(void* user, Uint8* stream, int bytes) {
    Playback* p = static_cast<Playback*>(user);
    const int32_t frames = bytes / 4;
    auto* samples = reinterpret_cast<int16_t*>(stream);
    const int32_t n = bxm_render_s16(p->player, samples, frames);
    const int32_t done = n > 0 ? n : 0;
    const int32_t percent = p->volumePercent->load(std::memory_order_acquire);
    if (percent != 100) scale(samples, done * 2, percent);
    if (done < frames) {
        std::memset(stream + done * 4, 0, static_cast<size_t>(frames - done) * 4);
        p->songOver.store(true, std::memory_order_release);
    }
}

// ---- The status line ---------------------------------------------------------------------------

// Title, position, times, bar, volume (when not 100 %) and pause mark in at most `columns` - 1
// columns (the last column would wrap on some terminals). The room for " paused" is kept while
// playing too, so pausing never changes the layout. The bar gets at least its short length,
// then the title up to its full width, then the bar the rest; less room drops the title, then
// the bar.
std::string statusLine(const char* title, const bxm_position& pos, const bxm_module_info& info,
                       int32_t volumePercent, bool paused, int32_t columns) {
    char position[128], elapsed[32], total[32];
    tools::formatTime(pos.time_ms, elapsed, sizeof elapsed);
    tools::formatTime(info.duration_ms, total, sizeof total);
    std::snprintf(position, sizeof position, "order %02d/%02d row %02d  %s / %s", pos.order,
                  info.orders, pos.row, elapsed, total);
    char volume[32] = "";
    if (volumePercent != 100) std::snprintf(volume, sizeof volume, " vol %d%%", volumePercent);
    const char* pauseMark = " paused";
    const int32_t room = columns - 1;
    int32_t rest = room - static_cast<int32_t>(std::strlen(position) + std::strlen(volume) +
                                               std::strlen(pauseMark));
    // " [" and "]" around the bar, one blank after the title
    const int32_t barCells = rest >= shortBarCells + 3 ? shortBarCells : 0;
    rest -= barCells > 0 ? barCells + 3 : 0;
    const int32_t titleColumns = rest - 1 >= shortTitleColumns
                                     ? (rest - 1 > fullTitleColumns ? fullTitleColumns : rest - 1)
                                     : 0;
    rest -= titleColumns > 0 ? titleColumns + 1 : 0;
    const int32_t moreCells =
        barCells > 0 ? (rest < fullBarCells - barCells ? rest : fullBarCells - barCells) : 0;
    std::string line;
    if (titleColumns > 0) {
        // One byte, one column: anything but printable ASCII shows as '?'.
        std::string shown(title[0] != 0 ? title : "(untitled)");
        for (char& c : shown) {
            if (c < 0x20 || c > 0x7E) c = '?';
        }
        shown.resize(static_cast<size_t>(titleColumns), ' ');
        line = shown + " ";
    }
    line += position;
    if (barCells > 0) {
        char bar[fullBarCells + 1];
        tools::formatBar(info.duration_ms > 0 ? static_cast<double>(pos.time_ms) / info.duration_ms
                                              : 0.0,
                         barCells + moreCells, bar);
        line += std::string(" [") + bar + "]";
    }
    line += volume;
    if (paused) line += pauseMark;
    if (static_cast<int32_t>(line.size()) > room) line.resize(room > 0 ? room : 0);
    return line;
}

void drawStatus(const Playback& p, const bxm_module_info& info, bool paused, int32_t columns) {
    bxm_position pos{};
    SDL_LockAudioDevice(p.device);
    bxm_get_position(p.player, &pos);
    SDL_UnlockAudioDevice(p.device);
    const std::string line = statusLine(
        info.title, pos, info, p.volumePercent->load(std::memory_order_acquire), paused, columns);
    std::printf("\r%s\033[K", line.c_str());
    std::fflush(stdout);
}

enum class Outcome { Finished, NextFile, PreviousFile, Quit, Interrupted, NoDevice };

Outcome play(bxm_player* player, const char* path, int32_t rate, bool statusShown,
             std::atomic<int32_t>* volumePercent) {
    bxm_module_info info{};
    bxm_get_module_info(player, &info);
    if (statusShown) {
        std::printf("%s: \"%s\" (%s), %d channels, %d Hz\n", path, info.title, info.tracker,
                    info.channels, rate);
    }
    Playback p{};
    p.player = player;
    p.volumePercent = volumePercent;
    SDL_AudioSpec wanted{};
    wanted.freq = rate;
    wanted.format = AUDIO_S16SYS;
    wanted.channels = 2;
    wanted.samples = deviceBufferFrames;
    wanted.callback = fillAudio;
    wanted.userdata = &p;
    SDL_AudioSpec obtained{};
    // No changes allowed: SDL converts to what the card takes, the callback sees our format.
    p.device = SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, 0);
    if (p.device == 0) {
        std::fprintf(stderr, "xmplay: no audio device: %s\n", SDL_GetError());
        return Outcome::NoDevice;
    }
    SDL_PauseAudioDevice(p.device, 0);

    bool paused = false;
    Outcome outcome = Outcome::Finished;
    uint32_t lastDrawn = 0;
    int32_t columns = terminalColumns();
    while (!p.songOver.load(std::memory_order_acquire)) {
        if (tools::stopSignal != 0) {
            outcome = Outcome::Interrupted;
            break;
        }
        const Key key = readKey();
        if (key == Key::Quit) {
            outcome = Outcome::Quit;
            break;
        }
        if (key == Key::NextFile || key == Key::PreviousFile) {
            outcome = key == Key::NextFile ? Outcome::NextFile : Outcome::PreviousFile;
            break;
        }
        if (key == Key::Pause) {
            paused = !paused;
            SDL_PauseAudioDevice(p.device, paused ? 1 : 0);
        }
        if (key == Key::VolumeUp || key == Key::VolumeDown) {
            const int32_t now = volumePercent->load(std::memory_order_relaxed);
            const int32_t step = key == Key::VolumeUp ? volumeStepPercent : -volumeStepPercent;
            const int32_t next = now + step < 0                ? 0
                                 : now + step > loudestPercent ? loudestPercent
                                                               : now + step;
            volumePercent->store(next, std::memory_order_release);
        }
        if (key == Key::Previous || key == Key::Next) {
            SDL_LockAudioDevice(p.device);
            bxm_position pos{};
            bxm_get_position(player, &pos);
            const int32_t to = pos.order + (key == Key::Next ? 1 : -1);
            if (to >= 0 && to < info.orders) bxm_seek_order(player, to);
            SDL_UnlockAudioDevice(p.device);
        }
        if (key == Key::Back || key == Key::Forward) {
            SDL_LockAudioDevice(p.device);
            bxm_position pos{};
            bxm_get_position(player, &pos);
            int64_t to = pos.time_ms + (key == Key::Forward ? seekStepMs : -seekStepMs);
            if (to < 0) to = 0;
            // Forward past the end goes nowhere; the song ends by itself.
            if (to < info.duration_ms) bxm_seek_ms(player, static_cast<int32_t>(to));
            SDL_UnlockAudioDevice(p.device);
        }
        if (key >= Key::Mute1 && key <= Key::Mute9) {
            const int32_t channel = static_cast<int32_t>(key) - static_cast<int32_t>(Key::Mute1);
            SDL_LockAudioDevice(p.device);
            const int32_t muted = bxm_get_channel_mute(player, channel);
            if (muted >= 0) bxm_set_channel_mute(player, channel, muted != 0 ? 0 : 1);
            SDL_UnlockAudioDevice(p.device);
        }
        const bool newSize = resized.exchange(false, std::memory_order_acq_rel);
        if (newSize) columns = terminalColumns();
        const uint32_t now = SDL_GetTicks();
        if (statusShown && (now - lastDrawn >= statusEveryMs || key != Key::None || newSize)) {
            drawStatus(p, info, paused, columns);
            lastDrawn = now;
        }
    }
    if (outcome == Outcome::Finished) {
        // The last frames are still in the device's buffer.
        SDL_Delay(static_cast<uint32_t>(2000u * obtained.samples / static_cast<uint32_t>(rate)));
    }
    if (statusShown) {
        drawStatus(p, info, paused, columns);
        std::printf("\n");
    }
    SDL_CloseAudioDevice(p.device);
    return outcome;
}

} // namespace

int main(int argc, char** argv) {
    bxm_options options{};
    int32_t loops = 1;
    tools::ListenerOptions listener;
    tools::CommandLine line{};
    tools::startCommandLine(&line, toolSpec, argc, argv);
    for (;;) {
        const char* value = nullptr;
        const int id = tools::nextOption(&line, &value);
        if (id == tools::commandLineEnd) break;
        switch (id) {
        case tools::commandLineWrong: return tools::exitBadInput;
        case tools::optionHelp: tools::printHelp(toolSpec, stdout); return tools::exitOk;
        case tools::optionVersion: tools::printVersion("xmplay"); return tools::exitOk;
        case optionProfile:
            if (!tools::parseProfile(value, &options.profile)) {
                std::fprintf(stderr, "xmplay: --profile wants ft2 or demo, not %s\n", value);
                return tools::exitBadInput;
            }
            break;
        case optionRate:
            if (!tools::parseRate(value, &options.sample_rate)) {
                std::fprintf(stderr, "xmplay: --rate wants 8000 to 192000 Hz, not %s\n", value);
                return tools::exitBadInput;
            }
            break;
        case optionLoop: {
            char* end = nullptr;
            const long n = std::strtol(value, &end, 10);
            if (end == value || *end != 0 || n < 0 || n > 1000000) {
                std::fprintf(stderr, "xmplay: --loop wants a count of 0 or more, not %s\n", value);
                return tools::exitBadInput;
            }
            loops = static_cast<int32_t>(n);
            break;
        }
        default:
            if (!tools::isListenerOption(id)) return tools::exitBadInput;
            if (!tools::takeListenerOption("xmplay", id, value, &listener))
                return tools::exitBadInput;
            break;
        }
    }
    const std::vector<const char*> files = tools::operands(line);
    if (files.empty()) {
        tools::complain(toolSpec, "wants a file");
        return tools::exitBadInput;
    }
    options.play_count = loops == 0 ? -1 : loops;
    const int32_t rate = options.sample_rate != 0 ? options.sample_rate : BXM_RATE_DEFAULT;

    if (SDL_Init(SDL_INIT_AUDIO) != 0) {
        std::fprintf(stderr, "xmplay: no audio device: %s\n", SDL_GetError());
        return tools::exitOutputFailed;
    }
    installSignals();
    std::atexit(restoreTerminal);
    const bool statusShown = isatty(STDOUT_FILENO) != 0;
    // A module read from standard input leaves no keys there.
    for (const char* f : files) {
        if (std::strcmp(f, "-") == 0) keysOpen = false;
    }
    std::atomic<int32_t> volumePercent{100};

    int exitCode = tools::exitOk;
    size_t i = 0;
    while (i < files.size()) {
        bxm_player* player = tools::openModuleFile("xmplay", files[i], options);
        if (player == nullptr ||
            !tools::applyListenerOptions("xmplay", files[i], player, listener)) {
            bxm_close(player);
            exitCode = tools::exitBadInput;
            ++i;
            continue;
        }
        const Outcome outcome = play(player, files[i], rate, statusShown, &volumePercent);
        bxm_close(player);
        if (outcome == Outcome::NoDevice) {
            exitCode = tools::exitOutputFailed;
            break;
        }
        if (outcome == Outcome::Quit) break;
        if (outcome == Outcome::Interrupted) {
            exitCode = tools::exitSignalBase + tools::stopSignal;
            break;
        }
        if (outcome == Outcome::PreviousFile) {
            if (i > 0) --i;
        } else {
            ++i;
        }
    }
    restoreTerminal();
    SDL_Quit();
    return exitCode;
}
