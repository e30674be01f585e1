#include "files/csv_finish.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "files/output_error.h"

namespace bvhost {
namespace {

[[noreturn]] void fail(const std::string& doing, const std::string& name) {
  throw OutputError(doing + " " + name + ": " + std::strerror(errno));
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
    std::size_t got = 0;
    while (got < length) {
      const ssize_t n =
          ::pread(fd, block.data() + got, length - got, static_cast<off_t>(begin + got));
      if (n < 0 && errno == EINTR) {
        continue;
      }
      if (n <= 0) {
        if (n == 0) {
          errno = EIO;
        }
        fail("cannot read", name);
      }
      got += static_cast<std::size_t>(n);
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
