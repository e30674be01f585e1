// Completes a CSV file whose writer died mid-row.
#pragma once

#include <cstdint>
#include <string>

namespace bvhost {

// Cuts the file after its last line break, so no half-written row remains,
// and flushes it; returns how many bytes were cut. Throws OutputError.
std::uint64_t finishCsvFile(const std::string& path);

}  // namespace bvhost
