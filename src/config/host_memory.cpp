#include "config/host_memory.h"

#include <cstddef>
#include <cstring>
#include <limits>
#include <new>

namespace kessra {

StringRef copyText(std::string_view text) {
  char* bytes = new char[text.size() + 1];
  if (!text.empty()) {
    std::memcpy(bytes, text.data(), text.size());
  }
  bytes[text.size()] = '\0';
  return StringRef{bytes, text.size()};
}

void releaseText(StringRef& text) noexcept {
  delete[] text.data;
  text.data = nullptr;
  text.length = 0;
}

template <typename Record>
Record* allocateArray(std::uint64_t count) {
  if (count > std::numeric_limits<std::size_t>::max() / sizeof(Record)) {
    throw std::bad_alloc();
  }
  return new Record[static_cast<std::size_t>(count)]();
}

template <typename Record>
void releaseArray(Record*& items, std::uint64_t& count) noexcept {
  delete[] items;
  items = nullptr;
  count = 0;
}

template Setting* allocateArray<Setting>(std::uint64_t);
template ComponentDescription* allocateArray<ComponentDescription>(std::uint64_t);
template ChannelDescription* allocateArray<ChannelDescription>(std::uint64_t);
template void releaseArray<Setting>(Setting*&, std::uint64_t&) noexcept;
template void releaseArray<ComponentDescription>(ComponentDescription*&, std::uint64_t&) noexcept;
template void releaseArray<ChannelDescription>(ChannelDescription*&, std::uint64_t&) noexcept;

}  // namespace kessra
