// The public C interface: a thin layer over the loader (and the facts it keeps as the file states
// them) and the offline renderer, plus the song-end rule the tools have always used.
#include "beatxm.h"

#include "music/audio_output.h"
#include "music/channel.h"
#include "music/format.h"
#include "music/load_result.h"
#include "music/mixer.h"
#include "music/module.h"
#include "music/offline_render.h"
#include "music/profile.h"
#include "music/sequencer.h"
#include "music/song_timing.h"
#include "music/stream.h"
#include "music/xm_format.h"

#include <atomic>
#include <cinttypes>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

using music::Player;

constexpr int32_t positionsPerOrder = 256; // rows the end rule tracks per order
constexpr int32_t trackedOrders = 256;
// A row never lasts this long (31 ticks, 15 pattern delays, BPM 32 is about 39 s), so a position
// that stays put for longer has stopped for good.
constexpr int64_t stuckSeconds = 60;
constexpr int32_t renderPieceFrames = 4096;
constexpr int32_t maxReportedVolume = 64;
constexpr int32_t maxReportedLevel = 127;
constexpr double millibelsPerDecade = 2000.0; // 20 dB per tenfold amplitude
constexpr float percentPerUnit = 100.0f;
constexpr int32_t silentPieceFrames = 1024;

// The end rule, watching every tick. Ticks follow each other without gaps from frame 0, so the
// frame each tick starts at is the sum of the lengths before it.
struct SongWatch {
    music::TickHandler sequencerTick;
    int64_t tickStartFrame;
    int64_t nextTickFrame;
    int64_t lastMoveFrame;
    int64_t stuckFrames;
    int64_t passLimitFrames; // BXM_SONG_LIMIT_SECONDS of frames
    int64_t limitFrames;     // where the pass under way reaches that limit
    int32_t lastOrder;
    int32_t lastRow;
    int32_t passes;    // passes completed
    int32_t playCount; // passes wanted; <= 0 endless
    bool ended;
    int64_t endFrame;
    int64_t* recordOrderStart;      // while measuring: first frame of each order, -1 before
    const int64_t* orderStartFrame; // what measuring found, for the song time of a new pass
    // The song time line: render frame anchorFrame lies at anchorSongFrame of the first pass.
    int64_t anchorFrame;
    int64_t anchorSongFrame;
    // After a seek the rows before it are not known as played, so the pass ends where the song's
    // first pass ends instead: at this song frame (0 while measuring or for a song without end).
    bool sought;
    int64_t songEndFrame;
    int32_t measuredChannels; // the channels of the timing copy being measured
    uint8_t visited[trackedOrders * positionsPerOrder];
};

} // namespace

struct bxm_player {
    Player* player;
    int32_t profile;
    int32_t rate;
    int64_t durationFrames;
    bool durationLimited;
    int64_t framesOut; // frames handed to the caller since open
    int64_t orderStartFrame[trackedOrders];
    SongWatch watch;
    float silentScratch[silentPieceFrames * 2]; // where a seek's skipped frames are mixed
};

