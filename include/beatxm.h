/* beatxm: plays XM (FastTracker 2 "Extended Module") music from memory into a PCM buffer.
 * Copyright (c) 2026 the beatdemo authors. MIT licence: see the LICENSE file that comes with it.
 *
 * A C interface (C99 and C++11 or later, and foreign-function layers): one opaque handle, plain
 * records, every public name starting with bxm_ or BXM_. Nothing here needs an audio device;
 * bxm_render_s16 and bxm_render_f32 fill the caller's buffer and the caller plays it.
 *
 *     bxm_options options = BXM_OPTIONS_INIT;  (or NULL below for every default)
 *     bxm_error error;
 *     bxm_player* player = bxm_open(bytes, size, &options, &error);
 *     if (!player) { fprintf(stderr, "%s at byte %lld\n", bxm_error_text(error.code),
 *                            (long long)error.offset); return 1; }
 *     int16_t frames[2 * 1024];
 *     int32_t n;
 *     while ((n = bxm_render_s16(player, frames, 1024)) > 0) write_somewhere(frames, n);
 *     bxm_close(player);
 *
 * Threads and instances. Every player holds all of its own playback state (voices, channels,
 * render buffers, output rate, profile, gain and the other controls), so any number of players
 * may be open at once and players on different threads render at the same time without any
 * lock, each at its own rate and profile, each giving exactly what it gives alone. Calls on one
 * player may come from any thread, one call at a time (the caller serialises them, for example
 * an audio callback that renders and a user interface thread that seeks take the same lock).
 * No call blocks or sleeps; bxm_render_* allocates nothing.
 *
 * Numbering: orders, patterns, rows, channels, instruments and samples are counted from 0 in
 * this interface (a tracker shows instruments from 1).
 */
#ifndef BEATXM_H
#define BEATXM_H

#include <stddef.h>
#include <stdint.h>

#define BXM_VERSION_MAJOR 2
#define BXM_VERSION_MINOR 0
#define BXM_VERSION_PATCH 0
#define BXM_VERSION_STRING "2.0.0"

#if defined(_WIN32) && defined(BXM_BUILDING_SHARED)
#define BXM_API __declspec(dllexport)
#elif defined(__GNUC__)
#define BXM_API __attribute__((visibility("default")))
#else
#define BXM_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef struct bxm_player bxm_player;

/* Replay profiles: which playback rules apply. */
enum {
    BXM_PROFILE_FT2 = 0, /* FastTracker 2's behaviour; the default of this interface */
    BXM_PROFILE_DEMO = 1 /* the rules of the demo this library comes from, bit for bit */
};

/* Output rates in frames per second. */
enum { BXM_RATE_DEFAULT = 44100, BXM_RATE_MIN = 8000, BXM_RATE_MAX = 192000 };

/* How long a song may run before the end rule gives up looking for its end, in seconds. */
enum { BXM_SONG_LIMIT_SECONDS = 20 * 60 };

/* Options of bxm_open. Start from BXM_OPTIONS_INIT (or zero-fill the record and set size):
 * every field after size is 0 by default and 0 means the default. size says which layout the
 * caller was built with, so that later versions can add fields at the end: a library reads only
 * the first size bytes and takes the defaults for fields it knows beyond them, and it refuses
 * (BXM_ERROR_ARGUMENT, with the reason) a size below 16, the first layout, or above 4096, and
 * nonzero bytes past the fields it knows, which would be options it cannot honour. */
typedef struct bxm_options {
    uint32_t size;       /* sizeof(bxm_options) */
    int32_t profile;     /* BXM_PROFILE_FT2 (0) or BXM_PROFILE_DEMO */
    int32_t sample_rate; /* BXM_RATE_MIN .. BXM_RATE_MAX; 0 means BXM_RATE_DEFAULT */
    int32_t play_count;  /* passes through the song before rendering ends (see the end rule at
                            bxm_get_position): 0 or 1 once, n > 1 n times, negative never ends */
} bxm_options;

/* The default options, sized: bxm_options options = BXM_OPTIONS_INIT; */
#define BXM_OPTIONS_INIT                                                                           \
    { sizeof(bxm_options), BXM_PROFILE_FT2, 0, 0 }

/* Why bxm_open failed. */
enum {
    BXM_OK = 0,
    BXM_ERROR_ARGUMENT = 1,  /* NULL data, or an option unknown or out of range (see reason) */
    BXM_ERROR_BUSY = 2,      /* no longer returned: kept so that old programs still build */
    BXM_ERROR_NO_MEMORY = 3, /* an allocation failed */
    BXM_ERROR_TOO_LARGE = 4, /* the module is 2 GiB or larger */
    BXM_ERROR_NOT_XM = 5,    /* the file does not start with "Extended Module: " */
    BXM_ERROR_TRUNCATED = 6, /* the file ends inside a header, a pattern or sample data */
    BXM_ERROR_BAD_VALUE = 7, /* a field beyond what the player holds (channels, song length) */
    BXM_ERROR_TOO_MANY_SAMPLES = 8, /* an instrument with more than 32 samples */
    BXM_ERROR_CANNOT_LOAD = 9,      /* the loader refused the module; the reason is not known */
    BXM_ERROR_EMPTY = 10            /* size 0: an empty file */
};

