// Why a write to a recording failed, in words a person acts on: a full disk,
// an I/O error, or the process's file size limit (ulimit -f), which the
// system reports only as "File too large" or not at all.
#pragma once

#include <cstdint>
#include <string>

namespace bvhost {

// `error` is the errno the write gave, or 0 when the file merely came out
// shorter than `wantedBytes`; the file size limit is named when it explains
// the failure.
std::string writeFailureReason(int error, std::uint64_t wantedBytes);

}  // namespace bvhost
