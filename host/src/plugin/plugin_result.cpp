#include "plugin/plugin_result.h"

namespace bvhost {

std::string describe(const PluginResult& result) {
  std::string text = "code " + std::to_string(result.code);
  if (result.message != nullptr) {
    text += " \"" + std::string(result.message) + "\"";
  } else {
    text += " (no message)";
  }
  return text;
}

std::string_view view(const StringRef& ref) {
  if (ref.data == nullptr) {
    return {};
  }
  return {ref.data, static_cast<std::size_t>(ref.length)};
}

void require(const char* call, const PluginResult& result) {
  if (!succeeded(result)) {
    throw Refused(call, result);
  }
}

}  // namespace bvhost
