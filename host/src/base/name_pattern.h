// A POSIX extended regular expression, as `bvhost validate --only` takes one
// to choose checks by name. Through the C library's regcomp, which is what
// the option's users know from grep -E, and costs a build far less than
// <regex>.
#pragma once

#include <regex.h>

#include <string>

namespace bvhost {

class NamePattern {
 public:
  // Throws std::invalid_argument with the C library's reason when `pattern`
  // is no extended regular expression.
  explicit NamePattern(const std::string& pattern);
  ~NamePattern();
  NamePattern(const NamePattern&) = delete;
  NamePattern& operator=(const NamePattern&) = delete;

  // Whether the pattern matches anywhere in `name`.
  bool search(const std::string& name) const;

 private:
  regex_t compiled_{};
};

}  // namespace bvhost
