#include "plugin/plugin_loader.h"

#include <dlfcn.h>

#include <filesystem>
#include <string_view>

#include "base/exit_codes.h"

namespace bvhost {

int LoadError::exitCode() const {
  switch (kind_) {
    case Kind::MissingFile:
    case Kind::NotLoadable:
      return kExitCannotLoad;
    case Kind::NotAPlugin:
    case Kind::MissingEntryPoints:
      return kExitNotAPlugin;
  }
  return kExitCannotLoad;
}

std::string missingLibraryHint(const std::string& pluginPath, const std::string& reason) {
  // glibc names a dependency it cannot find by its DT_NEEDED name, without a
  // folder, and nothing more: a lab that installed the plug-in without the
  // simulator is left to guess where the maker's library belongs.
  constexpr std::string_view cannotOpen = ": cannot open shared object file";
  const auto end = reason.find(cannotOpen);
  if (end == std::string::npos || end == 0) {
    return {};
  }
  const std::string library = reason.substr(0, end);
  if (library.find('/') != std::string::npos) {
    return {};
  }
  std::error_code error;
  auto folder = std::filesystem::path(pluginPath).parent_path();
  if (const auto absolute = std::filesystem::absolute(folder, error); !error) {
    folder = absolute.lexically_normal();
  }
  const auto shown = folder.empty() ? std::string("./") : (folder / "").string();
  std::string hint =
      "\n" + library +
      " is missing. A library the plug-in brings with it belongs in its own folder, " + shown +
      ", where a plug-in linked with RUNPATH $ORIGIN finds it.";
  if (library == "libOrvaneAPI_Interop.so") {
    hint += "\nPut the maker's libOrvaneAPI_Interop.so in " + shown +
            "; to run without the hardware, the kessra-simulator package (or the simulator "
            "component of cmake --install) puts a simulated stand-in there.";
  }
  return hint;
}

std::string pathForDlopen(const std::string& path) {
  return path.find('/') == std::string::npos ? "./" + path : path;
}

Plugin::Plugin(const std::string& path, bool requireAll) : path_(path) {
  std::error_code error;
  if (!std::filesystem::exists(path, error)) {
    throw LoadError(LoadError::Kind::MissingFile, "no such file: " + path);
  }
  if (std::filesystem::is_directory(path, error)) {
    throw LoadError(LoadError::Kind::NotLoadable, path + " is a directory, not a plug-in library");
  }
  dlerror();
  handle_ = dlopen(pathForDlopen(path).c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) {
    const char* reason = dlerror();
    throw LoadError(LoadError::Kind::NotLoadable,
                    "cannot load " + path + ": " + (reason != nullptr ? reason : "unknown reason") +
                        (reason != nullptr ? missingLibraryHint(path, reason) : std::string()));
  }
  int found = 0;
#define BVHOST_LOOK_UP(name)                                                \
  api_.name = reinterpret_cast<decltype(api_.name)>(dlsym(handle_, #name)); \
  if (api_.name == nullptr) {                                               \
    missing_.emplace_back(#name);                                           \
  } else {                                                                  \
    ++found;                                                                \
  }
  BVHOST_ENTRY_POINTS(BVHOST_LOOK_UP)
#undef BVHOST_LOOK_UP
  if (found == 0) {
    dlclose(handle_);
    throw LoadError(LoadError::Kind::NotAPlugin,
                    path + " loads, but it is no plug-in: it exports none of the " +
                        std::to_string(kEntryPointCount) + " bv_* entry points");
  }
  if (requireAll && !missing_.empty()) {
    std::string names;
    for (const auto& name : missing_) {
      names += (names.empty() ? "" : ", ") + name;
    }
    dlclose(handle_);
    throw LoadError(LoadError::Kind::MissingEntryPoints,
                    path + " lacks entry point" + (missing_.size() > 1 ? "s " : " ") + names);
  }
}

Plugin::~Plugin() {
  if (handle_ != nullptr) {
    dlclose(handle_);
  }
}

}  // namespace bvhost
