/* render_wav: renders an XM module once through to a 16-bit stereo WAV file with beatxm.
 *
 *     cc render_wav.c $(pkg-config --cflags --libs beatxm) -o render_wav
 *     ./render_wav song.xm song.wav [ft2|demo] [RATE]
 */
#include <beatxm.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static void put_le(unsigned char* p, unsigned long value, int bytes) {
    int i;
    for (i = 0; i < bytes; ++i) p[i] = (unsigned char)(value >> (8 * i));
}

static void wav_header(unsigned char h[44], unsigned long rate, unsigned long frames) {
    memcpy(h, "RIFF", 4);
    put_le(h + 4, 36 + frames * 4, 4);
    memcpy(h + 8, "WAVEfmt ", 8);
    put_le(h + 16, 16, 4);
    put_le(h + 20, 1, 2); /* PCM */
    put_le(h + 22, 2, 2);
    put_le(h + 24, rate, 4);
    put_le(h + 28, rate * 4, 4);
    put_le(h + 32, 4, 2);
    put_le(h + 34, 16, 2);
    memcpy(h + 36, "data", 4);
    put_le(h + 40, frames * 4, 4);
}

int main(int argc, char** argv) {
    bxm_options options = BXM_OPTIONS_INIT;
    bxm_error error;
    bxm_player* player;
    unsigned char header[44];
    int16_t frames[2 * 1024];
    unsigned char bytes[4 * 1024];
    unsigned long total = 0;
    long size;
    void* module;
    FILE* in;
    FILE* out;
    int32_t n, i;

    if (argc < 3) {
        fprintf(stderr, "usage: render_wav IN.xm OUT.wav [ft2|demo] [RATE]\n");
        return 2;
    }
    if (argc > 3 && strcmp(argv[3], "demo") == 0) options.profile = BXM_PROFILE_DEMO;
    if (argc > 4) options.sample_rate = (int32_t)atol(argv[4]);

    in = fopen(argv[1], "rb");
    if (!in || fseek(in, 0, SEEK_END) != 0 || (size = ftell(in)) <= 0 ||
        fseek(in, 0, SEEK_SET) != 0 || !(module = malloc((size_t)size)) ||
        fread(module, 1, (size_t)size, in) != (size_t)size) {
        fprintf(stderr, "render_wav: cannot read %s\n", argv[1]);
        return 2;
    }
    fclose(in);
    /* The bytes are decoded during bxm_open; they can go right after. */
    player = bxm_open(module, (size_t)size, &options, &error);
    free(module);
    if (!player) {
        fprintf(stderr, "render_wav: cannot load %s: %s\n", argv[1], bxm_error_text(error.code));
        return 2;
    }

    out = fopen(argv[2], "wb");
    if (!out) {
        fprintf(stderr, "render_wav: cannot write %s\n", argv[2]);
        bxm_close(player);
        return 1;
    }
    fwrite(header, 1, sizeof header, out); /* rewritten once the length is known */
    while ((n = bxm_render_s16(player, frames, 1024)) > 0) {
        for (i = 0; i < 2 * n; ++i) put_le(bytes + 2 * i, (unsigned long)(uint16_t)frames[i], 2);
        fwrite(bytes, 4, (size_t)n, out);
        total += (unsigned long)n;
    }
    {
        bxm_module_info info;
        bxm_get_module_info(player, &info);
        wav_header(header, (unsigned long)info.sample_rate, total);
    }
    bxm_close(player);
    if (fseek(out, 0, SEEK_SET) != 0 || fwrite(header, 1, sizeof header, out) != sizeof header ||
        fclose(out) != 0) {
        fprintf(stderr, "render_wav: writing %s failed\n", argv[2]);
        return 1;
    }
    return 0;
}
