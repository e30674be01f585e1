#include "files/partial_name.h"

#include "files/file_paths.h"

namespace bvhost {
namespace {

constexpr const char* kMarker = ".partial-";
constexpr std::size_t kUniqueLength = 6;

// The target when the marker and its unique part end where `end` is, after
// at least the first character of the file's own name: a template keeps
// that much of the target's name, and a folder's name is not the file's.
std::optional<std::string> targetWithMarkerBefore(const std::string& partialPath, std::size_t end) {
  const std::size_t markerLength = std::char_traits<char>::length(kMarker);
  if (end < markerLength + kUniqueLength) {
    return std::nullopt;
  }
  const std::size_t marker = end - kUniqueLength - markerLength;
  if (marker <= nameStart(partialPath) || partialPath.compare(marker, markerLength, kMarker) != 0) {
    return std::nullopt;
  }
  return partialPath.substr(0, marker) + partialPath.substr(end);
}

}  // namespace

std::string partialTemplate(const std::string& finalPath, int& suffixLength) {
  const std::size_t dot = extensionStart(finalPath);
  const std::string stem = dot == std::string::npos ? finalPath : finalPath.substr(0, dot);
  const std::string extension = dot == std::string::npos ? "" : finalPath.substr(dot);
  suffixLength = static_cast<int>(extension.size());
  return stem + kMarker + std::string(kUniqueLength, 'X') + extension;
}

std::optional<std::string> intendedPath(const std::string& partialPath) {
  // The marker stands before the target's extension; a target without one
  // ends in the marker, whose own dot then looks like an extension.
  if (const std::size_t dot = extensionStart(partialPath); dot != std::string::npos) {
    if (auto target = targetWithMarkerBefore(partialPath, dot)) {
      return target;
    }
  }
  return targetWithMarkerBefore(partialPath, partialPath.size());
}

}  // namespace bvhost
