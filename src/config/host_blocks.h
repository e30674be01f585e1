// Every block of storage the plug-in has handed to a host and not yet
// released: each text and each array of a configuration tree. A host can
// name the same tree from two records, or put storage of its own into one,
// so release trusts this set rather than the record: it releases and reads
// only blocks found here. Blocks no host ever released go when the library
// unloads. Like every store of the plug-in, it runs on the host's calling
// thread, and the host serialises its calls.
#pragma once

#include <cstdint>
#include <optional>

namespace kessra {

enum class BlockKind : std::uint8_t { Text, Settings, Components, Channels };

class HostBlocks {
 public:
  // Nothing is allocated until the first block comes, so the set needs no
  // construction at load time and is there for every store that hands out
  // blocks while the library loads.
  constexpr HostBlocks() noexcept = default;
  ~HostBlocks();
  HostBlocks(const HostBlocks&) = delete;
  HostBlocks& operator=(const HostBlocks&) = delete;

  // Throws std::bad_alloc when the set cannot grow; the block is then not
  // the set's, and the caller releases it.
  void add(const void* block, BlockKind kind, std::uint64_t length);
  // The block's length (elements of an array, bytes of a text without its
  // NUL), or nothing when the block is not one of the set.
  std::optional<std::uint64_t> lengthOf(const void* block, BlockKind kind) const noexcept;
  // Takes the block out of the set and gives its length; nothing when it
  // was not in it.
  std::optional<std::uint64_t> take(const void* block, BlockKind kind) noexcept;
  bool remove(const void* block, BlockKind kind) noexcept { return take(block, kind).has_value(); }
  // Releases every block still in the set, as the library's unload does.
  void releaseAll() noexcept;

  std::size_t size() const noexcept { return count_; }

 private:
  struct Entry {
    std::uintptr_t key = 0;  // the block's address; 0 marks a free slot
    std::uint64_t meta = 0;  // its kind in the top two bits, its length below
  };

  std::size_t slotOf(std::uintptr_t key) const noexcept;
  std::size_t find(std::uintptr_t key) const noexcept;  // the slot, or npos
  void grow();

  // Open addressing with linear probing, at most half full: a tree of
  // sixteen sensors holds some three hundred blocks, and each block costs
  // a probe or two to add and to remove, with no allocation of its own.
  Entry* slots_ = nullptr;
  std::size_t capacity_ = 0;  // a power of two
  int shift_ = 64;            // keeps the hash's top log2(capacity_) bits
  std::size_t count_ = 0;
};

// The plug-in's one set.
extern HostBlocks g_hostBlocks;
inline HostBlocks& hostBlocks() noexcept { return g_hostBlocks; }

}  // namespace kessra
