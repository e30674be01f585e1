// A global allocator for the internal tests: it counts live allocations,
// fails the Nth allocation on demand, and can log the order of releases.
#pragma once

#include <cstddef>
#include <vector>

namespace alloc {

// False in builds whose sanitizer owns operator new; tests that count or
// fail allocations skip there.
bool replacesAllocator() noexcept;

// The allocation n steps from now (0 = the very next) throws std::bad_alloc;
// later ones succeed again. A negative n disarms it.
void failAllocation(long n) noexcept;
bool failureArmed() noexcept;

// Allocations made and not yet released, by anyone in the process.
long liveAllocations() noexcept;
long allocationsMade() noexcept;

// While one exists on a thread, that thread's allocations are neither
// counted nor failed: the fake device's own bookkeeping uses it.
class Untracked {
 public:
  Untracked() noexcept;
  ~Untracked();
  Untracked(const Untracked&) = delete;
  Untracked& operator=(const Untracked&) = delete;
};

// While logging, every release of a non-null pointer is recorded in order.
void startLoggingReleases() noexcept;
std::vector<const void*> stopLoggingReleases();

}  // namespace alloc
