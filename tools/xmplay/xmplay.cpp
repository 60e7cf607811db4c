// xmplay: plays XM modules through the sound card (SDL audio), with a status line and keys.
//
// The SDL audio thread pulls frames from the library's render call; the main thread reads keys,
// seeks and draws the status line. Every library call on the player is made with the audio
// device locked, so the two threads never call into the player at the same time.
#include "beatxm.h"
#include "tools/common/tool_common.h"

#include <SDL.h>
#include <sys/select.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int exitInterrupted = 130; // 128 + SIGINT, as a shell reports it
constexpr uint16_t deviceBufferFrames = 1024;
constexpr int32_t keyPollMs = 50;
constexpr int32_t statusEveryMs = 100;
constexpr int32_t barCells = 20;
constexpr int32_t titleColumns = 24;

const char* const usage =
    "usage: xmplay [options] FILE.xm...\n"
    "Plays XM modules one after another through the sound card.\n"
    "  --profile NAME  playback rules: ft2 (default, FastTracker 2) or demo\n"
    "  --rate HZ       output rate, 8000 to 192000 (default 44100)\n"
    "  --loop N        play each song N times (default 1; 0 plays it for ever)\n"
    "  --help          print this and exit\n"
    "  --version       print the version and exit\n"
    "Keys: space pause/resume, left/right previous/next order, n next file, q quit.\n"
    "A song ends when it comes back to a row it has already played.\n"
    "Exit codes: 0 done; 1 no audio device; 2 a file cannot be read or loaded (the others\n"
    "still play), or a wrong command line; 130 interrupted (Ctrl-C).\n";

std::atomic<int> caughtSignal{0};
bool terminalRaw = false;
termios savedTerminal;

void onSignal(int sig) {
    caughtSignal.store(sig);
}

void restoreTerminal() {
    if (terminalRaw) {
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &savedTerminal);
        terminalRaw = false;
    }
}

// Keys arrive one by one without echo; Ctrl-C still raises SIGINT.
void enterRawMode() {
    if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &savedTerminal) != 0) return;
    termios raw = savedTerminal;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    raw.c_cc[VMIN] = 0;
    raw.c_cc[VTIME] = 0;
    if (tcsetattr(STDIN_FILENO, TCSAFLUSH, &raw) == 0) {
        terminalRaw = true;
        std::atexit(restoreTerminal);
    }
}

void installSignals() {
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaction(sig, &sa, nullptr);
}

enum class Key { None, Pause, Previous, Next, NextFile, Quit };

// One key from standard input, waiting at most keyPollMs; arrows come as ESC [ C and ESC [ D.
Key readKey() {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(STDIN_FILENO, &set);
    timeval wait{0, keyPollMs * 1000};
    if (select(STDIN_FILENO + 1, &set, nullptr, nullptr, &wait) <= 0) return Key::None;
    char c = 0;
    if (read(STDIN_FILENO, &c, 1) != 1) return Key::None;
    switch (c) {
    case ' ': return Key::Pause;
    case 'n':
    case 'N': return Key::NextFile;
    case 'q':
    case 'Q': return Key::Quit;
    case '<': return Key::Previous;
    case '>': return Key::Next;
    case 0x1B: {
        char seq[2] = {0, 0};
        if (read(STDIN_FILENO, &seq[0], 1) != 1 || read(STDIN_FILENO, &seq[1], 1) != 1)
            return Key::None;
        if (seq[0] == '[' && seq[1] == 'C') return Key::Next;
        if (seq[0] == '[' && seq[1] == 'D') return Key::Previous;
        return Key::None;
    }
    default: return Key::None;
    }
}

struct Playback {
    bxm_player* player;
    SDL_AudioDeviceID device;
    std::atomic<bool> songOver;
};

void fillAudio(void* user, Uint8* stream, int bytes) {
    Playback* p = static_cast<Playback*>(user);
    const int32_t frames = bytes / 4;
    const int32_t n = bxm_render_s16(p->player, reinterpret_cast<int16_t*>(stream), frames);
    const int32_t done = n > 0 ? n : 0;
    if (done < frames) {
        std::memset(stream + done * 4, 0, static_cast<size_t>(frames - done) * 4);
        p->songOver.store(true);
    }
}

void drawStatus(const Playback& p, const bxm_module_info& info, bool paused) {
    bxm_position pos{};
    SDL_LockAudioDevice(p.device);
    bxm_get_position(p.player, &pos);
    SDL_UnlockAudioDevice(p.device);
    char elapsed[32], total[32], bar[barCells + 1];
    tools::formatTime(pos.time_ms, elapsed, sizeof elapsed);
    tools::formatTime(info.duration_ms, total, sizeof total);
    tools::formatBar(info.duration_ms > 0 ? static_cast<double>(pos.time_ms) / info.duration_ms
                                          : 0.0,
                     barCells, bar);
    std::printf("\r%-*.*s order %02d/%02d row %02d  %s / %s [%s]%s\033[K", titleColumns,
                titleColumns, info.title[0] != 0 ? info.title : "(untitled)", pos.order,
                info.orders, pos.row, elapsed, total, bar, paused ? " paused" : "");
    std::fflush(stdout);
}

enum class Outcome { Finished, NextFile, Quit, Interrupted, NoDevice };

