// The arguments of one command, read an option at a time, each taking its
// value from the next argument or from after its "=".
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "app/cli.h"

namespace bvhost {

class ArgumentReader {
 public:
  ArgumentReader(const std::vector<std::string>& arguments, std::size_t start)
      : arguments_(arguments), next_(start) {}

  bool done() const { return next_ >= arguments_.size(); }

  // Splits "--name=value" so both spellings work.
  std::string option() {
    std::string argument = arguments_[next_++];
    pendingValue_.reset();
    const auto equals = argument.find('=');
    if (argument.rfind("--", 0) == 0 && equals != std::string::npos) {
      pendingValue_ = argument.substr(equals + 1);
      argument.resize(equals);
    }
    return argument;
  }

  std::string value(const std::string& option) {
    if (pendingValue_) {
      std::string value = *pendingValue_;
      pendingValue_.reset();
      return value;
    }
    if (done()) {
      throw UsageError("option " + option + " needs a value");
    }
    return arguments_[next_++];
  }

 private:
  const std::vector<std::string>& arguments_;
  std::size_t next_;
  std::optional<std::string> pendingValue_;
};

}  // namespace bvhost
