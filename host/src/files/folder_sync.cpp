#include "files/folder_sync.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace bvhost {

int syncFolder(const std::string& folder) noexcept {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    return errno;
  }
  const int result = ::fsync(fd) == 0 || errno == EINVAL ? 0 : errno;
  ::close(fd);
  return result;
}

}  // namespace bvhost
