#include "files/write_failure.h"

#include <sys/resource.h>

#include <cerrno>
#include <cstring>

namespace bvhost {

std::string writeFailureReason(int error, std::uint64_t wantedBytes) {
  rlimit limit{};
  const bool limited = ::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY;
  if (limited && (error == EFBIG || wantedBytes > limit.rlim_cur)) {
    return "the file size limit of " + std::to_string(limit.rlim_cur) +
           " bytes (ulimit -f) is reached";
  }
  if (error == 0) {
    return "the file is shorter than what was written to it";
  }
  return std::strerror(error);
}

}  // namespace bvhost
