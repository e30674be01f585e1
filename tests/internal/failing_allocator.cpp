#include "failing_allocator.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <new>

// ThreadSanitizer's runtime owns operator new; under it the counting and
// failing allocator is left out and the tests that need it skip.
#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define KESSRA_NO_ALLOCATOR_REPLACEMENT
#endif
#endif
#if defined(__SANITIZE_THREAD__)
#define KESSRA_NO_ALLOCATOR_REPLACEMENT
#endif

namespace alloc {

namespace {

std::atomic<long> g_countdown{-1};
std::atomic<long> g_live{0};
std::atomic<long> g_made{0};
std::atomic<bool> g_logging{false};
// Releases are logged without allocating: the log lives in fixed storage.
std::array<const void*, 1 << 14> g_releaseLog;
std::atomic<std::size_t> g_releaseCount{0};

thread_local int t_untrackedDepth = 0;

// Each block carries a header saying whether it was counted, so a release
// balances exactly the allocations that were counted.
struct alignas(std::max_align_t) Header {
  bool tracked;
};

bool shouldFail() noexcept {
  long remaining = g_countdown.load();
  while (remaining >= 0) {
    if (g_countdown.compare_exchange_weak(remaining, remaining - 1)) {
      return remaining == 0;
    }
  }
  return false;
}

// Unused where the sanitizer keeps its own operator new.
[[maybe_unused]] void* allocate(std::size_t size) noexcept {
  const bool tracked = t_untrackedDepth == 0;
  if (tracked && shouldFail()) {
    return nullptr;
  }
  auto* header = static_cast<Header*>(std::malloc(sizeof(Header) + size));
  if (header == nullptr) {
    return nullptr;
  }
  header->tracked = tracked;
  if (tracked) {
    ++g_live;
    ++g_made;
  }
  return header + 1;
}

[[maybe_unused]] void release(void* memory) noexcept {
  if (memory == nullptr) {
    return;
  }
  if (g_logging.load()) {
    const std::size_t slot = g_releaseCount++;
    if (slot < g_releaseLog.size()) {
      g_releaseLog[slot] = memory;
    }
  }
  Header* header = static_cast<Header*>(memory) - 1;
  if (header->tracked) {
    --g_live;
  }
  std::free(header);
}

}  // namespace

Untracked::Untracked() noexcept { ++t_untrackedDepth; }
Untracked::~Untracked() { --t_untrackedDepth; }

bool replacesAllocator() noexcept {
#ifdef KESSRA_NO_ALLOCATOR_REPLACEMENT
  return false;
#else
  return true;
#endif
}

void failAllocation(long n) noexcept { g_countdown = n < 0 ? -1 : n; }
bool failureArmed() noexcept { return g_countdown.load() >= 0; }
long liveAllocations() noexcept { return g_live.load(); }
long allocationsMade() noexcept { return g_made.load(); }

void startLoggingReleases() noexcept {
  g_releaseCount = 0;
  g_logging = true;
}

std::vector<const void*> stopLoggingReleases() {
  g_logging = false;
  const std::size_t count = std::min(g_releaseCount.load(), g_releaseLog.size());
  return std::vector<const void*>(g_releaseLog.begin(), g_releaseLog.begin() + count);
}

}  // namespace alloc

#ifndef KESSRA_NO_ALLOCATOR_REPLACEMENT

void* operator new(std::size_t size) {
  void* memory = alloc::allocate(size);
  if (memory == nullptr) {
    throw std::bad_alloc();
  }
  return memory;
}

void* operator new[](std::size_t size) { return ::operator new(size); }

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return alloc::allocate(size);
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return alloc::allocate(size);
}

void operator delete(void* memory) noexcept { alloc::release(memory); }
void operator delete[](void* memory) noexcept { alloc::release(memory); }
void operator delete(void* memory, std::size_t) noexcept { alloc::release(memory); }
void operator delete[](void* memory, std::size_t) noexcept { alloc::release(memory); }
void operator delete(void* memory, const std::nothrow_t&) noexcept { alloc::release(memory); }
void operator delete[](void* memory, const std::nothrow_t&) noexcept { alloc::release(memory); }

#endif  // KESSRA_NO_ALLOCATOR_REPLACEMENT
