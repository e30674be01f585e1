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

// The number of records of an array this module made and has not released,
// or nothing for any other pointer, which must then not be read.
template <typename Record>
std::optional<std::uint64_t> ownedLength(const Record* items) noexcept;

// Releases the array if this module made it and has not released it yet,
// and leaves the pair null and 0 either way. The records' own texts must be
// released first.
template <typename Record>
void releaseArray(Record*& items, std::uint64_t& count) noexcept;

#define KESSRA_HOST_ARRAY(Record)                                                           \
  extern template Record* allocateArray<Record>(std::uint64_t);                             \
  extern template std::optional<std::uint64_t> ownedLength<Record>(const Record*) noexcept; \
  extern template void releaseArray<Record>(Record*&, std::uint64_t&) noexcept;
KESSRA_HOST_ARRAY(Setting)
KESSRA_HOST_ARRAY(ComponentDescription)
KESSRA_HOST_ARRAY(ChannelDescription)
#undef KESSRA_HOST_ARRAY

}  // namespace kessra
