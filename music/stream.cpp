// The in-memory stream and its table of operations.
#include "stream.h"

#include <cstdlib>
#include <cstring>
#include <limits>

namespace music {

const StreamInterface memoryStreamInterface = {memoryOpen, memoryClose, memoryRead, memorySeek,
                                               memoryTell};

bool streamInterfaceComplete(const StreamInterface& s) {
    return s.open != nullptr && s.close != nullptr && s.read != nullptr && s.seek != nullptr &&
           s.tell != nullptr;
}

void* memoryOpen(const MemoryStream* description) {
    if (description == nullptr) return nullptr;
    auto* stream = static_cast<MemoryStream*>(std::calloc(1, sizeof(MemoryStream)));
    if (stream == nullptr) return nullptr;
    stream->size = description->size;
    stream->base = description->base;
    stream->position = 0;
    return stream;
}

void memoryClose(void* stream) {
    std::free(stream);
}

int32_t memoryRead(void* destination, int32_t byteCount, void* stream) {
    auto* s = static_cast<MemoryStream*>(stream);
    if (s == nullptr || byteCount < 0) return 0;
    // A position moved below 0 (seek does not stop it) or a block with a negative size leaves
    // nothing that could be copied safely.
    if (s->position < 0 || s->position > s->size) return 0;
    // 64 bits: position + byteCount may pass the int32 range.
    int64_t n = byteCount;
    if (static_cast<int64_t>(s->position) + n >= s->size) n = s->size - s->position;
    if (n > 0) std::memcpy(destination, s->base + s->position, static_cast<size_t>(n));
    s->position += static_cast<int32_t>(n);
    return static_cast<int32_t>(n);
}

void memorySeek(void* stream, int32_t offset, int32_t mode) {
    auto* s = static_cast<MemoryStream*>(stream);
    if (s == nullptr) return;
    int64_t target = 0;
    switch (mode & 0xFF) {
    case 0: target = offset; break;
    case 1: target = static_cast<int64_t>(s->position) + offset; break;
    case 2: target = static_cast<int64_t>(s->size) + offset; break;
    default: return;
    }
    if (target > s->size) target = s->size;
    // Far below 0 the position only has to stay outside the block; it need not be exact.
    if (target < std::numeric_limits<int32_t>::min()) target = std::numeric_limits<int32_t>::min();
    s->position = static_cast<int32_t>(target);
}

int32_t memoryTell(void* stream) {
    const auto* s = static_cast<const MemoryStream*>(stream);
    return s == nullptr ? 0 : s->position;
}

} // namespace music
