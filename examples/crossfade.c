/* crossfade: plays two XM modules at once with beatxm, fading from the first into the second.
 *
 *     cc crossfade.c $(pkg-config --cflags --libs beatxm) -lm -o crossfade
 *     ./crossfade first.xm second.xm -o mix.wav [options]    (writes a WAV file)
 *     ./crossfade first.xm second.xm [options]               (plays it, in a build with SDL2)
 *
 * Options: --fade-at SECONDS (10; when the second module starts), --fade SECONDS (5; how long
 * the fade lasts), --length SECONDS (fade-at + fade + 10), --rate HZ (44100), --profile ft2|demo
 * (ft2).
 *
 * Two players are open at the same time, each rendering its own module. Until the fade starts
 * only the first plays; during the fade frame f of the output is (1 - w) * first + w * second
 * with w rising in a straight line from 0 to 1; after it only the second plays. The second
 * module starts from its beginning when the fade starts. A module that ends early is silence
 * from then on.
 */
#include <beatxm.h>

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#if defined(CROSSFADE_WITH_SDL)
#include <SDL.h>
#endif

#define PIECE_FRAMES 1024

struct crossfade {
    bxm_player* first;
    bxm_player* second;
    long rate;
    long fade_start; /* frames */
    long fade_end;
    long length;
    long done; /* frames produced so far */
    float a[2 * PIECE_FRAMES];
    float b[2 * PIECE_FRAMES];
};

/* Renders n frames of one player as floats; what it does not give (its end) is silence. */
static void render_or_silence(bxm_player* player, float* out, int32_t n) {
    int32_t got = bxm_render_f32(player, out, n);
    if (got < 0) got = 0;
    memset(out + 2 * got, 0, sizeof(float) * 2 * (size_t)(n - got));
}

/* 1.0 is 16-bit full scale; rounded to nearest (ties to even), clamped, as the library's own
 * 16-bit output is, so that a stretch played by one player alone is exactly that player's
 * bxm_render_s16 output. */
static int16_t to_s16(float value) {
    const float scaled = nearbyintf(value * 32768.0f);
    if (scaled != scaled) return 0;
    if (scaled >= 32767.0f) return 32767;
    if (scaled <= -32768.0f) return -32768;
    return (int16_t)scaled;
}

/* The next n frames (n <= PIECE_FRAMES) of the crossfade into out as 16-bit stereo. */
static void crossfade_piece(struct crossfade* x, int16_t* out, int32_t n) {
    int32_t i;
    const long start = x->done;
    const int first_plays = start < x->fade_end;
    const int second_plays = start + n > x->fade_start;
    /* A piece never straddles the start or the end of the fade (see crossfade_next). */
    if (first_plays) render_or_silence(x->first, x->a, n);
    if (second_plays) render_or_silence(x->second, x->b, n);
    for (i = 0; i < n; ++i) {
        const long f = start + i;
        float left, right;
        if (!second_plays) {
            left = x->a[2 * i];
            right = x->a[2 * i + 1];
        } else if (!first_plays) {
            left = x->b[2 * i];
            right = x->b[2 * i + 1];
        } else {
            const float w = (float)(f - x->fade_start) / (float)(x->fade_end - x->fade_start);
            left = (1.0f - w) * x->a[2 * i] + w * x->b[2 * i];
            right = (1.0f - w) * x->a[2 * i + 1] + w * x->b[2 * i + 1];
        }
        out[2 * i] = to_s16(left);
        out[2 * i + 1] = to_s16(right);
    }
    x->done += n;
}

/* Frames in the next piece: at most PIECE_FRAMES, ending at the fade's start or end when one of
 * them comes first, 0 at the end. */
static int32_t crossfade_next(const struct crossfade* x) {
    long n = x->length - x->done;
    if (n > PIECE_FRAMES) n = PIECE_FRAMES;
    if (x->done < x->fade_start && x->done + n > x->fade_start) n = x->fade_start - x->done;
    if (x->done < x->fade_end && x->done + n > x->fade_end) n = x->fade_end - x->done;
    return (int32_t)n;
}

static void put_le(unsigned char* p, unsigned long value, int bytes) {
    int i;
    for (i = 0; i < bytes; ++i) p[i] = (unsigned char)(value >> (8 * i));
}

static int write_wav(struct crossfade* x, const char* path) {
    unsigned char h[44];
    unsigned char bytes[4 * PIECE_FRAMES];
    int16_t frames[2 * PIECE_FRAMES];
    int32_t n, i;
    FILE* out = fopen(path, "wb");
    if (!out) return 0;
    memcpy(h, "RIFF", 4);
    put_le(h + 4, 36 + (unsigned long)x->length * 4, 4);
    memcpy(h + 8, "WAVEfmt ", 8);
    put_le(h + 16, 16, 4);
    put_le(h + 20, 1, 2); /* PCM */
    put_le(h + 22, 2, 2);
    put_le(h + 24, (unsigned long)x->rate, 4);
    put_le(h + 28, (unsigned long)x->rate * 4, 4);
    put_le(h + 32, 4, 2);
    put_le(h + 34, 16, 2);
    memcpy(h + 36, "data", 4);
    put_le(h + 40, (unsigned long)x->length * 4, 4);
    fwrite(h, 1, sizeof h, out);
    while ((n = crossfade_next(x)) > 0) {
        crossfade_piece(x, frames, n);
        for (i = 0; i < 2 * n; ++i) put_le(bytes + 2 * i, (unsigned long)(uint16_t)frames[i], 2);
        fwrite(bytes, 4, (size_t)n, out);
    }
    return fclose(out) == 0;
}

