#include "config/host_memory.h"

#include <cstddef>
#include <cstring>
#include <limits>
#include <new>

#include "config/host_blocks.h"

namespace kessra {
namespace {

template <typename Record>
constexpr BlockKind kindOf();
template <>
constexpr BlockKind kindOf<Setting>() {
  return BlockKind::Settings;
}
template <>
constexpr BlockKind kindOf<ComponentDescription>() {
  return BlockKind::Components;
}
template <>
constexpr BlockKind kindOf<ChannelDescription>() {
  return BlockKind::Channels;
}

}  // namespace

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
    hostBlocks().add(items, kindOf<Record>(), count);
  } catch (...) {
    delete[] items;
    throw;
  }
  return items;
}

template <typename Record>
std::optional<std::uint64_t> ownedLength(const Record* items) noexcept {
  return hostBlocks().lengthOf(items, kindOf<Record>());
}

template <typename Record>
void releaseArray(Record*& items, std::uint64_t& count) noexcept {
  if (hostBlocks().remove(items, kindOf<Record>())) {
    delete[] items;
  }
  items = nullptr;
  count = 0;
}

#define KESSRA_HOST_ARRAY(Record)                                                    \
  template Record* allocateArray<Record>(std::uint64_t);                             \
  template std::optional<std::uint64_t> ownedLength<Record>(const Record*) noexcept; \
  template void releaseArray<Record>(Record*&, std::uint64_t&) noexcept;
KESSRA_HOST_ARRAY(Setting)
KESSRA_HOST_ARRAY(ComponentDescription)
KESSRA_HOST_ARRAY(ChannelDescription)
#undef KESSRA_HOST_ARRAY

}  // namespace kessra
