#include "config/host_blocks.h"

#include <bit>
#include <limits>
#include <new>

#include "kessra_plugin.h"

namespace kessra {
namespace {

constexpr std::size_t kNotFound = std::numeric_limits<std::size_t>::max();
// Room for a tree of sixteen sensors and more before the set first grows.
constexpr std::size_t kInitialSlots = 1024;
// No array's length comes near 2^62 elements: an allocation that large
// fails long before.
constexpr int kKindShift = 62;
constexpr std::uint64_t kLengthMask = (std::uint64_t{1} << kKindShift) - 1;

std::uintptr_t keyOf(const void* block) noexcept { return reinterpret_cast<std::uintptr_t>(block); }

std::uint64_t metaOf(BlockKind kind, std::uint64_t length) noexcept {
  return (static_cast<std::uint64_t>(kind) << kKindShift) | (length & kLengthMask);
}

BlockKind kindOf(std::uint64_t meta) noexcept { return static_cast<BlockKind>(meta >> kKindShift); }

void releaseBlock(std::uintptr_t key, std::uint64_t meta) noexcept {
  void* block = reinterpret_cast<void*>(key);
  switch (kindOf(meta)) {
    case BlockKind::Text:
      delete[] static_cast<char*>(block);
      break;
    case BlockKind::Settings:
      delete[] static_cast<Setting*>(block);
      break;
    case BlockKind::Components:
      delete[] static_cast<ComponentDescription*>(block);
      break;
    case BlockKind::Channels:
      delete[] static_cast<ChannelDescription*>(block);
      break;
  }
}

}  // namespace

// Constant-initialised, so it exists before any store's dynamic
// initialisation hands it a block.
constinit HostBlocks g_hostBlocks;

HostBlocks::~HostBlocks() {
  releaseAll();
  delete[] slots_;
}

void HostBlocks::releaseAll() noexcept {
  for (std::size_t slot = 0; slot < capacity_; ++slot) {
    if (slots_[slot].key != 0) {
      releaseBlock(slots_[slot].key, slots_[slot].meta);
      slots_[slot] = Entry{};
    }
  }
  count_ = 0;
}

std::size_t HostBlocks::slotOf(std::uintptr_t key) const noexcept {
  // Fibonacci hashing: the top bits of the product spread the blocks, which
  // the allocator hands out in runs of nearby addresses, over the table.
  const std::uint64_t bits = static_cast<std::uint64_t>(key >> 4) * 0x9E3779B97F4A7C15ULL;
  return static_cast<std::size_t>(bits >> shift_);
}

std::size_t HostBlocks::find(std::uintptr_t key) const noexcept {
  if (capacity_ == 0) {
    return kNotFound;
  }
  for (std::size_t slot = slotOf(key);; slot = (slot + 1) & (capacity_ - 1)) {
    if (slots_[slot].key == key) {
      return slot;
    }
    if (slots_[slot].key == 0) {
      return kNotFound;
    }
  }
}

void HostBlocks::grow() {
  const std::size_t capacity = capacity_ == 0 ? kInitialSlots : 2 * capacity_;
  Entry* fresh = new Entry[capacity]();
  Entry* old = slots_;
  const std::size_t oldCapacity = capacity_;
  slots_ = fresh;
  capacity_ = capacity;
  shift_ = 64 - std::countr_zero(capacity);
  for (std::size_t i = 0; i < oldCapacity; ++i) {
    if (old[i].key != 0) {
      std::size_t slot = slotOf(old[i].key);
      while (slots_[slot].key != 0) {
        slot = (slot + 1) & (capacity_ - 1);
      }
      slots_[slot] = old[i];
    }
  }
  delete[] old;
}

void HostBlocks::add(const void* block, BlockKind kind, std::uint64_t length) {
  if (2 * (count_ + 1) > capacity_) {
    grow();
  }
  const std::uintptr_t key = keyOf(block);
  std::size_t slot = slotOf(key);
  while (slots_[slot].key != 0) {
    if (slots_[slot].key == key) {
      // Only a host that released the old block itself, against the rules,
      // lets the allocator hand out its address again; the new block is the
      // one that lives there now.
      slots_[slot] = Entry{key, metaOf(kind, length)};
      return;
    }
    slot = (slot + 1) & (capacity_ - 1);
  }
  slots_[slot] = Entry{key, metaOf(kind, length)};
  ++count_;
}

std::optional<std::uint64_t> HostBlocks::lengthOf(const void* block,
                                                  BlockKind kind) const noexcept {
  if (block == nullptr) {
    return std::nullopt;
  }
  const std::size_t slot = find(keyOf(block));
  if (slot == kNotFound || kindOf(slots_[slot].meta) != kind) {
    return std::nullopt;
  }
  return slots_[slot].meta & kLengthMask;
}

std::optional<std::uint64_t> HostBlocks::take(const void* block, BlockKind kind) noexcept {
  if (block == nullptr) {
    return std::nullopt;
  }
  std::size_t slot = find(keyOf(block));
  if (slot == kNotFound || kindOf(slots_[slot].meta) != kind) {
    return std::nullopt;
  }
  const std::uint64_t length = slots_[slot].meta & kLengthMask;
  // Backward-shift deletion keeps every probe run unbroken, with no
  // tombstones to slow later lookups.
  const std::size_t mask = capacity_ - 1;
  for (std::size_t next = (slot + 1) & mask; slots_[next].key != 0; next = (next + 1) & mask) {
    const std::size_t home = slotOf(slots_[next].key);
    // The entry at `next` may move into `slot` unless its home lies
    // cyclically within (slot, next].
    const bool homeBetween =
        slot <= next ? (home > slot && home <= next) : (home > slot || home <= next);
    if (!homeBetween) {
      slots_[slot] = slots_[next];
      slot = next;
    }
  }
  slots_[slot] = Entry{};
  --count_;
  return length;
}

}  // namespace kessra
