// A path cut at its last slash, the one way every part of bvhost does it:
// by text alone, without asking the file system.
#pragma once

#include <cstddef>
#include <string>

namespace bvhost {

struct PathParts {
  std::string folder;
  std::string name;
};

// "dir/a.bdf" is folder "dir" and name "a.bdf", "a.bdf" is "." and "a.bdf",
// and "/a.bdf" is "/" and "a.bdf".
PathParts splitPath(const std::string& path);

// The folder a path lies in, as splitPath gives it.
std::string folderOf(const std::string& path);

// splitPath undone: joinPath("/", "a") is "/a", not "//a".
std::string joinPath(const std::string& folder, const std::string& name);

// Where the last component begins: just after the last slash, or 0.
std::size_t nameStart(const std::string& path);

// Where the extension of the last component begins (at its dot), or npos
// when the name has none; a name's leading dot starts no extension.
std::size_t extensionStart(const std::string& path);

}  // namespace bvhost