typedef struct bxm_error {
    int32_t code;    /* BXM_OK or one of BXM_ERROR_* */
    int64_t offset;  /* byte offset in the module where loading failed; -1 when not known */
    char reason[96]; /* the refusal in words, naming the part and the place ("pattern 3 cut
                        short at byte 4120", "41 channels at byte 68: 1 to 32") or the option
                        ("sample_rate 4000: 8000 to 192000, or 0 for 44100"); empty when the
                        code says all there is (busy, empty file, no memory) */
} bxm_error;

/* "2.0.0": the version of the library that is linked, which may differ from
 * BXM_VERSION_STRING of the header a program was built with. */
BXM_API const char* bxm_version(void);

/* One line of English for a BXM_* code ("not an XM module"); never NULL, also for unknown
 * codes. The text is static. */
BXM_API const char* bxm_error_text(int32_t code);

/* Loads a module from size bytes at data. The bytes are read during this call only and neither
 * copied nor kept: the caller may free them as soon as it returns. options may be NULL for the
 * defaults. Also works out the song's duration (see bxm_module_info) from one pass over the
 * song's rows that looks only at what moves the position and the tempo: a few milliseconds for
 * a typical song, and a bounded time for any file, also one that never ends.
 * Returns the player, or NULL with the reason in *error when error is not NULL; on success
 * *error is {BXM_OK, -1}. */
BXM_API bxm_player* bxm_open(const void* data, size_t size, const bxm_options* options,
                             bxm_error* error);

/* Frees the player and everything it holds; after it another player may be opened. NULL does
 * nothing. */
BXM_API void bxm_close(bxm_player* player);

/* Renders the next frames frames as interleaved stereo (left, right) into buffer, which holds
 * 2 * frames values. Returns the frames written: frames, fewer when the song ended within them
 * (the rest of buffer is untouched), 0 once it has ended, -1 for a NULL player or buffer or a
 * negative count. The song ends by the end rule (see bxm_position.ended) after play_count
 * passes. 16-bit samples are the ones the demo plays, rounded to nearest (ties to even) and
 * clipped; float samples are the same mix before rounding, scaled so that 1.0 is 16-bit full
 * scale, and are not clipped. Either call may follow the other. */
BXM_API int32_t bxm_render_s16(bxm_player* player, int16_t* buffer, int32_t frames);
BXM_API int32_t bxm_render_f32(bxm_player* player, float* buffer, int32_t frames);

/* What the module says about itself, as stored in the file. */
typedef struct bxm_module_info {
    char title[21];   /* the module name, trailing blanks dropped, NUL-terminated */
    char tracker[21]; /* the tracker that wrote it, likewise */
    int32_t version;  /* format version as stored, 0x0104 for most files */
    int32_t channels;
    int32_t orders;          /* song length: order-table entries in use */
    int32_t restart_order;   /* where the song goes on after its last order */
    int32_t patterns;        /* patterns the player holds: those stored plus any the orders name
                                beyond them (empty, 64 rows) */
    int32_t stored_patterns; /* patterns stored in the file */
    int32_t instruments;
    int32_t linear_frequencies; /* 1: linear frequency table, 0: Amiga periods */
    int32_t initial_tempo;      /* ticks per row as stored, 0..65535; playback starts at it held
                                   to 1..31, as FT2 loads it (bxm_position.tempo shows it) */
    int32_t initial_bpm;        /* as stored, 0..65535; playback starts at it held to 32..255 */
    int32_t sample_rate;        /* the rate the player renders at */
    /* Once through by the end rule, at this player's rate and profile: */
    int64_t duration_frames;
    int32_t duration_ms;      /* duration_frames in ms, rounded down */
    int32_t duration_limited; /* 1: no end within BXM_SONG_LIMIT_SECONDS; the duration is that */
} bxm_module_info;

/* Fills *info. Returns 0, or -1 for a NULL argument. */
BXM_API int32_t bxm_get_module_info(const bxm_player* player, bxm_module_info* info);

/* The order table entry for order (0 .. orders - 1), or -1 outside it. */
BXM_API int32_t bxm_get_order(const bxm_player* player, int32_t order);
/* Rows of pattern (0 .. patterns - 1), or -1 outside them. */
BXM_API int32_t bxm_get_pattern_rows(const bxm_player* player, int32_t pattern);

