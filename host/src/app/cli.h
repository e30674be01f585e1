// The command line of bvhost, parsed into one request per subcommand.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

#include "app/record_command.h"

namespace bvhost {

class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct HelpRequest {};
struct VersionRequest {};
// The usage as a manual page; the installed bvhost(1) is its output.
struct ManRequest {};

struct InfoRequest {
  std::string plugin;
};

struct ValidateRequest {
  std::string plugin;
  std::optional<std::uint64_t> seed;
  std::optional<std::string> only;
};

struct RepairRequest {
  std::string file;
  std::optional<std::string> out;
};

struct MarkRequest {
  std::string text;
  std::optional<std::string> to;
};

using Request = std::variant<HelpRequest, VersionRequest, ManRequest, InfoRequest, RecordOptions,
                             ValidateRequest, RepairRequest, MarkRequest>;

// Throws UsageError naming the offending argument.
Request parseCommandLine(const std::vector<std::string>& arguments);

std::string usageText();

// usageText() as a roff page for man(1): the same words, so the two never
// disagree.
std::string manPage();

// bvhost's own version and the EDFlib it writes with, one per line.
std::string versionText();

}  // namespace bvhost
