#include "files/partial_name.h"

namespace bvhost {
namespace {

constexpr const char* kMarker = ".partial-";
constexpr std::size_t kUniqueLength = 6;

// Where the extension starts within the last path component, or npos.
std::size_t extensionStart(const std::string& path) {
  const auto slash = path.rfind('/');
  const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  const auto dot = path.rfind('.');
  if (dot == std::string::npos || dot <= nameStart) {
    return std::string::npos;
  }
  return dot;
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
  const std::size_t dot = extensionStart(partialPath);
  const std::size_t end = dot == std::string::npos ? partialPath.size() : dot;
  const std::size_t markerLength = std::char_traits<char>::length(kMarker);
  if (end < markerLength + kUniqueLength) {
    return std::nullopt;
  }
  const std::size_t marker = end - kUniqueLength - markerLength;
  if (partialPath.compare(marker, markerLength, kMarker) != 0) {
    return std::nullopt;
  }
  const auto slash = partialPath.rfind('/');
  if (slash != std::string::npos && marker <= slash) {
    return std::nullopt;
  }
  return partialPath.substr(0, marker) + partialPath.substr(end);
}

}  // namespace bvhost
