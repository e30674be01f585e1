#include "base/name_pattern.h"

#include <stdexcept>

namespace bvhost {

NamePattern::NamePattern(const std::string& pattern) {
  const int error = ::regcomp(&compiled_, pattern.c_str(), REG_EXTENDED | REG_NOSUB);
  if (error != 0) {
    char reason[256];
    ::regerror(error, &compiled_, reason, sizeof reason);
    // regcomp frees what it took when it fails.
    throw std::invalid_argument(reason);
  }
}

NamePattern::~NamePattern() { ::regfree(&compiled_); }

bool NamePattern::search(const std::string& name) const {
  return ::regexec(&compiled_, name.c_str(), 0, nullptr, 0) == 0;
}

}  // namespace bvhost
