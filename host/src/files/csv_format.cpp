#include "files/csv_format.h"

#include <string>

namespace bvhost {

bool beginsAsBvhostCsv(std::string_view start) {
  const std::string prefix = std::string(kCsvFirstLine) + " of ";
  const auto lineEnd = start.find('\n');
  return start.starts_with(prefix) && lineEnd != std::string_view::npos &&
         start.substr(lineEnd + 1).starts_with(kCsvColumns);
}

}  // namespace bvhost
