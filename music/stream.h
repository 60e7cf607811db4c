// The loader's only input: a table of five stream operations and the in-memory stream behind it.
#pragma once

#include <cstdint>

namespace music {

// Describes a memory block (as a description handed to createPlayer) and doubles as the open
// stream. position is ignored in a description.
struct MemoryStream {
    int32_t size;        // bytes in the block
    int32_t position;    // current read position, 0..size
    const uint8_t* base; // first byte of the block
};

// A table of stream operations; streams are opaque to the loader.
struct StreamInterface {
    void* (*open)(const MemoryStream* description); // null only when out of memory
    void (*close)(void* stream);
    int32_t (*read)(void* destination, int32_t byteCount, void* stream); // bytes copied
    void (*seek)(void* stream, int32_t offset, int32_t mode); // mode 0 set, 1 current, 2 end
    int32_t (*tell)(void* stream);
};

// The MemoryStream operations below as a table: what a Player reads through unless it is given
// another.
extern const StreamInterface memoryStreamInterface;

// Whether every operation of the table is there.
bool streamInterfaceComplete(const StreamInterface& streams);

// The MemoryStream operations themselves, for tests and tools.
void* memoryOpen(const MemoryStream* description);
void memoryClose(void* stream);
int32_t memoryRead(void* destination, int32_t byteCount, void* stream);
void memorySeek(void* stream, int32_t offset, int32_t mode);
int32_t memoryTell(void* stream);

} // namespace music
