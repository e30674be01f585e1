// The values bvhost's options take, read from their text; each throws
// UsageError naming the option and what it takes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "app/cli.h"

namespace bvhost {

// on or off.
bool parseSwitch(const std::string& option, const std::string& value);
OutputFormat parseFormat(const std::string& value);
SummaryDetail parseSummary(const std::string& value);
double parseSeconds(const std::string& value);
int parsePort(const std::string& value);
std::uint64_t parseSeed(const std::string& value);

// The word --format takes for a format, and the name readers know it by.
std::string formatWord(OutputFormat format);
std::string formatName(OutputFormat format);
// The format a file's extension names, in any case; none for another one.
std::optional<OutputFormat> formatFromExtension(const std::string& path);

}  // namespace bvhost