/* An envelope as stored: up to 12 points, its sustain and loop points and type bits. */
typedef struct bxm_envelope {
    int32_t point_count; /* as stored; only the first 12 points exist in the file */
    int32_t sustain_point;
    int32_t loop_start_point;
    int32_t loop_end_point;
    int32_t type;   /* bit 0 on, bit 1 sustain, bit 2 loop, as stored */
    uint16_t x[12]; /* tick */
    uint16_t y[12]; /* value, 0..64 */
} bxm_envelope;

typedef struct bxm_instrument_info {
    char name[23];            /* trailing blanks dropped, NUL-terminated */
    int32_t sample_count;     /* sample headers it states, 0..32; playback keeps the first 16 */
    uint8_t note_samples[96]; /* sample for each note 1..96 (index note - 1), as stored */
    bxm_envelope volume_envelope;
    bxm_envelope panning_envelope;
    int32_t vibrato_type, vibrato_sweep, vibrato_depth, vibrato_rate;
    int32_t fadeout; /* as stored */
} bxm_instrument_info;

/* Fills *info for instrument (0 .. instruments - 1) as the file stores it. Returns 0, or -1 for
 * a NULL argument or an index outside the module. A file that ends early gives zeros for what
 * it does not hold. */
BXM_API int32_t bxm_get_instrument_info(const bxm_player* player, int32_t instrument,
                                        bxm_instrument_info* info);

/* Loop types as stored in a sample's type byte. */
enum { BXM_LOOP_NONE = 0, BXM_LOOP_FORWARD = 1, BXM_LOOP_PINGPONG = 2 };

typedef struct bxm_sample_info {
    char name[23];     /* trailing blanks dropped, NUL-terminated */
    int32_t bits;      /* 8 or 16, as stored */
    int32_t loop_type; /* BXM_LOOP_*: bits 0 and 1 of the type byte; 3 is taken as ping-pong */
    int32_t type;      /* the type byte itself */
    /* Lengths as stored, in bytes, and in sample frames (bytes halved for 16-bit data): */
    uint32_t length_bytes, loop_start_bytes, loop_length_bytes;
    uint32_t length, loop_start, loop_length;
    int32_t volume;        /* 0..64 */
    int32_t finetune;      /* -128..127 */
    int32_t panning;       /* 0..255 */
    int32_t relative_note; /* semitones, -128..127 */
} bxm_sample_info;

/* Fills *info for sample (0 .. sample_count - 1) of instrument, as the file stores it. Returns 0,
 * or -1 for a NULL argument or an index outside the module. */
BXM_API int32_t bxm_get_sample_info(const bxm_player* player, int32_t instrument, int32_t sample,
                                    bxm_sample_info* info);

/* Where playback is. order, pattern, row, tempo and bpm are the sequencer's as of the last tick
 * rendered, which runs up to one chunk (20 ms) ahead of the frames handed out; frame and time_ms
 * count the frames handed out. */
typedef struct bxm_position {
    int32_t order;
    int32_t pattern;
    int32_t row;     /* 0 .. rows of pattern - 1. A pattern break (Dxx), or a pattern loop's
                        row carried on, to a row the next pattern lacks plays one empty row past
                        its end, as FT2 does; that row is reported as the pattern's last */
    int32_t tempo;   /* ticks per row now */
    int32_t bpm;     /* now */
    int32_t pass;    /* passes through the song completed so far */
    int32_t ended;   /* 1 once rendering has ended (see play_count) */
    int64_t frame;   /* frames rendered since bxm_open */
    int32_t time_ms; /* song time: where the frames rendered lie in the song's first pass,
                        that is the start time of the order last sought plus what was played
                        since; it starts over at each new pass */
} bxm_position;

/* Fills *position. Returns 0, or -1 for a NULL argument.
 * The end rule: a pass through the song ends when playback comes back to an order and row it
 * has already played in that pass (rows repeated by a pattern loop, E6x, do not count); the
 * next pass goes on from there. A song that never comes back has no end: rendering ends when
 * its position has not moved for 60 seconds, or when one pass has lasted
 * BXM_SONG_LIMIT_SECONDS, whatever the play count. */
BXM_API int32_t bxm_get_position(const bxm_player* player, bxm_position* position);

/* Continues playback at row 0 of order (0 .. orders - 1) from the next tick on; notes sounding
 * go on until the new rows replace them. The rows played so far are forgotten by the end rule,
 * and the pass under way ends where the song's first pass ends (at duration_ms, unless the song
 * has no end), so that playback from a seek ends with the song; time_ms jumps to the order's start
 * time in the song's first pass (or stays when that pass never reaches the order), and a song that
 * had ended plays again. Returns 0, or -1 for a NULL player or an order outside the song. Up to one
 * chunk of audio (20 ms) already rendered is still handed out from the old position. */
