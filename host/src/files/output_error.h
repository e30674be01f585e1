// A file that could not be written, completed, read or put in place; the
// message names the file and why.
#pragma once

#include <stdexcept>

namespace bvhost {

class OutputError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace bvhost
