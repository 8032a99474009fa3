#include "tests/support/AllocationCounter.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<std::size_t> gAllocations{0};

void* countedAllocate(std::size_t size, std::size_t alignment) {
    gAllocations.fetch_add(1, std::memory_order_relaxed);
    if (size == 0) size = 1;
    return alignment > alignof(std::max_align_t)
               ? std::aligned_alloc(alignment, (size + alignment - 1) / alignment * alignment)
               : std::malloc(size);
}
} // namespace

namespace thraskvell::test {
std::size_t allocationCount() {
    return gAllocations.load(std::memory_order_relaxed);
}
} // namespace thraskvell::test

// The array forms are the library's, which calls these in plain builds; a sanitizer's runtime brings
// its own matching pair.
void* operator new(std::size_t size) {
    if (void* p = countedAllocate(size, 0)) return p;
    throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return countedAllocate(size, 0);
}
void* operator new(std::size_t size, std::align_val_t al) {
    if (void* p = countedAllocate(size, static_cast<std::size_t>(al))) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t, std::align_val_t) noexcept {
    std::free(p);
}
