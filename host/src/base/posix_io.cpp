#include "base/posix_io.h"

#include <sys/random.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

namespace bvhost {
namespace {

// write(2) or pwrite(2) until every byte is through.
template <typename Write>
int writeEvery(const void* data, std::size_t size, std::size_t* written, Write write) noexcept {
  const auto* bytes = static_cast<const char*>(data);
  std::size_t done = 0;
  int error = 0;
  while (done < size) {
    const ssize_t put = write(bytes + done, size - done, done);
    if (put > 0) {
      done += static_cast<std::size_t>(put);
    } else if (put == 0) {
      error = EIO;
      break;
    } else if (errno != EINTR) {
      error = errno;
      break;
    }
  }
  if (written != nullptr) {
    *written = done;
  }
  return error;
}

}  // namespace

int writeAll(int fd, const void* data, std::size_t size, std::size_t* written) noexcept {
  return writeEvery(data, size, written, [fd](const char* from, std::size_t length, std::size_t) {
    return ::write(fd, from, length);
  });
}

int writeAllAt(int fd, const void* data, std::size_t size, std::uint64_t offset) noexcept {
  return writeEvery(data, size, nullptr,
                    [fd, offset](const char* from, std::size_t length, std::size_t done) {
                      return ::pwrite(fd, from, length, static_cast<off_t>(offset + done));
                    });
}

int readUpTo(int fd, void* data, std::size_t size, std::uint64_t offset,
             std::size_t& got) noexcept {
  auto* bytes = static_cast<char*>(data);
  got = 0;
  while (got < size) {
    const ssize_t n = ::pread(fd, bytes + got, size - got, static_cast<off_t>(offset + got));
    if (n > 0) {
      got += static_cast<std::size_t>(n);
    } else if (n == 0) {
      break;
    } else if (errno != EINTR) {
      return errno;
    }
  }
  return 0;
}

int readAllAt(int fd, void* data, std::size_t size, std::uint64_t offset) noexcept {
  std::size_t got = 0;
  const int error = readUpTo(fd, data, size, offset, got);
  return error != 0 ? error : got < size ? EIO : 0;
}

int readSome(int fd, void* data, std::size_t size, std::size_t& got) noexcept {
  for (;;) {
    const ssize_t n = ::read(fd, data, size);
    if (n >= 0) {
      got = static_cast<std::size_t>(n);
      return 0;
    }
    if (errno != EINTR) {
      got = 0;
      return errno;
    }
  }
}

int pollUntil(pollfd& entry, std::chrono::steady_clock::time_point deadline) noexcept {
  for (;;) {
    // Rounded up: a timeout cut short would wake early and poll again and
    // again in the last millisecond.
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
            .count();
    const auto timeout = static_cast<int>(std::clamp<decltype(left)>(left, 0, INT_MAX));
    const int ready = ::poll(&entry, 1, timeout);
    if (ready >= 0) {
      return ready;
    }
    if (errno != EINTR) {
      return -1;
    }
  }
}

int waitForChild(pid_t pid, int& status) noexcept {
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) {
      return errno;
    }
  }
  return 0;
}

int fillRandom(void* data, std::size_t size) noexcept {
  auto* bytes = static_cast<unsigned char*>(data);
  std::size_t filled = 0;
  while (filled < size) {
    const ssize_t got = ::getrandom(bytes + filled, size - filled, 0);
    if (got > 0) {
      filled += static_cast<std::size_t>(got);
    } else if (got < 0 && errno != EINTR) {
      return errno;
    }
  }
  return 0;
}

}  // namespace bvhost
