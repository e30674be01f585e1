// What the system tells of a file besides its bytes, put into words for
// messages: what kind of file stands at a name, and who holds it locked.
#pragma once

#include <sys/stat.h>

namespace bvhost {

// "a directory", "a FIFO", "a symbolic link" and so on, for a file that is
// not the regular file a recording must be.
const char* fileKindText(mode_t mode);

// The process holding a flock on the file, as /proc/locks tells; 0 when it
// does not say.
long flockHolder(const struct stat& file);

}  // namespace bvhost
