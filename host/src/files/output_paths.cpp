#include "files/output_paths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "files/annotation_journal.h"
#include "files/file_paths.h"
#include "files/file_status.h"
#include "files/partial_name.h"

namespace bvhost {
namespace {

std::optional<std::string> realPath(const std::string& path) {
  char resolved[PATH_MAX];
  if (::realpath(path.c_str(), resolved) == nullptr) {
    return std::nullopt;
  }
  return std::string(resolved);
}

std::string linkTarget(const std::string& link) {
  char target[PATH_MAX];
  const ssize_t length = ::readlink(link.c_str(), target, sizeof target);
  return length < 0 ? std::string("?") : std::string(target, static_cast<std::size_t>(length));
}

// The folder a new file will be created in must exist; it is reported as
// the user named it.
void checkFolderExists(const std::string& given, const std::string& folder) {
  struct stat info {};
  if (::stat(folder.c_str(), &info) != 0) {
    const int code = errno;
    if (code == ENOENT) {
      throw OutputError("cannot write " + given + ": folder " + folder + " does not exist");
    }
    if (code == ENOTDIR) {
      throw OutputError("cannot write " + given + ": " + folder + " is not a folder");
    }
    throw OutputError("cannot write " + given + ": cannot reach folder " + folder + ": " +
                      std::strerror(code));
  }
  if (!S_ISDIR(info.st_mode)) {
    throw OutputError("cannot write " + given + ": " + folder + " is not a folder");
  }
}

// While it is written a recording carries a longer name (and an EDF+ one a
// journal with a longer one still), which must fit the file system too: a
// name that does not would fail only after connecting and starting.
void checkNameLength(const std::string& given, const std::string& finalPath) {
  const auto [folder, name] = splitPath(finalPath);
  const long limit = ::pathconf(folder.c_str(), _PC_NAME_MAX);
  if (limit <= 0) {
    return;
  }
  int suffixLength = 0;
  const std::string longest =
      splitPath(journalPathFor(partialTemplate(finalPath, suffixLength))).name;
  if (longest.size() > static_cast<std::size_t>(limit)) {
    throw OutputError("cannot write " + given + ": its name is too long for the file system (" +
                      std::to_string(name.size()) + " characters; while recording bvhost adds " +
                      std::to_string(longest.size() - name.size()) + " to it, and names there " +
                      "hold at most " + std::to_string(limit) + ")");
  }
}

struct CheckedOutput {
  std::string finalPath;
  bool exists = false;
  dev_t device = 0;
  ino_t inode = 0;
};

CheckedOutput checkOne(const std::string& given) {
  struct stat info {};
  if (::stat(given.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
    throw OutputError(given + " is a directory");
  }

  CheckedOutput checked;
  // Where the partial file will be created and renamed, so what must let
  // us add entries; named as the user gave it where it is theirs.
  std::string shownFolder;
  struct stat linkInfo {};
  if (::lstat(given.c_str(), &linkInfo) == 0 && S_ISLNK(linkInfo.st_mode)) {
    const auto target = realPath(given);
    if (!target) {
      const int code = errno;
      if (code == ENOENT) {
        throw OutputError(given + " is a symbolic link to " + linkTarget(given) +
                          ", which does not exist; give the file itself");
      }
      throw OutputError("cannot follow the symbolic link " + given + ": " + std::strerror(code));
    }
    checked.finalPath = *target;
    shownFolder = folderOf(*target);
  } else {
    const auto [folder, name] = splitPath(given);
    checkFolderExists(given, folder);
    const auto realFolder = realPath(folder);
    if (!realFolder) {
      const int code = errno;
      throw OutputError("cannot write " + given + ": cannot resolve folder " + folder + ": " +
                        std::strerror(code));
    }
    checked.finalPath = joinPath(*realFolder, name);
    shownFolder = folder;
  }

  if (::stat(checked.finalPath.c_str(), &info) == 0) {
    if (!S_ISREG(info.st_mode)) {
      throw OutputError(given + " is " + fileKindText(info.st_mode) + ", not a regular file");
    }
    checked.exists = true;
    checked.device = info.st_dev;
    checked.inode = info.st_ino;
  } else if (const int code = errno; code != ENOENT) {
    throw OutputError("cannot write " + given + ": " + std::strerror(code));
  }

  checkNameLength(given, checked.finalPath);
  if (::access(folderOf(checked.finalPath).c_str(), W_OK | X_OK) != 0) {
    const int code = errno;
    throw OutputError("cannot write " + given + ": folder " + shownFolder + " is not writable (" +
                      std::strerror(code) + ")");
  }
  return checked;
}

bool sameFile(const CheckedOutput& a, const CheckedOutput& b) {
  if (a.finalPath == b.finalPath) {
    return true;
  }
  return a.exists && b.exists && a.device == b.device && a.inode == b.inode;
}

}  // namespace

void checkOutputs(std::vector<OutputFile>& outputs) {
  std::vector<CheckedOutput> checked;
  checked.reserve(outputs.size());
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    checked.push_back(checkOne(outputs[i].path));
    for (std::size_t earlier = 0; earlier < i; ++earlier) {
      if (sameFile(checked[earlier], checked[i])) {
        throw OutputError("--out " + outputs[earlier].path + " and --out " + outputs[i].path +
                          " name the same file");
      }
    }
  }
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    outputs[i].finalPath = checked[i].finalPath;
  }
}

}  // namespace bvhost
