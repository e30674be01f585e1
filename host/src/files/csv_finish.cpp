#include "files/csv_finish.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "base/posix_io.h"
#include "files/output_error.h"

namespace bvhost {
namespace {

[[noreturn]] void fail(const std::string& doing, const std::string& name, int error = errno) {
  throw OutputError(doing + " " + name + ": " + std::strerror(error));
}

}  // namespace

std::uint64_t finishCsvFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) {
    throw OutputError("cannot open " + path + ": " + std::strerror(errno));
  }
  std::uint64_t cut = 0;
  try {
    cut = finishCsvFile(fd, path);
  } catch (...) {
    ::close(fd);
    throw;
  }
  if (::close(fd) != 0) {
    throw OutputError("cannot close " + path + ": " + std::strerror(errno));
  }
  return cut;
}

std::uint64_t finishCsvFile(int fd, const std::string& name) {
  struct stat status {};
  if (::fstat(fd, &status) != 0) {
    fail("cannot read the size of", name);
  }
  const auto size = static_cast<std::uint64_t>(status.st_size);
  // Searched backwards a block at a time: a row is short, the file may not be.
  std::vector<char> block(1 << 16);
  std::uint64_t end = size;
  std::uint64_t keep = 0;
  bool found = false;
  while (end > 0 && !found) {
    const std::uint64_t begin = end - std::min<std::uint64_t>(end, block.size());
    const auto length = static_cast<std::size_t>(end - begin);
    if (const int error = readAllAt(fd, block.data(), length, begin); error != 0) {
      fail("cannot read", name, error);
    }
    for (std::size_t i = length; i > 0; --i) {
      if (block[i - 1] == '\n') {
        keep = begin + i;
        found = true;
        break;
      }
    }
    end = begin;
  }
  const std::uint64_t cut = size - keep;
  if (cut > 0 && ::ftruncate(fd, static_cast<off_t>(keep)) != 0) {
    fail("cannot cut the half-written last row of", name);
  }
  if (::fsync(fd) != 0) {
    fail("cannot flush", name);
  }
  return cut;
}

}  // namespace bvhost
