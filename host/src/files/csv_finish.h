// Completes a CSV file whose writer died mid-row.
#pragma once

#include <cstdint>
#include <string>

namespace bvhost {

// Cuts the file after its last line break, so no half-written row remains,
// and flushes it; returns how many bytes were cut. Throws OutputError.
std::uint64_t finishCsvFile(const std::string& path);

// The same through fd, open for reading and writing, which stays open; name
// is for messages only.
std::uint64_t finishCsvFile(int fd, const std::string& name);

}  // namespace bvhost
