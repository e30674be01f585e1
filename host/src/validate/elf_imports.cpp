#include "validate/elf_imports.h"

#include <elf.h>

#include <cstring>
#include <fstream>
#include <iterator>

namespace bvhost {
namespace {

constexpr const char* kInteropSoname = "libOrvaneAPI_Interop.so";

template <typename Record>
bool readAt(const std::string& image, std::uint64_t offset, Record& record) {
  if (offset > image.size() || image.size() - offset < sizeof(Record)) {
    return false;
  }
  std::memcpy(&record, image.data() + offset, sizeof(Record));
  return true;
}

bool isElf64(const Elf64_Ehdr& header) {
  return std::memcmp(header.e_ident, ELFMAG, SELFMAG) == 0 &&
         header.e_ident[EI_CLASS] == ELFCLASS64 && header.e_ident[EI_DATA] == ELFDATA2LSB;
}

std::vector<std::string> namesIn(const std::string& image, const Elf64_Shdr& dynamic,
                                 const Elf64_Shdr& strings) {
  std::vector<std::string> names;
  for (std::uint64_t at = 0; at + sizeof(Elf64_Dyn) <= dynamic.sh_size; at += sizeof(Elf64_Dyn)) {
    Elf64_Dyn entry{};
    if (!readAt(image, dynamic.sh_offset + at, entry) || entry.d_tag == DT_NULL) {
      break;
    }
    const std::uint64_t name = strings.sh_offset + entry.d_un.d_val;
    if (entry.d_tag == DT_NEEDED && entry.d_un.d_val < strings.sh_size && name < image.size()) {
      names.emplace_back(image.c_str() + name);
    }
  }
  return names;
}

}  // namespace

std::vector<std::string> neededLibraries(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  const std::string image((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  Elf64_Ehdr header{};
  if (!readAt(image, 0, header) || !isElf64(header)) {
    return {};
  }
  for (std::uint16_t i = 0; i < header.e_shnum; ++i) {
    Elf64_Shdr section{};
    Elf64_Shdr strings{};
    if (!readAt(image, header.e_shoff + std::uint64_t{i} * header.e_shentsize, section)) {
      return {};
    }
    if (section.sh_type == SHT_DYNAMIC &&
        readAt(image, header.e_shoff + std::uint64_t{section.sh_link} * header.e_shentsize,
               strings)) {
      return namesIn(image, section, strings);
    }
  }
  return {};
}

bool importsInteropLibrary(const std::string& pluginPath) {
  for (const std::string& name : neededLibraries(pluginPath)) {
    if (name == kInteropSoname) {
      return true;
    }
  }
  return false;
}

}  // namespace bvhost
