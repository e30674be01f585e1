#include "files/partial_name.h"

#include "files/file_paths.h"

namespace bvhost {
namespace {

constexpr const char* kMarker = ".partial-";
constexpr std::size_t kUniqueLength = 6;

}  // namespace

std::string partialTemplate(const std::string& finalPath, int& suffixLength) {
  const std::size_t dot = extensionStart(finalPath);
  const std::string stem = dot == std::string::npos ? finalPath : finalPath.substr(0, dot);
  const std::string extension = dot == std::string::npos ? "" : finalPath.substr(dot);
  suffixLength = static_cast<int>(extension.size());
  return stem + kMarker + std::string(kUniqueLength, 'X') + extension;
}

std::optional<std::string> intendedPath(const std::string& partialPath) {
  const std::size_t dot = extensionStart(partialPath);
  const std::size_t end = dot == std::string::npos ? partialPath.size() : dot;
  const std::size_t markerLength = std::char_traits<char>::length(kMarker);
  if (end < markerLength + kUniqueLength) {
    return std::nullopt;
  }
  const std::size_t marker = end - kUniqueLength - markerLength;
  // The marker belongs to the file's own name, not to a folder's.
  if (marker < nameStart(partialPath) || partialPath.compare(marker, markerLength, kMarker) != 0) {
    return std::nullopt;
  }
  return partialPath.substr(0, marker) + partialPath.substr(end);
}

}  // namespace bvhost