BXM_API int32_t bxm_seek_order(bxm_player* player, int32_t order);

/* Continues playback at time_ms of the song's first pass (0 .. duration_ms - 1, see
 * bxm_module_info), as bxm_seek_order does at an order: it seeks to the order that plays at that
 * time and then runs the sequencer and the mixer silently up to the time, so the frames that
 * follow are those the song plays there, to the frame, except that notes still sounding from
 * before that order's start are the ones of the old position (as after bxm_seek_order), not the
 * song's. The silent part costs at most the
 * rendering of one order. Returns 0, or -1 for a NULL player or a time outside the first pass;
 * for a song with no end (duration_limited) the first pass is the one duration_ms measures. */
BXM_API int32_t bxm_seek_ms(bxm_player* player, int32_t time_ms);

/* Listener controls of the open player. Each applies from the next chunk rendered (up to 20 ms
 * already rendered go out as they were) to both bxm_render_s16 and bxm_render_f32, lasts until
 * it is changed or the player is closed, and returns 0, or -1 for a NULL player or a value out
 * of range (which changes nothing). At their defaults the output is what it is without them, bit
 * for bit. */
enum { BXM_GAIN_MIN_MILLIBEL = -9600, BXM_GAIN_MAX_MILLIBEL = 2400 };
enum { BXM_SEPARATION_MAX_PERCENT = 200 };

/* Gain on the whole mix in millibels (1/100 dB): -9600 .. 2400, default 0. Louder than 0 can
 * clip the 16-bit output; the float output is not clipped. */
BXM_API int32_t bxm_set_gain(bxm_player* player, int32_t millibel);

/* Stereo separation in percent: 0 (mono) .. BXM_SEPARATION_MAX_PERCENT, default 100, the
 * module's panning as FT2 plays it. Works on the mix: what left and right share stays, what
 * differs between them is scaled by percent / 100. */
BXM_API int32_t bxm_set_stereo_separation(bxm_player* player, int32_t percent);

/* Mutes (muted 1) or unmutes (muted 0) channel (0 .. channels - 1); a muted channel adds
 * nothing to the mix, but plays on unheard, so that unmuting brings it back where the song is.
 * Any set of channels may be muted; none is at open. */
BXM_API int32_t bxm_set_channel_mute(bxm_player* player, int32_t channel, int32_t muted);
/* 1 when channel is muted, 0 when not, -1 for a NULL player or a channel outside the module. */
BXM_API int32_t bxm_get_channel_mute(const bxm_player* player, int32_t channel);

/* How the mixer reads between a sample's frames. */
enum {
    BXM_INTERPOLATION_LINEAR = 0, /* straight lines between frames: the default, what FT2 and the
                                     demo play */
    BXM_INTERPOLATION_NONE = 1,   /* each frame held until the next: the raw, gritty sound */
    BXM_INTERPOLATION_CUBIC = 2   /* a cubic (Catmull-Rom) spline through four frames: less
                                     aliasing on high notes; rendering costs more (see README) */
};
/* Sets the interpolation, BXM_INTERPOLATION_*, like the controls above. */
BXM_API int32_t bxm_set_interpolation(bxm_player* player, int32_t interpolation);

/* One channel as of the last tick rendered, for visualisers. Every field stays in its range
 * in both profiles, whatever the module holds. */
typedef struct bxm_channel_state {
    int32_t active;       /* 1 while the channel's voice plays a sample audibly */
    int32_t note;         /* last note played, 1..96 (C-0 is 1), 0 before the first */
    int32_t instrument;   /* 0-based instrument of that note, 0 .. instruments - 1; -1 before
                             the first note, or when the note named an instrument the module
                             lacks (it plays silence) */
    int32_t volume;       /* channel volume 0..64 (before envelopes and global volume); a
                             volume above 64, which only a sample's stored volume byte or the
                             demo profile's Cxx can set and which plays louder, reads 64 */
    int32_t level;        /* what the mixer plays at: 0..127 after envelope, fadeout and global
                             volume, 127 for anything louder */
    int32_t panning;      /* where it is heard: 0 left .. 255 right, after the panning envelope.
                             The demo profile sends the file's panning 255 to the left (the demo's
                             own rule), so there a channel the file pans to 0 reads 255 */
    int32_t frequency_hz; /* playback frequency of the sample; 0 when silent */
} bxm_channel_state;

/* Fills *state for channel (0 .. channels - 1). Returns 0, or -1 for a NULL argument or a
 * channel outside the module. */
BXM_API int32_t bxm_get_channel_state(const bxm_player* player, int32_t channel,
                                      bxm_channel_state* state);

#ifdef __cplusplus
}
#endif

#endif /* BEATXM_H */
