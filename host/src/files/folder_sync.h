// Durability of a folder's entries: a file created or moved survives a power
// loss only once its folder is synced too.
#pragma once

#include <string>

namespace bvhost {

// Returns 0, or the errno of the failure. A file system that cannot sync a
// folder says EINVAL; there is nothing more to do there, so that counts as 0.
int syncFolder(const std::string& folder) noexcept;

}  // namespace bvhost