namespace {

// The player whose ticks the watch sees, from the Player the tick handler is given.
bxm_player* watcherOf(const Player* player) {
    return static_cast<bxm_player*>(player->tickContext);
}

void forgetVisited(SongWatch& w) {
    std::memset(w.visited, 0, sizeof w.visited);
    w.lastOrder = -1;
    w.lastRow = -1;
}

// From frame on, the song time runs from the start of order in the first pass (rows are taken
// to start at their order's start; a new pass or a seek starts at row 0 in nearly every song).
void moveAnchor(SongWatch& w, int32_t order, int64_t frame) {
    if (w.orderStartFrame == nullptr || order < 0 || order >= trackedOrders ||
        w.orderStartFrame[order] < 0) {
        return;
    }
    w.anchorFrame = frame;
    w.anchorSongFrame = w.orderStartFrame[order];
}

// The end of a pass: the song came back to a row it has played, or stopped moving.
void passEnded(SongWatch& w, const Player* player, bool stuck) {
    ++w.passes;
    // An endless render goes on even where the song has stopped moving.
    if (w.playCount > 0 && (stuck || w.passes >= w.playCount)) {
        w.ended = true;
        w.endFrame = w.tickStartFrame;
        return;
    }
    forgetVisited(w);
    w.lastOrder = player->order;
    w.lastRow = player->row;
    w.lastMoveFrame = w.tickStartFrame;
    w.limitFrames = w.tickStartFrame + w.passLimitFrames;
    w.visited[static_cast<size_t>(player->order) * positionsPerOrder + player->row] = 1;
    moveAnchor(w, player->order, w.tickStartFrame);
}

void observingTick(Player* player) {
    SongWatch& w = watcherOf(player)->watch;
    w.tickStartFrame = w.nextTickFrame;
    // The last pass of a loop ends it on the loop's last row, during this very tick: what counts
    // is whether the loop was running when the row came up.
    const bool loopWasRunning = music::patternLoopRunning(player);
    w.sequencerTick(player);
    // The renderer takes a tick of less than one frame as one frame.
    w.nextTickFrame += player->samplesPerTick > 0 ? player->samplesPerTick : 1;
    if (w.ended) return;
    if (w.playCount > 0 && player->tempo == 0 && music::profileOf(player).speedZeroEndsSong) {
        // The F00 tick itself is still heard.
        w.ended = true;
        w.endFrame = w.nextTickFrame;
        return;
    }
    if (w.playCount > 0 && w.tickStartFrame >= w.limitFrames) {
        w.ended = true;
        w.endFrame = w.limitFrames;
        return;
    }
    if (w.sought && w.songEndFrame > 0 &&
        w.anchorSongFrame + (w.tickStartFrame - w.anchorFrame) >= w.songEndFrame) {
        w.sought = false;
        passEnded(w, player, false);
        return;
    }

    const int32_t order = player->order;
    const int32_t row = player->row;
    if (order == w.lastOrder && row == w.lastRow) {
        if (w.tickStartFrame - w.lastMoveFrame >= w.stuckFrames) passEnded(w, player, true);
        return;
    }
    w.lastOrder = order;
    w.lastRow = row;
    w.lastMoveFrame = w.tickStartFrame;
    if (order < 0 || order >= trackedOrders || row < 0 || row >= positionsPerOrder) return;
    if (w.recordOrderStart != nullptr && w.recordOrderStart[order] < 0)
        w.recordOrderStart[order] = w.tickStartFrame;
    uint8_t& seen = w.visited[static_cast<size_t>(order) * positionsPerOrder + row];
    // Rows repeated by a pattern loop are part of the song, not its end.
    if (seen != 0 && !loopWasRunning && !music::patternLoopRunning(player)) {
        passEnded(w, player, false);
        return;
    }
    seen = 1;
}

void startWatch(bxm_player* p, int32_t playCount, int64_t* recordOrderStart) {
    SongWatch& w = p->watch;
    const music::TickHandler tick = w.sequencerTick;
    std::memset(&w, 0, sizeof w);
    w.sequencerTick = tick;
    w.stuckFrames = stuckSeconds * p->rate;
    w.passLimitFrames = int64_t{BXM_SONG_LIMIT_SECONDS} * p->rate;
    w.limitFrames = w.passLimitFrames;
    w.playCount = playCount;
    w.recordOrderStart = recordOrderStart;
    w.orderStartFrame = recordOrderStart != nullptr ? nullptr : p->orderStartFrame;
    w.songEndFrame = recordOrderStart == nullptr && !p->durationLimited ? p->durationFrames : 0;
    forgetVisited(w);
}

// The copy's cells act on row ticks only, so the other ticks run with no channel at all: what is
// left of them is the sequencer's own count of ticks, rows and tick lengths.
void measuringTick(Player* copy) {
    const int32_t measuredChannels = watcherOf(copy)->watch.measuredChannels;
    copy->channelCount = static_cast<int16_t>(copy->tick == 0 ? measuredChannels : 0);
    observingTick(copy);
    copy->channelCount = static_cast<int16_t>(measuredChannels);
}

// One pass of ticks without mixing: the frames a pass lasts and where each order starts. The
// sequence of ticks and their lengths depends only on the cells that move the position or set
// the tempo, so the sequencer runs over a copy of the song that holds nothing else: its cost
// follows the rows and the channels that carry such cells, not the notes.
bool measureSong(bxm_player* p) {
    music::TimingCopy copy{};
    if (!music::makeTimingCopy(p->player, &copy)) return false;
    Player* song = &copy.player;
    song->tickHandler = measuringTick;
    song->tickContext = p;
    for (int64_t& f : p->orderStartFrame) f = -1;
    startWatch(p, 1, p->orderStartFrame);
    p->watch.measuredChannels = copy.channels;
    const bool started = music::resetPlayback(song, 1);
    while (started && !p->watch.ended) song->tickHandler(song);
    music::releasePlayback(song->output);
    music::freeTimingCopy(&copy);
    if (!started) return false;
    p->durationFrames = p->watch.endFrame;
    p->durationLimited = p->watch.endFrame >= p->watch.limitFrames;
    return true;
}

// The loader's refusal as the public code, offset and words. Every reason maps to one code;
// the words name the part and the place ("pattern 3 cut short at byte 4120").
int32_t publicCode(music::LoadError error) {
    using music::LoadError;
    switch (error) {
    case LoadError::None: return BXM_OK;
    case LoadError::NoStream: return BXM_ERROR_CANNOT_LOAD;
    case LoadError::OutOfMemory: return BXM_ERROR_NO_MEMORY;
    case LoadError::NotAnXmModule: return BXM_ERROR_NOT_XM;
    case LoadError::HeaderCutShort:
    case LoadError::OrdersCutShort:
    case LoadError::PatternCutShort:
    case LoadError::InstrumentCutShort:
    case LoadError::SampleHeaderCutShort:
    case LoadError::SampleDataMissing: return BXM_ERROR_TRUNCATED;
    case LoadError::TooManySamples: return BXM_ERROR_TOO_MANY_SAMPLES;
    case LoadError::SongLength:
    case LoadError::ChannelCount:
    case LoadError::PatternCount:
    case LoadError::InstrumentCount:
    case LoadError::HeaderSize:
    case LoadError::PatternRows:
    case LoadError::SampleTooLong: return BXM_ERROR_BAD_VALUE;
    }
    return BXM_ERROR_CANNOT_LOAD;
}

bxm_error loadFailure(const music::Player* loaded, const music::LoadResult& result) {
    bxm_error verdict{};
    verdict.code = BXM_OK;
    verdict.offset = -1;
    if (loaded != nullptr) return verdict;
    verdict.code = publicCode(result.error);
    if (verdict.code == BXM_OK) verdict.code = BXM_ERROR_CANNOT_LOAD;
    verdict.offset = result.error == music::LoadError::None ? -1 : result.offset;
    if (result.error != music::LoadError::None)
        music::loadErrorText(result, verdict.reason, static_cast<int32_t>(sizeof verdict.reason));
    return verdict;
}

bxm_player* fail(bxm_error* error, int32_t code, int64_t offset) {
    if (error != nullptr) {
        *error = bxm_error{};
        error->code = code;
        error->offset = offset;
    }
    return nullptr;
}

// The options as this library reads them: the caller's record up to its stated size, defaults
// for anything past it. Nonzero bytes past the fields known here are options of a later version
// that this one cannot honour, so they are refused rather than ignored.
constexpr uint32_t firstOptionsBytes = 16; // size, profile, sample_rate, play_count
constexpr uint32_t largestOptionsBytes = 4096;
static_assert(sizeof(bxm_options) == firstOptionsBytes, "new options go after play_count");

bool readOptions(const bxm_options* given, bxm_options* o, char* reason, size_t reasonBytes) {
    *o = bxm_options{};
    o->size = sizeof(bxm_options);
    if (given == nullptr) return true;
    const uint32_t size = given->size;
    if (size < firstOptionsBytes || size > largestOptionsBytes) {
        std::snprintf(reason, reasonBytes,
                      "options size %" PRIu32 ": set it to sizeof(bxm_options), %u in %s", size,
                      static_cast<unsigned>(sizeof(bxm_options)), BXM_VERSION_STRING);
        return false;
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(given);
    for (uint32_t i = sizeof(bxm_options); i < size; ++i) {
        if (bytes[i] != 0) {
            std::snprintf(reason, reasonBytes,
                          "options byte %" PRIu32 " is set: beatxm %s knows options up to byte %u",
                          i, BXM_VERSION_STRING, static_cast<unsigned>(sizeof(bxm_options)));
            return false;
        }
    }
    std::memcpy(o, given, size < sizeof(bxm_options) ? size : sizeof(bxm_options));
    if (o->profile != BXM_PROFILE_FT2 && o->profile != BXM_PROFILE_DEMO) {
        std::snprintf(reason, reasonBytes, "profile %" PRId32 ": 0 (ft2) or 1 (demo)", o->profile);
        return false;
    }
    if (o->sample_rate != 0 && (o->sample_rate < BXM_RATE_MIN || o->sample_rate > BXM_RATE_MAX)) {
        std::snprintf(reason, reasonBytes, "sample_rate %" PRId32 ": %d to %d, or 0 for %d",
                      o->sample_rate, BXM_RATE_MIN, BXM_RATE_MAX, BXM_RATE_DEFAULT);
        return false;
    }
    return true;
}

// The facts' names are NUL-terminated in buffers of the same size as the public ones.
template <size_t N> void copyName(char (&to)[N], const char (&from)[N]) {
    std::memcpy(to, from, N);
    to[N - 1] = 0;
}

void fillEnvelope(const music::StoredEnvelope& from, bxm_envelope* to) {
    to->point_count = from.pointCount;
    to->sustain_point = from.sustain;
    to->loop_start_point = from.loopStart;
    to->loop_end_point = from.loopEnd;
    to->type = from.type;
    for (int32_t i = 0; i < music::storedEnvelopePoints; ++i) {
        to->x[i] = from.x[i];
        to->y[i] = from.y[i];
    }
}

template <typename Sample>
int32_t renderFrames(bxm_player* p, Sample* buffer, int32_t frames,
                     int32_t (*render)(Player*, Sample*, int32_t)) {
    if (p == nullptr || buffer == nullptr || frames < 0) return -1;
    int32_t written = 0;
    while (written < frames) {
        if (p->watch.ended && p->framesOut >= p->watch.endFrame) break;
        int32_t n = frames - written;
        if (n > renderPieceFrames) n = renderPieceFrames;
        if (render(p->player, buffer + static_cast<size_t>(written) * 2, n) != n) break;
        if (p->watch.ended) {
            const int64_t keep = p->watch.endFrame - p->framesOut;
            if (keep < n) n = static_cast<int32_t>(keep < 0 ? 0 : keep);
        }
        p->framesOut += n;
        written += n;
    }
    return written;
}

// Runs the sequencer and the mixer over frames frames without handing anything out, from a tick
// start on; the tick under way at the end is left with its remaining frames, as the renderer
// leaves a tick at the end of a chunk. The rows passed count as played for the end rule.
// Returns the frames the tick under way has left.
int32_t playSilently(bxm_player* player, int64_t frames) {
    float* scratch = player->silentScratch;
    Player* p = player->player;
    SongWatch& w = player->watch;
    int32_t left = 0;
    while (frames > 0) {
        if (left <= 0) {
            w.sequencerTick(p);
            left = p->samplesPerTick > 0 ? p->samplesPerTick : 1;
            const int32_t order = p->order;
            const int32_t row = p->row;
            if (order >= 0 && order < trackedOrders && row >= 0 && row < positionsPerOrder) {
                w.visited[static_cast<size_t>(order) * positionsPerOrder + row] = 1;
                w.lastOrder = order;
                w.lastRow = row;
            }
        }
        int32_t n = left < silentPieceFrames ? left : silentPieceFrames;
        if (n > frames) n = static_cast<int32_t>(frames);
        std::memset(scratch, 0, sizeof(float) * 2 * static_cast<size_t>(n));
        music::mixVoices(p->mixer, scratch, n);
        frames -= n;
        left -= n;
    }
    return left;
}

} // namespace

extern "C" {

const char* bxm_version(void) {
    return BXM_VERSION_STRING;
}

const char* bxm_error_text(int32_t code) {
    switch (code) {
    case BXM_OK: return "no error";
    case BXM_ERROR_ARGUMENT: return "invalid argument";
    case BXM_ERROR_BUSY: return "busy (no longer returned)";
    case BXM_ERROR_NO_MEMORY: return "out of memory";
    case BXM_ERROR_TOO_LARGE: return "file too large";
    case BXM_ERROR_NOT_XM: return "not an XM module";
    case BXM_ERROR_TRUNCATED: return "file ends early";
    case BXM_ERROR_BAD_VALUE: return "value out of range";
    case BXM_ERROR_TOO_MANY_SAMPLES: return "instrument with more than 32 samples";
    case BXM_ERROR_CANNOT_LOAD: return "not a loadable XM module";
    case BXM_ERROR_EMPTY: return "empty file";
    default: return "unknown error";
    }
}

bxm_player* bxm_open(const void* data, size_t size, const bxm_options* options, bxm_error* error) {
    bxm_options o{};
    char reason[sizeof bxm_error{}.reason] = {};
    if (!readOptions(options, &o, reason, sizeof reason)) {
        fail(error, BXM_ERROR_ARGUMENT, -1);
        if (error != nullptr) std::memcpy(error->reason, reason, sizeof reason);
        return nullptr;
    }
    if (o.sample_rate == 0) o.sample_rate = BXM_RATE_DEFAULT;
    if (data == nullptr) {
        fail(error, BXM_ERROR_ARGUMENT, -1);
        if (error != nullptr) std::snprintf(error->reason, sizeof error->reason, "data is NULL");
        return nullptr;
    }
    if (size == 0) return fail(error, BXM_ERROR_EMPTY, 0);
    if (size > static_cast<size_t>(std::numeric_limits<int32_t>::max()))
        return fail(error, BXM_ERROR_TOO_LARGE, -1);

    bxm_player* p = static_cast<bxm_player*>(std::calloc(1, sizeof(bxm_player)));
    if (p == nullptr) return fail(error, BXM_ERROR_NO_MEMORY, -1);
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    const music::MemoryStream description{static_cast<int32_t>(size), 0, bytes};
    music::LoadResult loadResult{};
    p->player = music::createPlayerWithResult(&description, &loadResult);
    const bxm_error verdict = loadFailure(p->player, loadResult);
    if (verdict.code != BXM_OK) {
        std::free(p);
        if (error != nullptr) *error = verdict;
        return nullptr;
    }
    p->profile = o.profile;
    p->rate = o.sample_rate;
    music::setReplayProfile(p->player, o.profile == BXM_PROFILE_DEMO ? music::ProfileId::Demo
                                                                     : music::ProfileId::Ft2);
    music::setSampleRate(p->player, p->rate);
    p->watch.sequencerTick = p->player->tickHandler;
    p->player->tickHandler = observingTick;
    p->player->tickContext = p;
    if (!measureSong(p)) {
        bxm_close(p);
        return fail(error, BXM_ERROR_NO_MEMORY, -1);
    }
    startWatch(p, o.play_count == 0 ? 1 : o.play_count, nullptr);
    if (!music::offlineBegin(p->player)) {
        bxm_close(p);
        return fail(error, BXM_ERROR_NO_MEMORY, -1);
    }
    if (error != nullptr) {
        *error = bxm_error{};
        error->code = BXM_OK;
        error->offset = -1;
    }
    return p;
}

void bxm_close(bxm_player* player) {
    if (player == nullptr) return;
    music::offlineEnd(player->player);
    music::destroyPlayer(player->player);
    std::free(player);
}

int32_t bxm_render_s16(bxm_player* player, int16_t* buffer, int32_t frames) {
    return renderFrames(player, buffer, frames, music::offlineRender);
}

int32_t bxm_render_f32(bxm_player* player, float* buffer, int32_t frames) {
    return renderFrames(player, buffer, frames, music::offlineRenderFloat);
}

int32_t bxm_get_module_info(const bxm_player* player, bxm_module_info* info) {
    if (player == nullptr || info == nullptr) return -1;
    const Player* p = player->player;
    *info = bxm_module_info{};
    const music::StoredModule& stored = p->stored;
    copyName(info->title, stored.title);
    copyName(info->tracker, stored.tracker);
    info->version = stored.version;
    info->channels = p->channelCount;
    info->orders = p->songLength;
    info->restart_order = p->restartPosition;
    info->patterns = p->patternRecordCount;
    info->stored_patterns = stored.storedPatterns;
    info->instruments = p->instrumentCount;
    info->linear_frequencies = (p->flags & music::xm::flagLinearFrequencies) != 0 ? 1 : 0;
    info->initial_tempo = stored.tempo;
    info->initial_bpm = stored.bpm;
    info->sample_rate = player->rate;
    info->duration_frames = player->durationFrames;
    info->duration_ms = static_cast<int32_t>(player->durationFrames * 1000 / player->rate);
    info->duration_limited = player->durationLimited ? 1 : 0;
    return 0;
}

int32_t bxm_get_order(const bxm_player* player, int32_t order) {
    if (player == nullptr || order < 0 || order >= player->player->songLength) return -1;
    return player->player->orderTable[order];
}

int32_t bxm_get_pattern_rows(const bxm_player* player, int32_t pattern) {
    if (player == nullptr || pattern < 0 || pattern >= player->player->patternRecordCount)
        return -1;
    return player->player->patterns[pattern].rowCount;
}

int32_t bxm_get_instrument_info(const bxm_player* player, int32_t instrument,
                                bxm_instrument_info* info) {
    if (player == nullptr || info == nullptr || instrument < 0 ||
        instrument >= player->player->instrumentCount ||
        player->player->stored.instruments == nullptr ||
        instrument >= player->player->stored.instrumentCount) {
        return -1;
    }
    const music::StoredInstrument& s = player->player->stored.instruments[instrument];
    *info = bxm_instrument_info{};
    copyName(info->name, s.name);
    info->sample_count = s.sampleCount;
    std::memcpy(info->note_samples, s.noteSamples, sizeof info->note_samples);
    fillEnvelope(s.volume, &info->volume_envelope);
    fillEnvelope(s.panning, &info->panning_envelope);
    info->vibrato_type = s.vibratoType;
    info->vibrato_sweep = s.vibratoSweep;
    info->vibrato_depth = s.vibratoDepth;
    info->vibrato_rate = s.vibratoRate;
    info->fadeout = s.fadeout;
    return 0;
}

int32_t bxm_get_sample_info(const bxm_player* player, int32_t instrument, int32_t sample,
                            bxm_sample_info* info) {
    bxm_instrument_info unused;
    if (bxm_get_instrument_info(player, instrument, &unused) != 0 || info == nullptr ||
        sample < 0 || sample >= unused.sample_count) {
        return -1;
    }
    const music::StoredSample& s = player->player->stored.instruments[instrument].samples[sample];
    *info = bxm_sample_info{};
    copyName(info->name, s.name);
    info->type = s.type;
    info->bits = (s.type & music::xm::sample16Bit) != 0 ? 16 : 8;
    const int32_t loopBits = s.type & music::xm::sampleLoopBits;
    info->loop_type = loopBits == 0                              ? BXM_LOOP_NONE
                      : loopBits == music::xm::sampleLoopForward ? BXM_LOOP_FORWARD
                                                                 : BXM_LOOP_PINGPONG;
    info->length_bytes = s.lengthBytes;
    info->loop_start_bytes = s.loopStartBytes;
    info->loop_length_bytes = s.loopLengthBytes;
    const uint32_t shift = info->bits == 16 ? 1 : 0;
    info->length = s.lengthBytes >> shift;
    info->loop_start = s.loopStartBytes >> shift;
    info->loop_length = s.loopLengthBytes >> shift;
    info->volume = s.volume;
    info->finetune = s.finetune;
    info->panning = s.panning;
    info->relative_note = s.relativeNote;
    return 0;
}

int32_t bxm_get_position(const bxm_player* player, bxm_position* position) {
    if (player == nullptr || position == nullptr) return -1;
    const Player* p = player->player;
    *position = bxm_position{};
    position->order = p->order;
    position->pattern =
        p->order >= 0 && p->order < music::orderTableEntries ? p->orderTable[p->order] : 0;
    // FT2 plays one empty row past the end of a pattern that a break or a loop sent it beyond.
    const int32_t rows = bxm_get_pattern_rows(player, position->pattern);
    position->row = rows > 0 && p->row >= rows ? rows - 1 : p->row;
    position->tempo = p->tempo;
    position->bpm = p->bpm;
    position->pass = player->watch.passes;
    position->ended = player->watch.ended && player->framesOut >= player->watch.endFrame;
    position->frame = player->framesOut;
    const SongWatch& w = player->watch;
    int64_t songFrame = w.anchorSongFrame + (player->framesOut - w.anchorFrame);
    if (songFrame < 0) songFrame = 0;
    position->time_ms = static_cast<int32_t>(songFrame * 1000 / player->rate);
    return 0;
}

int32_t bxm_seek_order(bxm_player* player, int32_t order) {
    if (player == nullptr || order < 0 || order >= player->player->songLength) return -1;
    Player* p = player->player;
    music::seekOrder(p, order);

    SongWatch& w = player->watch;
    const int32_t passes = w.passes;
    const int64_t anchorFrame = w.anchorFrame;
    const int64_t anchorSongFrame = w.anchorSongFrame;
    startWatch(player, w.playCount, nullptr);
    w.passes = passes;
    w.anchorFrame = anchorFrame;
    w.anchorSongFrame = anchorSongFrame;
    w.sought = order < trackedOrders && player->orderStartFrame[order] >= 0;
    // The next tick comes at the start of the next chunk.
    const int64_t nextChunkFrame =
        music::offlineChunksRendered(p) * static_cast<int64_t>(p->output.chunkFrames);
    w.tickStartFrame = nextChunkFrame;
    w.nextTickFrame = nextChunkFrame;
    w.lastMoveFrame = nextChunkFrame;
    w.limitFrames += nextChunkFrame;
    moveAnchor(w, order, nextChunkFrame);
    return 0;
}

int32_t bxm_seek_ms(bxm_player* player, int32_t time_ms) {
    if (player == nullptr || time_ms < 0) return -1;
    const int64_t target = static_cast<int64_t>(time_ms) * player->rate / 1000;
    if (target >= player->durationFrames) return -1;
    // The order that plays at the time in the first pass starts last at or before it.
    int32_t order = -1;
    for (int32_t o = 0; o < player->player->songLength && o < trackedOrders; ++o) {
        const int64_t start = player->orderStartFrame[o];
        if (start >= 0 && start <= target &&
            (order < 0 || start > player->orderStartFrame[order])) {
            order = o;
        }
    }
    if (order < 0 || bxm_seek_order(player, order) != 0) return -1;
    const int64_t skipped = target - player->orderStartFrame[order];
    const int32_t tickLeft = playSilently(player, skipped);
    Player* p = player->player;
    p->tickSamplesLeft = tickLeft;
    SongWatch& w = player->watch;
    w.nextTickFrame += tickLeft;
    w.anchorSongFrame = target;
    return 0;
}

int32_t bxm_set_gain(bxm_player* player, int32_t millibel) {
    if (player == nullptr || millibel < BXM_GAIN_MIN_MILLIBEL || millibel > BXM_GAIN_MAX_MILLIBEL)
        return -1;
    music::MixControls c = music::mixControls(player->player);
    c.gain = static_cast<float>(std::pow(10.0, millibel / millibelsPerDecade));
    music::setMixControls(player->player, c);
    return 0;
}

int32_t bxm_set_stereo_separation(bxm_player* player, int32_t percentage) {
    if (player == nullptr || percentage < 0 || percentage > BXM_SEPARATION_MAX_PERCENT) return -1;
    music::MixControls c = music::mixControls(player->player);
    c.separation = static_cast<float>(percentage) / percentPerUnit;
    music::setMixControls(player->player, c);
    return 0;
}

int32_t bxm_set_interpolation(bxm_player* player, int32_t interpolation) {
    if (player == nullptr) return -1;
    switch (interpolation) {
    case BXM_INTERPOLATION_LINEAR:
        music::setInterpolation(player->player->mixer, music::Interpolation::Linear);
        break;
    case BXM_INTERPOLATION_NONE:
        music::setInterpolation(player->player->mixer, music::Interpolation::None);
        break;
    case BXM_INTERPOLATION_CUBIC:
        music::setInterpolation(player->player->mixer, music::Interpolation::Cubic);
        break;
    default: return -1;
    }
    return 0;
}

int32_t bxm_set_channel_mute(bxm_player* player, int32_t channel, int32_t muted) {
    if (player == nullptr || channel < 0 || channel >= player->player->channelCount ||
        channel >= music::channelTableSize || (muted != 0 && muted != 1)) {
        return -1;
    }
    const uint32_t bit = uint32_t{1} << channel;
    music::Mixer& mixer = player->player->mixer;
    const uint32_t bits = music::mutedChannels(mixer);
    music::setMutedChannels(mixer, muted != 0 ? bits | bit : bits & ~bit);
    return 0;
}

int32_t bxm_get_channel_mute(const bxm_player* player, int32_t channel) {
    if (player == nullptr || channel < 0 || channel >= player->player->channelCount ||
        channel >= music::channelTableSize) {
        return -1;
    }
    return (music::mutedChannels(player->player->mixer) >> channel & 1) != 0 ? 1 : 0;
}

int32_t bxm_get_channel_state(const bxm_player* player, int32_t channel, bxm_channel_state* state) {
    if (player == nullptr || state == nullptr || channel < 0 ||
        channel >= player->player->channelCount || channel >= music::channelTableSize) {
        return -1;
    }
    const Player* p = player->player;
    const music::Channel& c = p->channels[channel];
    *state = bxm_channel_state{};
    state->note = c.notePeriod != 0 ? c.note + 1 : 0;
    state->instrument = state->note != 0 && c.instrument < p->instrumentCount ? c.instrument : -1;
    state->volume = c.volume < 0 ? 0 : c.volume > maxReportedVolume ? maxReportedVolume : c.volume;
    const music::Voice* v = c.voice;
    if (v != nullptr) {
        state->active = v->sample != nullptr && (v->leftTarget != 0 || v->rightTarget != 0);
        // Profiles with fine levels keep 8 more fractional bits.
        const int32_t level = v->fineLevels != 0 ? v->voiceVolume >> 8 : v->voiceVolume;
        state->level = level < 0 ? 0 : level > maxReportedLevel ? maxReportedLevel : level;
        // The demo's rules send the voice's panning 255 to the left; the snapshot says where the
        // channel is heard.
        const bool mirrored =
            !music::profileOf(p).squareRootPanning && !music::profileOf(p).panningZeroIsLeft;
        state->panning = mirrored ? 255 - v->voicePanning : v->voicePanning;
        state->frequency_hz = state->active ? v->frequency : 0;
    }
    return 0;
}

} // extern "C"
