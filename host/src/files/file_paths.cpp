#include "files/file_paths.h"

namespace bvhost {

std::size_t nameStart(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? 0 : slash + 1;
}

PathParts splitPath(const std::string& path) {
  const std::size_t start = nameStart(path);
  if (start == 0) {
    return {".", path};
  }
  return {start == 1 ? "/" : path.substr(0, start - 1), path.substr(start)};
}

std::string folderOf(const std::string& path) { return splitPath(path).folder; }

std::string joinPath(const std::string& folder, const std::string& name) {
  return folder == "/" ? "/" + name : folder + "/" + name;
}

std::size_t extensionStart(const std::string& path) {
  const auto dot = path.rfind('.');
  if (dot == std::string::npos || dot <= nameStart(path)) {
    return std::string::npos;
  }
  return dot;
}

}  // namespace bvhost
