// The song as an XM file: the composed patterns and the synthesised instruments in the file's
// layout, at the exact size the demo loads.
#pragma once

#include "composition.h"
#include "instruments.h"
#include "xmwrite.h"

#include <cstdint>
#include <vector>

namespace gensong {

xmwrite::Bytes packPattern(const Pattern& pattern);

// Bytes of the instrument's sample data as stored.
uint32_t sampleDataBytes(const Instrument& instrument);

// Bytes of the file apart from the sample data: header, patterns, instrument and sample headers
// and the unread tail.
uint32_t bytesBesideSampleData(const std::vector<xmwrite::Bytes>& packedPatterns);

// The whole file: header, the packed patterns in pattern order, the instruments in instrument
// order and the unread tail.
xmwrite::Bytes writeSong(const std::vector<xmwrite::Bytes>& packedPatterns,
                         const std::vector<Instrument>& instruments, int32_t defaultBpm);

} // namespace gensong
