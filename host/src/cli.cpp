#include "cli.h"

#include <edflib.h>

#include <cmath>
#include <cstdio>
#include <regex>

#include "exit_codes.h"
#include "frame_period.h"

namespace bvhost {
namespace {

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

// The live view's options, common to record --live and monitor; false when
// the option is none of them.
bool parseLiveOption(const std::string& option, ArgumentReader& reader, LiveOptions& live,
                     bool& addressGiven) {
  if (option == "--listen") {
    live.address = reader.value(option);
    addressGiven = true;
    if (live.address.empty()) {
      throw UsageError("option --listen needs an address, such as 127.0.0.1 or 0.0.0.0");
    }
  } else if (option == "--port") {
    live.port = parsePort(reader.value(option));
    addressGiven = true;
  } else {
    return false;
  }
  return true;
}

bool parseTriggerOption(const std::string& option, ArgumentReader& reader,
                        TriggerOptions& triggers) {
  if (option == "--start-trigger") {
    triggers.startInput = parseSwitch(option, reader.value(option));
  } else if (option == "--stop-trigger") {
    triggers.stopInput = parseSwitch(option, reader.value(option));
  } else if (option == "--output-triggers") {
    triggers.outputTriggers = parseSwitch(option, reader.value(option));
  } else {
    return false;
  }
  return true;
}

// The options record and monitor share: the triggers and where the live
// view listens.
bool parseStreamOption(const std::string& option, ArgumentReader& reader, RecordOptions& options,
                       bool& addressGiven) {
  return parseTriggerOption(option, reader, options.triggers) ||
         parseLiveOption(option, reader, options.live, addressGiven);
}

std::uint64_t parseSeed(const std::string& value) {
  if (value.empty() || value.find_first_not_of("0123456789") != std::string::npos ||
      value.size() > 19) {
    throw UsageError("option --seed takes a whole number, not '" + value + "'");
  }
  return std::stoull(value);
}

std::string pluginArgument(const std::vector<std::string>& arguments, const std::string& command) {
  if (arguments.size() < 2 || arguments[1].rfind("--", 0) == 0) {
    throw UsageError(command + " needs the plug-in library: bvhost " + command + " PLUGIN.so");
  }
  return arguments[1];
}

// A bare word after the plug-in is most often the output file given without
// --out, so that is what the message suggests when the name allows it.
std::string unknownRecordArgument(const std::string& argument) {
  if (argument.rfind("-", 0) != 0) {
    if (formatFromExtension(argument)) {
      return "record takes the output file as an option: write --out " + argument + " instead of " +
             argument;
    }
    return "record does not know the argument '" + argument +
           "'; after the plug-in, everything is an option such as --seconds S or --out FILE";
  }
  return "record does not know the option '" + argument +
         "'; it takes --seconds, --out, --format, --start-trigger, --stop-trigger, "
         "--output-triggers, --summary, --live, --listen, --port";
}

RecordOptions parseRecord(const std::vector<std::string>& arguments) {
  RecordOptions options;
  options.plugin = pluginArgument(arguments, "record");
  std::vector<std::string> outputs;
  std::optional<OutputFormat> format;
  bool haveSeconds = false;
  bool addressGiven = false;
  ArgumentReader reader(arguments, 2);
  while (!reader.done()) {
    const std::string option = reader.option();
    if (parseStreamOption(option, reader, options, addressGiven)) {
      continue;
    }
    if (option == "--live") {
      options.live.enabled = true;
    } else if (option == "--seconds") {
      options.seconds = parseSeconds(reader.value(option));
      haveSeconds = true;
    } else if (option == "--out") {
      outputs.push_back(reader.value(option));
      if (outputs.back().empty()) {
        throw UsageError("option --out needs a file name");
      }
    } else if (option == "--format") {
      format = parseFormat(reader.value(option));
    } else if (option == "--summary") {
      options.summary = parseSummary(reader.value(option));
    } else {
      throw UsageError(unknownRecordArgument(option));
    }
  }
  if (addressGiven && !options.live.enabled) {
    throw UsageError("--listen and --port set where the live view listens; add --live to have one");
  }
  if (!haveSeconds) {
    throw UsageError("record needs --seconds S, the time to record, for example --seconds 60");
  }
  if (outputs.empty()) {
    throw UsageError(
        "record needs --out FILE, a .csv, .edf or .bdf file to write, for example --out run.bdf");
  }
  if (format && outputs.size() > 1) {
    throw UsageError(
        "--format applies to a single --out; with several, each file's extension "
        "(.csv, .edf, .bdf) gives its format");
  }
  for (const auto& path : outputs) {
    const auto chosen = format ? format : formatFromExtension(path);
    if (!chosen) {
      throw UsageError("cannot tell the format of '" + path +
                       "' from its extension; give --format csv, edf or bdf");
    }
    for (const auto& earlier : options.outputs) {
      if (earlier.path == path) {
        throw UsageError("--out " + path + " is given twice");
      }
    }
    options.outputs.push_back(OutputFile{path, *chosen, {}});
  }
  return options;
}

// A recording with the live view and no files, until stopped or for S.
RecordOptions parseMonitor(const std::vector<std::string>& arguments) {
  RecordOptions options;
  options.plugin = pluginArgument(arguments, "monitor");
  options.live.enabled = true;
  bool addressGiven = false;
  ArgumentReader reader(arguments, 2);
  while (!reader.done()) {
    const std::string option = reader.option();
    if (parseStreamOption(option, reader, options, addressGiven)) {
      continue;
    }
    if (option == "--seconds") {
      options.seconds = parseSeconds(reader.value(option));
    } else if (option == "--out") {
      throw UsageError(
          "monitor writes no files; to record while watching, use bvhost record "
          "PLUGIN.so --live --seconds S --out FILE");
    } else {
      throw UsageError("monitor does not know the option '" + option +
                       "'; it takes --seconds, --listen, --port, --start-trigger, "
                       "--stop-trigger, --output-triggers");
    }
  }
  return options;
}

ValidateRequest parseValidate(const std::vector<std::string>& arguments) {
  ValidateRequest request;
  request.plugin = pluginArgument(arguments, "validate");
  ArgumentReader reader(arguments, 2);
  while (!reader.done()) {
    const std::string option = reader.option();
    if (option == "--seed") {
      request.seed = parseSeed(reader.value(option));
    } else if (option == "--only") {
      request.only = reader.value(option);
      try {
        std::regex check(*request.only, std::regex::extended);
      } catch (const std::regex_error& error) {
        throw UsageError("option --only takes a regular expression; '" + *request.only +
                         "' is not one (" + error.what() + ")");
      }
    } else {
      throw UsageError("validate does not know the option '" + option +
                       "'; it takes --seed N and --only REGEX");
    }
  }
  return request;
}

RepairRequest parseRepair(const std::vector<std::string>& arguments) {
  if (arguments.size() < 2 || arguments[1].rfind("--", 0) == 0 || arguments[1].empty()) {
    throw UsageError("repair needs the recording: bvhost repair FILE [--out FILE]");
  }
  RepairRequest request{arguments[1], std::nullopt};
  ArgumentReader reader(arguments, 2);
  while (!reader.done()) {
    const std::string option = reader.option();
    if (option == "--out") {
      request.out = reader.value(option);
      if (request.out->empty()) {
        throw UsageError("option --out needs a file name");
      }
    } else {
      throw UsageError("repair does not know the option '" + option + "'; it takes --out FILE");
    }
  }
  return request;
}

}  // namespace

std::string usageText() {
  return std::string(
             "bvhost: the reference host for Orvane Kessra device plug-ins\n"
             "\n"
             "Usage:\n"
             "  bvhost info PLUGIN.so\n"
             "      identity, actions, settings, sensors and channels of the plug-in\n"
             "  bvhost record PLUGIN.so --seconds S --out FILE [--out FILE...]\n"
             "        [--format csv|edf|bdf] [--start-trigger on|off] [--stop-trigger on|off]\n"
             "        [--output-triggers on|off] [--summary sensors|channels]\n"
             "        [--live [--listen ADDRESS] [--port N]]\n"
             "      streams for S seconds (in whole 13.5 ms frames, rounded up) into CSV,\n"
             "      EDF+ or BDF+ files, then prints a summary: a row per channel for up\n"
             "      to 4 sensors, else a row per sensor and rows for only the channels\n"
             "      that are off, unless --summary says which; the format comes from\n"
             "      --format (one --out) or else from each file's extension; the\n"
             "      triggers default to on; Ctrl-C stops early with complete files;\n"
             "      --live serves a page of every sensor's live traces (see monitor)\n"
             "  bvhost monitor PLUGIN.so [--seconds S] [--listen ADDRESS] [--port N]\n"
             "        [--start-trigger on|off] [--stop-trigger on|off] [--output-triggers on|off]\n"
             "      streams until Ctrl-C (or for S seconds) and writes no file; serves a\n"
             "      read-only page at http://127.0.0.1:8642/ (--port; 0 takes any free\n"
             "      port) with live traces, battery, frame rate and gaps per sensor; it\n"
             "      listens on loopback only unless --listen names another address\n"
             "  bvhost validate PLUGIN.so [--seed N] [--only REGEX]\n"
             "      conformance checks, each in its own process with a time limit;\n"
             "      --only runs the checks whose name matches REGEX (POSIX extended)\n"
             "  bvhost repair FILE [--out FILE]\n"
             "      completes a recording that a run left unfinished (killed, crashed):\n"
             "      cuts a partial last record or row, sets the record count, adds the\n"
             "      annotations kept in FILE.annotations, then moves FILE to the name it\n"
             "      was meant to have (or --out) unless a file of that name exists\n"
             "  bvhost --version\n"
             "      the versions of bvhost and of EDFlib\n"
             "  bvhost --help\n"
             "\n") +
         kExitCodeTable;
}

std::string versionText() {
  const int edflib = edflib_version();
  char text[128];
  std::snprintf(text, sizeof text, "bvhost %s\nEDFlib %d.%02d\n", BVHOST_VERSION, edflib / 100,
                edflib % 100);
  return text;
}

Request parseCommandLine(const std::vector<std::string>& arguments) {
  if (arguments.empty()) {
    throw UsageError("no command given");
  }
  const std::string& command = arguments[0];
  if (command == "--help" || command == "-h" || command == "help") {
    return HelpRequest{};
  }
  if (command == "--version" || command == "-V") {
    return VersionRequest{};
  }
  if (command == "info") {
    InfoRequest request{pluginArgument(arguments, "info")};
    if (arguments.size() > 2) {
      throw UsageError("info takes no options, but got '" + arguments[2] + "'");
    }
    return request;
  }
  if (command == "record") {
    return parseRecord(arguments);
  }
  if (command == "monitor") {
    return parseMonitor(arguments);
  }
  if (command == "validate") {
    return parseValidate(arguments);
  }
  if (command == "repair") {
    return parseRepair(arguments);
  }
  if (command.rfind("-", 0) == 0) {
    throw UsageError("unknown option '" + command +
                     "'; a command (info, record, monitor, validate, repair) comes first");
  }
  throw UsageError("unknown command '" + command +
                   "'; the commands are info, record, monitor, validate, repair");
}

}  // namespace bvhost
