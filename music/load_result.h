// Why the loader refused a module and where it stopped; the tools put it into words.
#pragma once

#include <cstdint>

namespace music {

// The player itself has no messages: a refusal is one of these codes with the numbers that
// explain it. Which of the LoadResult fields a code uses is said beside it.
enum class LoadError : uint8_t {
    None = 0,
    NoStream,             // the stream table is incomplete or the stream cannot be opened
    OutOfMemory,          // value: the bytes asked for
    NotAnXmModule,        // the first 17 bytes are not "Extended Module: "
    HeaderCutShort,       // the file ends inside the header fields
    SongLength,           // value: the song length, which must be 1..256
    OrdersCutShort,       // value: the song length, more order entries than the file holds
    ChannelCount,         // value: the channel count, which must be 1..32
    PatternCount,         // value: the stored pattern count, at most 256
    InstrumentCount,      // value: the instrument count, at most 255
    HeaderSize,           // value: where the header size puts the first pattern, past the end
    PatternRows,          // item: pattern; value: its row count, at most 1024
    PatternCutShort,      // item: pattern
    InstrumentCutShort,   // item: instrument
    TooManySamples,       // item: instrument; value: its sample count, at most 32
    SampleHeaderCutShort, // item: instrument; sample: the sample header that is cut
    SampleDataMissing,    // item, sample; value: bytes of data past the end, far more than a cut
    SampleTooLong,        // item, sample; value: the length in frames, too long to allocate
};

struct LoadResult {
    LoadError error;
    int32_t item;   // 0-based pattern or instrument index; -1 when the code names none
    int32_t sample; // 0-based sample slot within the instrument; -1 when the code names none
    int64_t value;  // the number that was refused, as the code says
    int64_t offset; // byte at which loading stopped: the refused field, or where the file ends
};

// The reason as one line of text without a final newline ("pattern 3 cut short at byte 4120",
// "41 channels at byte 68: 1 to 32"), written into buffer and cut to fit; returns buffer. Only the
// tools call this: nothing on the demo's path prints.
const char* loadErrorText(const LoadResult& result, char* buffer, int32_t bufferBytes);

} // namespace music
