// The one allocation scheme for everything a Configuration holds: texts and
// arrays made here are released only here, by bv_free_configuration.
#pragma once

#include <cstdint>
#include <string_view>

#include "kessra_plugin.h"

namespace kessra {

// A fresh allocation of length + 1 bytes ending in NUL; an empty text is a
// one-byte allocation, never null. Throws std::bad_alloc.
StringRef copyText(std::string_view text);

// Releases a text made by copyText; leaves it null with length 0.
void releaseText(StringRef& text) noexcept;

// count zero-initialised records; zero records is still a real allocation.
// A count whose byte size overflows throws std::bad_alloc.
template <typename Record>
Record* allocateArray(std::uint64_t count);

// Releases an array made by allocateArray (null is a no-op) and leaves the
// pair null and 0. The records' own texts must be released first.
template <typename Record>
void releaseArray(Record*& items, std::uint64_t& count) noexcept;

extern template Setting* allocateArray<Setting>(std::uint64_t);
extern template ComponentDescription* allocateArray<ComponentDescription>(std::uint64_t);
extern template ChannelDescription* allocateArray<ChannelDescription>(std::uint64_t);
extern template void releaseArray<Setting>(Setting*&, std::uint64_t&) noexcept;
extern template void releaseArray<ComponentDescription>(ComponentDescription*&,
                                                        std::uint64_t&) noexcept;
extern template void releaseArray<ChannelDescription>(ChannelDescription*&,
                                                      std::uint64_t&) noexcept;

}  // namespace kessra
