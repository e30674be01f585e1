#include "config/host_blocks.h"

#include <limits>

#include "kessra_plugin.h"

namespace kessra {
namespace {

constexpr std::size_t kNotFound = std::numeric_limits<std::size_t>::max();
// Room for a few trees before the set first grows, made when the library
// loads rather than during the first request.
constexpr std::size_t kInitialSlots = 2048;

void releaseBlock(const void* block, BlockKind kind) noexcept {
  switch (kind) {
    case BlockKind::Text:
      delete[] static_cast<const char*>(block);
      break;
    case BlockKind::Settings:
      delete[] static_cast<const Setting*>(block);
      break;
    case BlockKind::Components:
      delete[] static_cast<const ComponentDescription*>(block);
      break;
    case BlockKind::Channels:
      delete[] static_cast<const ChannelDescription*>(block);
      break;
  }
}

}  // namespace

HostBlocks::HostBlocks() noexcept {
  // At load time a failure cannot be reported; the set then grows on first
  // use instead.
  try {
    slots_.resize(kInitialSlots);
  } catch (...) {
    slots_.clear();
  }
}

HostBlocks::~HostBlocks() { releaseAll(); }

void HostBlocks::releaseAll() noexcept {
  for (Entry& entry : slots_) {
    if (entry.block != nullptr) {
      releaseBlock(entry.block, entry.kind);
      entry = Entry{};
    }
  }
  count_ = 0;
}

std::size_t HostBlocks::slotOf(const void* block) const noexcept {
  // Blocks are at least 16-byte aligned; Fibonacci hashing spreads the rest.
  const auto bits = reinterpret_cast<std::uintptr_t>(block) >> 4;
  return static_cast<std::size_t>((bits * 0x9E3779B97F4A7C15ULL) >> 32) & (slots_.size() - 1);
}

std::size_t HostBlocks::find(const void* block) const noexcept {
  if (slots_.empty() || block == nullptr) {
    return kNotFound;
  }
  for (std::size_t slot = slotOf(block);; slot = (slot + 1) & (slots_.size() - 1)) {
    if (slots_[slot].block == block) {
      return slot;
    }
    if (slots_[slot].block == nullptr) {
      return kNotFound;
    }
  }
}

void HostBlocks::grow() {
  std::vector<Entry> old(slots_.empty() ? kInitialSlots : 2 * slots_.size());
  old.swap(slots_);
  count_ = 0;
  for (const Entry& entry : old) {
    if (entry.block != nullptr) {
      std::size_t slot = slotOf(entry.block);
      while (slots_[slot].block != nullptr) {
        slot = (slot + 1) & (slots_.size() - 1);
      }
      slots_[slot] = entry;
      ++count_;
    }
  }
}

void HostBlocks::add(const void* block, BlockKind kind, std::uint64_t length) {
  if (2 * (count_ + 1) > slots_.size()) {
    grow();
  }
  std::size_t slot = slotOf(block);
  while (slots_[slot].block != nullptr) {
    if (slots_[slot].block == block) {
      // Only a host that released the old block itself, against the rules,
      // lets the allocator hand out its address again; the new block is the
      // one that lives there now.
      slots_[slot] = Entry{block, length, kind};
      return;
    }
    slot = (slot + 1) & (slots_.size() - 1);
  }
  slots_[slot] = Entry{block, length, kind};
  ++count_;
}

std::optional<std::uint64_t> HostBlocks::lengthOf(const void* block,
                                                  BlockKind kind) const noexcept {
  const std::size_t slot = find(block);
  if (slot == kNotFound || slots_[slot].kind != kind) {
    return std::nullopt;
  }
  return slots_[slot].length;
}

bool HostBlocks::remove(const void* block, BlockKind kind) noexcept {
  std::size_t slot = find(block);
  if (slot == kNotFound || slots_[slot].kind != kind) {
    return false;
  }
  // Backward-shift deletion keeps every probe run unbroken, with no
  // tombstones to slow later lookups.
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t next = (slot + 1) & mask; slots_[next].block != nullptr;
       next = (next + 1) & mask) {
    const std::size_t home = slotOf(slots_[next].block);
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
  return true;
}

HostBlocks& hostBlocks() noexcept {
  static HostBlocks blocks;
  return blocks;
}

}  // namespace kessra
