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
// It sits right before the block and says how far back the raw allocation
// starts, so aligned and plain blocks are released alike.
struct alignas(std::max_align_t) Header {
  bool tracked;
  std::size_t offset;
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
[[maybe_unused]] void* allocate(std::size_t size,
                                std::size_t align = alignof(std::max_align_t)) noexcept {
  const bool tracked = t_untrackedDepth == 0;
  if (tracked && shouldFail()) {
    return nullptr;
  }
  align = std::max(align, alignof(std::max_align_t));
  const std::size_t offset = std::max(align, sizeof(Header));
  const std::size_t total = (offset + size + align - 1) / align * align;
  auto* raw = static_cast<char*>(std::aligned_alloc(align, total));
  if (raw == nullptr) {
    return nullptr;
  }
  char* block = raw + offset;
  Header* header = reinterpret_cast<Header*>(block) - 1;
  header->tracked = tracked;
  header->offset = offset;
  if (tracked) {
    ++g_live;
    ++g_made;
  }
  return block;
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
  std::free(static_cast<char*>(memory) - header->offset);
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

void* operator new(std::size_t size, std::align_val_t align) {
  void* memory = alloc::allocate(size, static_cast<std::size_t>(align));
  if (memory == nullptr) {
    throw std::bad_alloc();
  }
  return memory;
}

void* operator new[](std::size_t size, std::align_val_t align) {
  return ::operator new(size, align);
}

void* operator new(std::size_t size, std::align_val_t align, const std::nothrow_t&) noexcept {
  return alloc::allocate(size, static_cast<std::size_t>(align));
}

void* operator new[](std::size_t size, std::align_val_t align, const std::nothrow_t&) noexcept {
  return alloc::allocate(size, static_cast<std::size_t>(align));
}

void operator delete(void* memory, std::align_val_t) noexcept { alloc::release(memory); }
void operator delete[](void* memory, std::align_val_t) noexcept { alloc::release(memory); }
void operator delete(void* memory, std::size_t, std::align_val_t) noexcept {
  alloc::release(memory);
}
void operator delete[](void* memory, std::size_t, std::align_val_t) noexcept {
  alloc::release(memory);
}
void operator delete(void* memory, std::align_val_t, const std::nothrow_t&) noexcept {
  alloc::release(memory);
}
void operator delete[](void* memory, std::align_val_t, const std::nothrow_t&) noexcept {
  alloc::release(memory);
}

void operator delete(void* memory) noexcept { alloc::release(memory); }
void operator delete[](void* memory) noexcept { alloc::release(memory); }
void operator delete(void* memory, std::size_t) noexcept { alloc::release(memory); }
void operator delete[](void* memory, std::size_t) noexcept { alloc::release(memory); }
void operator delete(void* memory, const std::nothrow_t&) noexcept { alloc::release(memory); }
void operator delete[](void* memory, const std::nothrow_t&) noexcept { alloc::release(memory); }

#endif  // KESSRA_NO_ALLOCATOR_REPLACEMENT