#if defined(CROSSFADE_WITH_SDL)
/* The device's callback renders both players; nothing else calls them while it runs. */
static SDL_atomic_t finished;

static void fill(void* data, Uint8* stream, int byte_count) {
    struct crossfade* x = (struct crossfade*)data;
    int16_t* out = (int16_t*)stream;
    int32_t wanted = byte_count / 4;
    while (wanted > 0) {
        int32_t n = crossfade_next(x);
        if (n > wanted) n = wanted;
        if (n == 0) {
            memset(out, 0, (size_t)wanted * 4);
            SDL_AtomicSet(&finished, 1);
            return;
        }
        crossfade_piece(x, out, n);
        out += 2 * n;
        wanted -= n;
    }
}

static int play(struct crossfade* x) {
    SDL_AudioSpec wanted, obtained;
    SDL_AudioDeviceID device;
    if (SDL_Init(SDL_INIT_AUDIO) != 0) {
        fprintf(stderr, "crossfade: no audio: %s (give -o file.wav instead)\n", SDL_GetError());
        return 0;
    }
    SDL_zero(wanted);
    wanted.freq = (int)x->rate;
    wanted.format = AUDIO_S16SYS;
    wanted.channels = 2;
    wanted.samples = 1024;
    wanted.callback = fill;
    wanted.userdata = x;
    device = SDL_OpenAudioDevice(NULL, 0, &wanted, &obtained, 0);
    if (device == 0) {
        fprintf(stderr, "crossfade: no audio device: %s (give -o file.wav instead)\n",
                SDL_GetError());
        SDL_Quit();
        return 0;
    }
    SDL_PauseAudioDevice(device, 0);
    while (!SDL_AtomicGet(&finished)) SDL_Delay(20);
    SDL_Delay(100); /* the device's last buffer */
    SDL_CloseAudioDevice(device);
    SDL_Quit();
    return 1;
}
#else
static int play(struct crossfade* x) {
    (void)x;
    fprintf(stderr, "crossfade: built without an audio device; give -o file.wav\n");
    return 0;
}
#endif

static bxm_player* open_file(const char* path, const bxm_options* options) {
    bxm_error error;
    bxm_player* player;
    long size;
    void* module;
    FILE* in = fopen(path, "rb");
    if (!in || fseek(in, 0, SEEK_END) != 0 || (size = ftell(in)) <= 0 ||
        fseek(in, 0, SEEK_SET) != 0 || !(module = malloc((size_t)size)) ||
        fread(module, 1, (size_t)size, in) != (size_t)size) {
        fprintf(stderr, "crossfade: cannot read %s\n", path);
        if (in) fclose(in);
        return NULL;
    }
    fclose(in);
    player = bxm_open(module, (size_t)size, options, &error);
    free(module);
    if (!player)
        fprintf(stderr, "crossfade: cannot load %s: %s %s\n", path, bxm_error_text(error.code),
                error.reason);
    return player;
}

int main(int argc, char** argv) {
    bxm_options options = BXM_OPTIONS_INIT;
    const char* files[2] = {NULL, NULL};
    const char* wav = NULL;
    double fade_at = 10.0, fade = 5.0, length = -1.0;
    struct crossfade* x;
    int i, file_count = 0, ok;

    for (i = 1; i < argc; ++i) {
        const char* a = argv[i];
        const int has_value = i + 1 < argc;
        if (strcmp(a, "-o") == 0 && has_value) {
            wav = argv[++i];
        } else if (strcmp(a, "--fade-at") == 0 && has_value) {
            fade_at = atof(argv[++i]);
        } else if (strcmp(a, "--fade") == 0 && has_value) {
            fade = atof(argv[++i]);
        } else if (strcmp(a, "--length") == 0 && has_value) {
            length = atof(argv[++i]);
        } else if (strcmp(a, "--rate") == 0 && has_value) {
            options.sample_rate = (int32_t)atol(argv[++i]);
        } else if (strcmp(a, "--profile") == 0 && has_value) {
            const char* p = argv[++i];
            options.profile = strcmp(p, "demo") == 0 ? BXM_PROFILE_DEMO : BXM_PROFILE_FT2;
        } else if (a[0] != '-' && file_count < 2) {
            files[file_count++] = a;
        } else {
            file_count = -1;
            break;
        }
    }
    if (length < 0.0) length = fade_at + fade + 10.0;
    if (file_count != 2 || fade_at < 0.0 || fade <= 0.0 || length < fade_at + fade) {
        fprintf(stderr, "usage: crossfade FIRST.xm SECOND.xm [-o OUT.wav] [--fade-at S] "
                        "[--fade S] [--length S] [--rate HZ] [--profile ft2|demo]\n"
                        "(the fade must end within the length)\n");
        return 2;
    }
    if (options.sample_rate == 0) options.sample_rate = BXM_RATE_DEFAULT;

    x = (struct crossfade*)calloc(1, sizeof *x);
    if (!x) return 1;
    x->first = open_file(files[0], &options);
    x->second = x->first ? open_file(files[1], &options) : NULL;
    if (!x->first || !x->second) {
        bxm_close(x->first);
        free(x);
        return 2;
    }
    x->rate = options.sample_rate;
    x->fade_start = (long)(fade_at * (double)x->rate + 0.5);
    x->fade_end = x->fade_start + (long)(fade * (double)x->rate + 0.5);
    x->length = (long)(length * (double)x->rate + 0.5);
    if (x->length < x->fade_end) x->length = x->fade_end;

    ok = wav ? write_wav(x, wav) : play(x);
    if (wav && !ok) fprintf(stderr, "crossfade: writing %s failed\n", wav);
    bxm_close(x->first);
    bxm_close(x->second);
    free(x);
    return ok ? 0 : 1;
}
