#include "files/file_status.h"

#include <sys/sysmacros.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

namespace bvhost {

const char* fileKindText(mode_t mode) {
  if (S_ISDIR(mode)) return "a directory";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISLNK(mode)) return "a symbolic link";
  return "a special file";
}

long flockHolder(const struct stat& file) {
  std::ifstream locks("/proc/locks");
  char device[64];
  std::snprintf(device, sizeof device, "%02x:%02x:%llu", major(file.st_dev), minor(file.st_dev),
                static_cast<unsigned long long>(file.st_ino));
  for (std::string line; std::getline(locks, line);) {
    // "1: FLOCK  ADVISORY  WRITE 1234 08:01:5678 0 EOF"; a waiting lock's
    // line has "->" where FLOCK stands, and its process holds nothing yet.
    std::istringstream words(line);
    std::string number, kind, mode, access, where;
    long pid = 0;
    if (words >> number >> kind >> mode >> access >> pid >> where && kind == "FLOCK" &&
        where == device) {
      return pid;
    }
  }
  return 0;
}

}  // namespace bvhost
