// Keeps a few freed large blocks for the next allocation of the same size. Every fuzz input
// builds a synthesizer engine whose voice table, or an ADPCM encoder whose search trace, is larger
// than the sanitizer allocator's mapped size limit; without the cache each input pays a fresh
// mapping, its page faults and its unmap (a TLB flush on every core), a large share of the time
// of an input. Blocks still come from malloc, so the sanitizers see them. The encoder allocates
// from a second thread, so the cache is locked.
#include <malloc.h>

#include <array>
#include <cstdlib>
#include <mutex>
#include <new>

namespace {

constexpr std::size_t kLargeBytes = std::size_t{64} * 1024;

struct CachedBlock {
    void* block = nullptr;
    std::size_t size = 0;
};
std::array<CachedBlock, 8> g_cache;
std::mutex g_cacheLock;

void* Allocate(std::size_t size) {
    if (size >= kLargeBytes) {
        const std::lock_guard guard(g_cacheLock);
        for (CachedBlock& cached : g_cache)
            if (cached.block && cached.size == size) {
                void* block = cached.block;
                cached.block = nullptr;
                return block;
            }
    }
    void* block = std::malloc(size ? size : 1);
    if (!block) throw std::bad_alloc();
    return block;
}

// The sanitizer's malloc_usable_size is the size asked for, so a block finds its size again.
void Release(void* block) {
    const std::size_t size = block ? malloc_usable_size(block) : 0;
    if (size >= kLargeBytes) {
        const std::lock_guard guard(g_cacheLock);
        for (CachedBlock& cached : g_cache)
            if (!cached.block) {
                cached = {block, size};
                return;
            }
    }
    std::free(block);
}

}  // namespace

void* operator new(std::size_t size) {
    return Allocate(size);
}
void* operator new[](std::size_t size) {
    return Allocate(size);
}
void operator delete(void* block) noexcept {
    Release(block);
}
void operator delete[](void* block) noexcept {
    Release(block);
}
void operator delete(void* block, std::size_t) noexcept {
    Release(block);
}
void operator delete[](void* block, std::size_t) noexcept {
    Release(block);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return std::malloc(size ? size : 1);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return std::malloc(size ? size : 1);
}
void operator delete(void* block, const std::nothrow_t&) noexcept {
    Release(block);
}
void operator delete[](void* block, const std::nothrow_t&) noexcept {
    Release(block);
}
