// libFuzzer target: loads arbitrary bytes as a module, checks what playback relies on, frees it.
#include "music/load_result.h"
#include "music/module.h"
#include "music/stream.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

// The sequencer and the mixer index these records without bounds tests; a loaded Player that
// breaks one of these promises is as much a bug as a bad read.
void require(bool holds) {
    if (!holds) std::abort();
}

volatile uint8_t sink;

void touch(const void* block, size_t bytes) {
    if (bytes == 0) return;
    const auto* b = static_cast<const uint8_t*>(block);
    sink = b[0];
    sink = b[bytes - 1];
}

void checkEnvelope(uint8_t pointCount, uint8_t type, uint8_t sustain, uint8_t loopStart,
                   uint8_t loopEnd) {
    require(pointCount <= music::envelopePointsRead);
    if (pointCount < 2) require(type == 0);
    if (type & 0x02) require(sustain < pointCount);
    if (type & 0x04) require(loopStart < pointCount && loopEnd < pointCount);
}

void checkPlayer(const music::Player* p) {
    require(p->channelCount >= 1 && p->channelCount <= music::maxChannels);
    require(p->songLength >= 1 && p->songLength <= music::orderTableEntries);
    require(p->restartPosition >= 0 && p->restartPosition < p->songLength);
    require(p->tickHandler != nullptr);
    for (int32_t i = 0; i < p->songLength; ++i) require(p->orderTable[i] < p->patternRecordCount);
    for (int32_t i = 0; i < p->patternRecordCount; ++i) {
        const music::Pattern& pattern = p->patterns[i];
        require(pattern.rowCount >= 1 && pattern.cells != nullptr);
        touch(pattern.cells, sizeof(music::Cell) * pattern.rowCount * p->channelCount);
    }
    for (int32_t i = 0; i < p->instrumentCount; ++i) {
        const music::Instrument& ins = p->instruments[i];
        require(ins.sampleCount >= 0 && ins.sampleCount <= music::maxSamplesPerInstrument);
        checkEnvelope(ins.volumePointCount, ins.volumeType, ins.volumeSustain, ins.volumeLoopStart,
                      ins.volumeLoopEnd);
        checkEnvelope(ins.panningPointCount, ins.panningType, ins.panningSustain,
                      ins.panningLoopStart, ins.panningLoopEnd);
        for (int32_t s = 0; s < music::maxSamplesPerInstrument; ++s) {
            const music::Sample* smp = ins.samples[s];
            require(smp != nullptr);
            if (s >= ins.sampleCount) require(smp == &p->standIns.empty);
            require((smp->length == 0) == (smp->data == nullptr));
            if (smp->length == 0) continue;
            require(smp->bits == 16);
            require(smp->loopLength > 0);
            require(uint64_t{smp->loopStart} + smp->loopLength <= smp->length);
            const uint8_t mode = smp->loopMode;
            require(mode == music::LOOP_NONE || mode == music::LOOP_FORWARD ||
                    mode == music::LOOP_PINGPONG);
            if (mode == music::LOOP_NONE)
                require(smp->loopStart == 0 && smp->loopLength == smp->length);
            touch(smp->data, sizeof(int16_t) * (smp->length + music::sampleGuardValues));
            for (int32_t g = 1; g < music::sampleGuardValues; ++g)
                require(smp->data[smp->length + g] == 0);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > static_cast<size_t>(std::numeric_limits<int32_t>::max())) return 0;
    // A heap block of exactly the input's size, so that a read past its end is caught.
    auto* block = static_cast<uint8_t*>(std::malloc(size));
    if (block == nullptr && size != 0) return 0;
    if (size != 0) std::memcpy(block, data, size);

    const music::MemoryStream description{static_cast<int32_t>(size), 0, block};
    music::LoadResult result{};
    music::Player* player = music::createPlayerWithResult(&description, &result);
    // Every refusal has a reason, every load none, and the place named lies inside the file.
    require((player == nullptr) == (result.error != music::LoadError::None));
    require(result.offset >= 0 && result.offset <= static_cast<int64_t>(size));
    if (player != nullptr) checkPlayer(player);
    music::destroyPlayer(player);
    std::free(block);
    return 0;
}
