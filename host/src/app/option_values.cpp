#include "app/option_values.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <exception>

#include "base/frame_period.h"

namespace bvhost {

bool parseSwitch(const std::string& option, const std::string& value) {
  if (value == "on") {
    return true;
  }
  if (value == "off") {
    return false;
  }
  throw UsageError("option " + option + " takes on or off, not '" + value + "'");
}

OutputFormat parseFormat(const std::string& value) {
  if (value == "csv") {
    return OutputFormat::Csv;
  }
  if (value == "edf") {
    return OutputFormat::Edf;
  }
  if (value == "bdf") {
    return OutputFormat::Bdf;
  }
  throw UsageError("option --format takes csv, edf or bdf, not '" + value + "'");
}

std::string formatWord(OutputFormat format) {
  switch (format) {
    case OutputFormat::Csv:
      return "csv";
    case OutputFormat::Edf:
      return "edf";
    case OutputFormat::Bdf:
      return "bdf";
  }
  return "";
}

std::string formatName(OutputFormat format) {
  switch (format) {
    case OutputFormat::Csv:
      return "CSV";
    case OutputFormat::Edf:
      return "EDF+";
    case OutputFormat::Bdf:
      return "BDF+";
  }
  return "";
}

std::optional<OutputFormat> formatFromExtension(const std::string& path) {
  const auto dot = path.rfind('.');
  if (dot == std::string::npos || path.find('/', dot) != std::string::npos) {
    return std::nullopt;
  }
  std::string extension = path.substr(dot + 1);
  for (char& c : extension) {
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  if (extension == "csv") {
    return OutputFormat::Csv;
  }
  if (extension == "edf") {
    return OutputFormat::Edf;
  }
  if (extension == "bdf") {
    return OutputFormat::Bdf;
  }
  return std::nullopt;
}

SummaryDetail parseSummary(const std::string& value) {
  if (value == "sensors") {
    return SummaryDetail::Sensors;
  }
  if (value == "channels") {
    return SummaryDetail::Channels;
  }
  throw UsageError("option --summary takes sensors or channels, not '" + value + "'");
}

double parseSeconds(const std::string& value) {
  std::size_t used = 0;
  double seconds = 0.0;
  try {
    seconds = std::stod(value, &used);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used != value.size() || value.empty() || !std::isfinite(seconds) || seconds <= 0.0 ||
      seconds > 7 * 24 * 3600.0) {
    throw UsageError("option --seconds takes a number of seconds above 0 (at most a week), not '" +
                     value + "'");
  }
  // The device delivers whole frames; a time shorter than one would record
  // none and leave a file no reader takes.
  if (seconds < kFramePeriodSeconds) {
    char least[96];
    std::snprintf(least, sizeof least, "%g s, one %g ms frame", kFramePeriodSeconds,
                  kFramePeriodSeconds * 1000.0);
    throw UsageError("option --seconds takes at least " + std::string(least) + "; '" + value +
                     "' is shorter");
  }
  return seconds;
}

int parsePort(const std::string& value) {
  if (value.empty() || value.size() > 5 ||
      value.find_first_not_of("0123456789") != std::string::npos || std::stoi(value) > 65535) {
    throw UsageError(
        "option --port takes a port number from 0 to 65535 (0 takes any free one), not '" + value +
        "'");
  }
  return std::stoi(value);
}

std::uint64_t parseSeed(const std::string& value) {
  if (value.empty() || value.find_first_not_of("0123456789") != std::string::npos ||
      value.size() > 19) {
    throw UsageError("option --seed takes a whole number, not '" + value + "'");
  }
  return std::stoull(value);
}

}  // namespace bvhost
