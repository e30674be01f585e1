// The one allocation scheme for everything a Configuration holds: texts and
// arrays made here are released only here, through bv_free_configuration or
// when the library unloads. Every block made here is in hostBlocks() until
// it is released, and release touches no other block, so a host may free a
// record twice, free two records that share a tree, or put storage of its
// own into one, without harm.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <type_traits>

#include "config/host_blocks.h"
#include "kessra_plugin.h"

namespace kessra {

// A fresh allocation of length + 1 bytes ending in NUL; an empty text is a
// one-byte allocation, never null. Throws std::bad_alloc.
StringRef copyText(std::string_view text);

// Releases the text if this module made it and has not released it yet;
// leaves the reference null with length 0 either way.
void releaseText(StringRef& text) noexcept;

// count zero-initialised records; zero records is still a real allocation.
// A count whose byte size overflows throws std::bad_alloc.
template <typename Record>
Record* allocateArray(std::uint64_t count);

template <typename Record>
constexpr BlockKind blockKindOf() {
  if constexpr (std::is_same_v<Record, Setting>) {
    return BlockKind::Settings;
  } else if constexpr (std::is_same_v<Record, ComponentDescription>) {
    return BlockKind::Components;
  } else {
    static_assert(std::is_same_v<Record, ChannelDescription>);
    return BlockKind::Channels;
  }
}

// Releases the array if this module made it and has not released it yet,
// after releaseRecords(items, length) has released its records' own
// storage, walking the length it was made with; leaves the pair null and 0
// either way. Any other pointer is not read: it may be the host's, or
// storage already released.
template <typename Record, typename ReleaseRecords>
void releaseArray(Record*& items, std::uint64_t& count, ReleaseRecords&& releaseRecords) noexcept {
  if (const auto length = hostBlocks().take(items, blockKindOf<Record>())) {
    releaseRecords(items, *length);
    delete[] items;
  }
  items = nullptr;
  count = 0;
}

extern template Setting* allocateArray<Setting>(std::uint64_t);
extern template ComponentDescription* allocateArray<ComponentDescription>(std::uint64_t);
extern template ChannelDescription* allocateArray<ChannelDescription>(std::uint64_t);

}  // namespace kessra
