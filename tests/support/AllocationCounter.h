// Counts heap allocations made through operator new and malloc-family calls routed through it.
// Linking AllocationCounter.cpp into a test executable replaces the global operator new/delete.
//
// Threads: counters are atomic; a scope counts allocations made on any thread while it lives.
#pragma once

#include <cstddef>

namespace thraskvell::test {

std::size_t allocationCount();

struct AllocationScope {
    std::size_t start = allocationCount();
    std::size_t allocations() const { return allocationCount() - start; }
};

} // namespace thraskvell::test
