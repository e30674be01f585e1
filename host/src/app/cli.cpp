#include "app/cli.h"

#include "app/argument_reader.h"
#include "app/option_suggestions.h"
#include "app/option_values.h"
#include "base/name_pattern.h"

namespace bvhost {
namespace {

const std::vector<std::string> kRecordOptions = {
    "--seconds",           "--out",     "--format", "--start-trigger", "--stop-trigger",
    "--output-triggers",   "--summary", "--live",   "--listen",        "--port",
    "--markers-from-stdin"};
const std::vector<std::string> kMonitorOptions = {
    "--seconds",           "--listen",       "--port",
    "--start-trigger",     "--stop-trigger", "--output-triggers",
    "--markers-from-stdin"};
const std::vector<std::string> kMarkOptions = {"--to"};
const std::vector<std::string> kValidateOptions = {"--seed", "--only"};
const std::vector<std::string> kRepairOptions = {"--out"};
const std::vector<std::string> kCommands = {"info",     "record", "monitor",
                                            "validate", "repair", "mark"};
const std::vector<std::string> kTopOptions = {"--help", "--version", "--man"};

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

// The options record and monitor share: the triggers, where the live view
// listens, and where markers come from.
bool parseStreamOption(const std::string& option, ArgumentReader& reader, RecordOptions& options,
                       bool& addressGiven) {
  if (option == "--markers-from-stdin") {
    options.markersFromStdin = true;
    return true;
  }
  return parseTriggerOption(option, reader, options.triggers) ||
         parseLiveOption(option, reader, options.live, addressGiven);
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
  return "record does not know the option '" + argument + "'" +
         suggestion(argument, kRecordOptions) + "; it takes " + optionList(kRecordOptions);
}

// Each --out with the format it is written in: --format's, else its
// extension's.
std::vector<OutputFile> outputFiles(const std::vector<std::string>& paths,
                                    std::optional<OutputFormat> format) {
  if (paths.empty()) {
    throw UsageError(
        "record needs --out FILE, a .csv, .edf or .bdf file to write, for example --out run.bdf");
  }
  if (format && paths.size() > 1) {
    throw UsageError(
        "--format applies to a single --out; with several, each file's extension "
        "(.csv, .edf, .bdf) gives its format");
  }
  std::vector<OutputFile> files;
  for (const auto& path : paths) {
    const auto named = formatFromExtension(path);
    // Readers choose by the extension, so a file whose name says another
    // format than its content fails in every one of them; refused before
    // anything is recorded rather than warned about once the hour is lost.
    if (format && named && *named != *format) {
      throw UsageError("--format " + formatWord(*format) + " would write " + formatName(*format) +
                       " into '" + path + "', whose extension says " + formatName(*named) +
                       "; name the file ." + formatWord(*format) + ", or leave out --format");
    }
    const auto chosen = format ? format : named;
    if (!chosen) {
      throw UsageError("cannot tell the format of '" + path +
                       "' from its extension; give --format csv, edf or bdf");
    }
    for (const auto& earlier : files) {
      if (earlier.path == path) {
        throw UsageError("--out " + path + " is given twice");
      }
    }
    files.push_back(OutputFile{path, *chosen, {}});
  }
  return files;
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
  options.outputs = outputFiles(outputs, format);
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
      throw UsageError("monitor does not know the option '" + option + "'" +
                       suggestion(option, kMonitorOptions) + "; it takes " +
                       optionList(kMonitorOptions));
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
        const NamePattern check(*request.only);
      } catch (const std::invalid_argument& error) {
        throw UsageError("option --only takes a regular expression; '" + *request.only +
                         "' is not one (" + error.what() + ")");
      }
    } else {
      throw UsageError("validate does not know the option '" + option + "'" +
                       suggestion(option, kValidateOptions) +
                       "; it takes --seed N and --only REGEX");
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
      throw UsageError("repair does not know the option '" + option + "'" +
                       suggestion(option, kRepairOptions) + "; it takes --out FILE");
    }
  }
  return request;
}

// The text is one argument, options before or after it; after "--" a text
// may begin with a dash, and is taken as it is.
MarkRequest parseMark(const std::vector<std::string>& arguments) {
  MarkRequest request;
  bool haveText = false;
  bool optionsEnded = false;
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (!optionsEnded && argument == "--") {
      optionsEnded = true;
    } else if (!optionsEnded && (argument == "--to" || argument.rfind("--to=", 0) == 0)) {
      if (argument == "--to" && i + 1 >= arguments.size()) {
        throw UsageError("option --to needs a value");
      }
      request.to = argument == "--to" ? arguments[++i] : argument.substr(5);
      if (request.to->empty()) {
        throw UsageError("option --to needs the recording's name, as record printed it");
      }
    } else if (!optionsEnded && argument.rfind("--", 0) == 0) {
      const std::string option = argument.substr(0, argument.find('='));
      throw UsageError("mark does not know the option '" + option + "'" +
                       suggestion(option, kMarkOptions) +
                       "; it takes --to NAME, and after -- a text that begins with a dash");
    } else if (haveText) {
      throw UsageError("mark takes one text, but got '" + request.text + "' and '" + argument +
                       "'; quote a text of several words: bvhost mark \"" + request.text + " " +
                       argument + "\"");
    } else {
      request.text = argument;
      haveText = true;
    }
  }
  if (!haveText) {
    throw UsageError("mark needs the marker's text: bvhost mark TEXT [--to NAME]");
  }
  return request;
}

}  // namespace

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
  if (command == "--man") {
    return ManRequest{};
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
  if (command == "mark") {
    return parseMark(arguments);
  }
  if (command.rfind("-", 0) == 0) {
    // A command typed with dashes (--record) is nearer its command than any
    // option; both are offered.
    std::vector<std::string> known = kTopOptions;
    known.insert(known.end(), kCommands.begin(), kCommands.end());
    throw UsageError("unknown option '" + command + "'" + suggestion(command, known) +
                     "; a command (info, record, monitor, validate, repair, mark) comes first");
  }
  throw UsageError("unknown command '" + command + "'" + suggestion(command, kCommands) +
                   "; the commands are info, record, monitor, validate, repair, mark");
}

}  // namespace bvhost
