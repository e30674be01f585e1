// Which plug-ins get validate's device checks is read from the ELF file
// itself; a file that is cut short or no ELF at all must give no imports,
// never a read past its end.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>

#include "validate/elf_imports.h"

using namespace bvhost;
using ::testing::Contains;
using ::testing::IsEmpty;

namespace {

std::string writeFile(const std::string& name, const std::string& bytes) {
  const std::string path = testing::TempDir() + name;
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

}  // namespace

TEST(ElfImports, ReadsTheNeededLibrariesOfALinkedFile) {
  EXPECT_THAT(neededLibraries("/proc/self/exe"), Contains("libc.so.6"));
  EXPECT_FALSE(importsInteropLibrary("/proc/self/exe"));
}

TEST(ElfImports, FindsNothingInAFileCutShortOrNotElf) {
  std::ifstream self("/proc/self/exe", std::ios::binary);
  const std::string image((std::istreambuf_iterator<char>(self)), std::istreambuf_iterator<char>());
  for (const std::size_t length :
       {std::size_t{0}, std::size_t{16}, std::size_t{64}, std::size_t{4096}}) {
    EXPECT_THAT(neededLibraries(writeFile("cut.so", image.substr(0, length))), IsEmpty()) << length;
  }
  EXPECT_THAT(neededLibraries(writeFile("text.so", "libOrvaneAPI_Interop.so\n")), IsEmpty());
  EXPECT_THAT(neededLibraries(testing::TempDir() + "no-such-file.so"), IsEmpty());
}
