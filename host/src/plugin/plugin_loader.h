// Loads a plug-in by path the way a host does: dlopen(RTLD_NOW | RTLD_LOCAL)
// and dlsym of the sixteen names. Nothing is linked, so any library can be
// examined, and a missing entry point is reported by name rather than as a
// loader failure.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "plugin/function_table.h"

namespace bvhost {

class LoadError : public std::runtime_error {
 public:
  enum class Kind { MissingFile, NotLoadable, NotAPlugin, MissingEntryPoints };
  LoadError(Kind kind, const std::string& message) : std::runtime_error(message), kind_(kind) {}
  Kind kind() const { return kind_; }
  int exitCode() const;

 private:
  Kind kind_;
};

class Plugin {
 public:
  // Throws LoadError unless the file loads; with requireAll, also unless all
  // sixteen entry points are there.
  Plugin(const std::string& path, bool requireAll);
  ~Plugin();
  Plugin(const Plugin&) = delete;
  Plugin& operator=(const Plugin&) = delete;

  const EntryPoints& api() const { return api_; }
  const std::vector<std::string>& missing() const { return missing_; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  void* handle_ = nullptr;
  EntryPoints api_;
  std::vector<std::string> missing_;
};

// Where a library that dlopen reports missing (`reason`, dlerror's text) must
// go for the plug-in at pluginPath to load, on lines of their own; empty when
// the reason is another.
std::string missingLibraryHint(const std::string& pluginPath, const std::string& reason);

// dlopen accepts a bare name and then searches the library path; a host given
// a file must load exactly that file.
std::string pathForDlopen(const std::string& path);

}  // namespace bvhost
