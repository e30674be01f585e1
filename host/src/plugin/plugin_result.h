// Small readers for the records that come back across the boundary.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

#include "kessra_plugin.h"

namespace bvhost {

inline bool succeeded(const PluginResult& result) {
  return result.code == 0 && result.message == nullptr;
}

// "code 1 \"Device not connected\"", for messages to a person.
std::string describe(const PluginResult& result);

// A StringRef as text; an absent text reads as empty.
std::string_view view(const StringRef& ref);

// Thrown when the plug-in refuses a call that a command cannot do without.
class Refused : public std::runtime_error {
 public:
  Refused(const std::string& call, const PluginResult& result)
      : std::runtime_error(call + " failed: " + describe(result)) {}
};

// Turns a refusal into a Refused exception naming the call.
void require(const char* call, const PluginResult& result);

}  // namespace bvhost
