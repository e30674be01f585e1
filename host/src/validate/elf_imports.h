// The libraries an ELF shared object names as needed (DT_NEEDED), read from
// the file without loading it, so validate can tell which plug-ins import the
// maker's interop library before any check runs their code.
#pragma once

#include <string>
#include <vector>

namespace bvhost {

// Empty when the file is no 64-bit little-endian ELF or has no dynamic
// section.
std::vector<std::string> neededLibraries(const std::string& path);

bool importsInteropLibrary(const std::string& pluginPath);

}  // namespace bvhost
