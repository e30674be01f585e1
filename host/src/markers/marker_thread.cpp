#include "markers/marker_thread.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace bvhost {

WakePipe::WakePipe() {
  if (::pipe2(fds_, O_CLOEXEC | O_NONBLOCK) != 0) {
    throw std::system_error(errno, std::generic_category(), "cannot make a pipe");
  }
}

WakePipe::~WakePipe() {
  ::close(fds_[0]);
  ::close(fds_[1]);
}

void WakePipe::wake() noexcept {
  const char byte = 1;
  // A full pipe wakes the reader as well as one more byte would.
  while (::write(fds_[1], &byte, 1) < 0 && errno == EINTR) {
  }
}

}  // namespace bvhost