Outcome play(bxm_player* player, const char* path, int32_t rate, bool statusLine) {
    bxm_module_info info{};
    bxm_get_module_info(player, &info);
    if (statusLine) {
        std::printf("%s: \"%s\" (%s), %d channels, %d Hz\n", path, info.title, info.tracker,
                    info.channels, rate);
    }
    Playback p{};
    p.player = player;
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
    while (!p.songOver.load()) {
        if (caughtSignal.load() != 0) {
            outcome = Outcome::Interrupted;
            break;
        }
        const Key key = readKey();
        if (key == Key::Quit) {
            outcome = Outcome::Quit;
            break;
        }
        if (key == Key::NextFile) {
            outcome = Outcome::NextFile;
            break;
        }
        if (key == Key::Pause) {
            paused = !paused;
            SDL_PauseAudioDevice(p.device, paused ? 1 : 0);
        }
        if (key == Key::Previous || key == Key::Next) {
            SDL_LockAudioDevice(p.device);
            bxm_position pos{};
            bxm_get_position(player, &pos);
            const int32_t to = pos.order + (key == Key::Next ? 1 : -1);
            if (to >= 0 && to < info.orders) bxm_seek_order(player, to);
            SDL_UnlockAudioDevice(p.device);
        }
        const uint32_t now = SDL_GetTicks();
        if (statusLine && (now - lastDrawn >= statusEveryMs || key != Key::None)) {
            drawStatus(p, info, paused);
            lastDrawn = now;
        }
    }
    if (outcome == Outcome::Finished) {
        // The last frames are still in the device's buffer.
        SDL_Delay(static_cast<uint32_t>(2000u * obtained.samples / static_cast<uint32_t>(rate)));
    }
    if (statusLine) {
        drawStatus(p, info, paused);
        std::printf("\n");
    }
    SDL_CloseAudioDevice(p.device);
    return outcome;
}

} // namespace

int main(int argc, char** argv) {
    bxm_options options{};
    int32_t loops = 1;
    int firstFile = argc;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0) {
            std::fputs(usage, stdout);
            return tools::exitOk;
        }
        if (std::strcmp(a, "--version") == 0) {
            tools::printVersion("xmplay");
            return tools::exitOk;
        }
        const bool takesValue = std::strcmp(a, "--profile") == 0 || std::strcmp(a, "--rate") == 0 ||
                                std::strcmp(a, "--loop") == 0;
        if (takesValue && i + 1 >= argc) {
            std::fprintf(stderr, "xmplay: %s needs a value\n", a);
            return tools::exitBadInput;
        }
        if (std::strcmp(a, "--profile") == 0) {
            if (!tools::parseProfile(argv[++i], &options.profile)) {
                std::fprintf(stderr, "xmplay: --profile wants demo or ft2, not %s\n", argv[i]);
                return tools::exitBadInput;
            }
        } else if (std::strcmp(a, "--rate") == 0) {
            if (!tools::parseRate(argv[++i], &options.sample_rate)) {
                std::fprintf(stderr, "xmplay: --rate wants %d to %d Hz, not %s\n", BXM_RATE_MIN,
                             BXM_RATE_MAX, argv[i]);
                return tools::exitBadInput;
            }
        } else if (std::strcmp(a, "--loop") == 0) {
            char* end = nullptr;
            const long n = std::strtol(argv[++i], &end, 10);
            if (end == argv[i] || *end != 0 || n < 0 || n > 1000000) {
                std::fprintf(stderr, "xmplay: --loop wants a count of 0 or more, not %s\n",
                             argv[i]);
                return tools::exitBadInput;
            }
            loops = static_cast<int32_t>(n);
        } else if (std::strcmp(a, "--") == 0) {
            firstFile = i + 1;
            break;
        } else if (a[0] == '-' && a[1] != 0) {
            std::fprintf(stderr, "xmplay: unknown option %s\n%s", a, usage);
            return tools::exitBadInput;
        } else {
            firstFile = i;
            break;
        }
    }
    if (firstFile >= argc) {
        std::fputs(usage, stderr);
        return tools::exitBadInput;
    }
    options.play_count = loops == 0 ? -1 : loops;
    const int32_t rate = options.sample_rate != 0 ? options.sample_rate : BXM_RATE_DEFAULT;

    if (SDL_Init(SDL_INIT_AUDIO) != 0) {
        std::fprintf(stderr, "xmplay: no audio device: %s\n", SDL_GetError());
        return tools::exitOutputFailed;
    }
    installSignals();
    const bool statusLine = isatty(STDOUT_FILENO) != 0;
    enterRawMode();

    int exitCode = tools::exitOk;
    for (int i = firstFile; i < argc; ++i) {
        bxm_player* player = tools::openModuleFile("xmplay", argv[i], options);
        if (player == nullptr) {
            exitCode = tools::exitBadInput;
            continue;
        }
        const Outcome outcome = play(player, argv[i], rate, statusLine);
        bxm_close(player);
        if (outcome == Outcome::NoDevice) {
            exitCode = tools::exitOutputFailed;
            break;
        }
        if (outcome == Outcome::Quit) break;
        if (outcome == Outcome::Interrupted) {
            exitCode = exitInterrupted;
            break;
        }
    }
    restoreTerminal();
    SDL_Quit();
    return exitCode;
}
