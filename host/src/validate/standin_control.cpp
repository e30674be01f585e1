#include "validate/standin_control.h"

#include <dlfcn.h>

#include <filesystem>

#include "validate/check_runner.h"
#include "validate/elf_imports.h"

namespace bvhost {
namespace {

constexpr const char* kStandInFile = "libbvhost_interop_standin.so";

std::filesystem::path ownFolder() {
  std::error_code error;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::filesystem::path(".") : self.parent_path();
}

}  // namespace

std::string standInPath() {
  const std::filesystem::path folder = ownFolder();
  for (const auto& candidate :
       {folder / kStandInFile, folder / ".." / "lib" / "bvhost" / kStandInFile}) {
    std::error_code error;
    if (std::filesystem::exists(candidate, error)) {
      return candidate.lexically_normal().string();
    }
  }
  throw CheckFailed(std::string("cannot run: bvhost's interop stand-in ") + kStandInFile +
                    " is neither beside bvhost nor in ../lib/bvhost");
}

standin::Script& useStandIn(CheckContext& context) {
  if (!importsInteropLibrary(context.path())) {
    throw CheckSkipped("the plug-in does not import libOrvaneAPI_Interop.so");
  }
  expect(!context.loaded(), "the stand-in must be loaded before the plug-in");
  // Loaded first and globally, its SONAME satisfies the plug-in's import, so
  // the loader never reaches for the library beside the plug-in.
  const std::string path = standInPath();
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_GLOBAL);
  if (handle == nullptr) {
    const char* reason = dlerror();
    throw CheckFailed("cannot load the interop stand-in " + path + ": " +
                      (reason != nullptr ? reason : "unknown reason"));
  }
  auto* accessor = reinterpret_cast<void* (*)()>(dlsym(handle, kStandInScriptSymbol));
  expect(accessor != nullptr, "the interop stand-in " + path + " exports no script");
  return *static_cast<standin::Script*>(accessor());
}

}  // namespace bvhost
