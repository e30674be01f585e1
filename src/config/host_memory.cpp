#include "config/host_memory.h"

#include <cstddef>
#include <cstring>
#include <limits>
#include <new>

#include "config/host_blocks.h"

namespace kessra {

StringRef copyText(std::string_view text) {
  char* bytes = new char[text.size() + 1];
  if (!text.empty()) {
    std::memcpy(bytes, text.data(), text.size());
  }
  bytes[text.size()] = '\0';
  try {
    hostBlocks().add(bytes, BlockKind::Text, text.size());
  } catch (...) {
    delete[] bytes;
    throw;
  }
  return StringRef{bytes, text.size()};
}

void releaseText(StringRef& text) noexcept {
  if (hostBlocks().remove(text.data, BlockKind::Text)) {
    delete[] text.data;
  }
  text.data = nullptr;
  text.length = 0;
}

template <typename Record>
Record* allocateArray(std::uint64_t count) {
  if (count > std::numeric_limits<std::size_t>::max() / sizeof(Record)) {
    throw std::bad_alloc();
  }
  Record* items = new Record[static_cast<std::size_t>(count)]();
  try {
    hostBlocks().add(items, blockKindOf<Record>(), count);
  } catch (...) {
    delete[] items;
    throw;
  }
  return items;
}

template Setting* allocateArray<Setting>(std::uint64_t);
template ComponentDescription* allocateArray<ComponentDescription>(std::uint64_t);
template ChannelDescription* allocateArray<ChannelDescription>(std::uint64_t);

}  // namespace kessra
