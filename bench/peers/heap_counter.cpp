// Interposes the C allocation functions and forwards them to the C library's own allocator, so
// that every block any player asks for (through malloc or operator new) is counted here.
#include "heap_counter.h"

#include <atomic>
#include <cerrno>
#include <cstddef>

#if defined(PEERS_HEAP_COUNTING)
#include <malloc.h>

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* block, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
void __libc_free(void* block);
}
#endif

namespace peers {
namespace {

std::atomic<int64_t> liveBytes{0};
std::atomic<int64_t> peakBytes{0};

[[maybe_unused]] void* counted(void* block) {
#if defined(PEERS_HEAP_COUNTING)
    if (block != nullptr) {
        const int64_t now = liveBytes.fetch_add(static_cast<int64_t>(malloc_usable_size(block)),
                                                std::memory_order_relaxed) +
                            static_cast<int64_t>(malloc_usable_size(block));
        int64_t peak = peakBytes.load(std::memory_order_relaxed);
        while (now > peak &&
               !peakBytes.compare_exchange_weak(peak, now, std::memory_order_relaxed)) {
        }
    }
#endif
    return block;
}

[[maybe_unused]] void uncount(void* block) {
#if defined(PEERS_HEAP_COUNTING)
    if (block != nullptr)
        liveBytes.fetch_sub(static_cast<int64_t>(malloc_usable_size(block)),
                            std::memory_order_relaxed);
#else
    (void)block;
#endif
}

} // namespace

#if defined(PEERS_HEAP_COUNTING)
bool heapCounting() {
    return true;
}
#else
bool heapCounting() {
    return false;
}
#endif

int64_t heapLiveBytes() {
    return liveBytes.load(std::memory_order_relaxed);
}
int64_t heapPeakBytes() {
    return peakBytes.load(std::memory_order_relaxed);
}
void heapResetPeak() {
    peakBytes.store(heapLiveBytes(), std::memory_order_relaxed);
}

} // namespace peers

#if defined(PEERS_HEAP_COUNTING)
extern "C" {

void* malloc(size_t size) {
    return peers::counted(__libc_malloc(size));
}

void* calloc(size_t count, size_t size) {
    return peers::counted(__libc_calloc(count, size));
}

void free(void* block) {
    peers::uncount(block);
    __libc_free(block);
}

void* realloc(void* block, size_t size) {
    if (block == nullptr) return malloc(size);
    if (size == 0) {
        free(block);
        return nullptr;
    }
    // The old block stays valid when realloc fails, so take it off the count only on success.
    const size_t oldSize = malloc_usable_size(block);
    void* moved = __libc_realloc(block, size);
    if (moved == nullptr) return nullptr;
    peers::liveBytes.fetch_sub(static_cast<int64_t>(oldSize), std::memory_order_relaxed);
    return peers::counted(moved);
}

void* memalign(size_t alignment, size_t size) {
    return peers::counted(__libc_memalign(alignment, size));
}

void* aligned_alloc(size_t alignment, size_t size) {
    return memalign(alignment, size);
}

int posix_memalign(void** out, size_t alignment, size_t size) {
    if (alignment < sizeof(void*) || (alignment & (alignment - 1)) != 0) return EINVAL;
    void* block = memalign(alignment, size);
    if (block == nullptr) return ENOMEM;
    *out = block;
    return 0;
}

void* valloc(size_t size) {
    return memalign(4096, size);
}

void* pvalloc(size_t size) {
    return memalign(4096, (size + 4095) & ~size_t{4095});
}

} // extern "C"
#endif
