// Load refusals in words, for the command-line tools.
#include "load_result.h"

#include <cinttypes>
#include <cstdio>

namespace music {

const char* loadErrorText(const LoadResult& result, char* buffer, int32_t bufferBytes) {
    if (buffer == nullptr || bufferBytes <= 0) return buffer;
    const auto n = static_cast<size_t>(bufferBytes);
    const int64_t at = result.offset;
    const int64_t value = result.value;
    // Patterns are counted from 0 as trackers show them, instruments and samples from 1 as the
    // cells name them.
    const int32_t pattern = result.item;
    const int32_t instrument = result.item + 1;
    const int32_t sample = result.sample + 1;
    switch (result.error) {
    case LoadError::None: std::snprintf(buffer, n, "loaded"); break;
    case LoadError::NoStream: std::snprintf(buffer, n, "no stream to read the module from"); break;
    case LoadError::OutOfMemory:
        std::snprintf(buffer, n, "out of memory for %" PRId64 " bytes at byte %" PRId64, value, at);
        break;
    case LoadError::NotAnXmModule:
        std::snprintf(buffer, n, "not an XM module: no \"Extended Module: \" at byte 0");
        break;
    case LoadError::HeaderCutShort:
        std::snprintf(buffer, n, "header cut short at byte %" PRId64, at);
        break;
    case LoadError::SongLength:
        std::snprintf(buffer, n, "song length %" PRId64 " at byte %" PRId64 ": 1 to 256", value,
                      at);
        break;
    case LoadError::OrdersCutShort:
        std::snprintf(buffer, n, "order table cut short at byte %" PRId64 ": song length %" PRId64,
                      at, value);
        break;
    case LoadError::ChannelCount:
        std::snprintf(buffer, n, "%" PRId64 " channels at byte %" PRId64 ": 1 to 32", value, at);
        break;
    case LoadError::PatternCount:
        std::snprintf(buffer, n, "%" PRId64 " patterns at byte %" PRId64 ": at most 256", value,
                      at);
        break;
    case LoadError::InstrumentCount:
        std::snprintf(buffer, n, "%" PRId64 " instruments at byte %" PRId64 ": at most 255", value,
                      at);
        break;
    case LoadError::HeaderSize:
        std::snprintf(buffer, n,
                      "header size puts the first pattern at byte %" PRId64
                      ", past the end at byte %" PRId64,
                      value, at);
        break;
    case LoadError::PatternRows:
        std::snprintf(buffer, n, "pattern %d: %" PRId64 " rows at byte %" PRId64 ": at most 1024",
                      pattern, value, at);
        break;
    case LoadError::PatternCutShort:
        std::snprintf(buffer, n, "pattern %d cut short at byte %" PRId64, pattern, at);
        break;
    case LoadError::InstrumentCutShort:
        std::snprintf(buffer, n, "instrument %d cut short at byte %" PRId64, instrument, at);
        break;
    case LoadError::TooManySamples:
        std::snprintf(buffer, n,
                      "instrument %d: %" PRId64 " samples at byte %" PRId64 ": at most 32",
                      instrument, value, at);
        break;
    case LoadError::SampleHeaderCutShort:
        std::snprintf(buffer, n, "instrument %d, sample %d: header cut short at byte %" PRId64,
                      instrument, sample, at);
        break;
    case LoadError::SampleDataMissing:
        std::snprintf(buffer, n,
                      "instrument %d, sample %d: %" PRId64
                      " bytes of sample data missing at byte %" PRId64,
                      instrument, sample, value, at);
        break;
    case LoadError::SampleTooLong:
        std::snprintf(buffer, n,
                      "instrument %d, sample %d: %" PRId64 " frames at byte %" PRId64
                      ": too long to hold",
                      instrument, sample, value, at);
        break;
    default:
        std::snprintf(buffer, n, "refused (reason %d) at byte %" PRId64,
                      static_cast<int>(result.error), at);
        break;
    }
    return buffer;
}

} // namespace music
