#include "app/cli.h"

#include <edflib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <regex>

#include "base/exit_codes.h"
#include "base/frame_period.h"

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

// Edits between two words, a swap of neighbours counting as one: "--seocnds"
// is as near "--seconds" as a single wrong letter.
std::size_t editDistance(const std::string& a, const std::string& b) {
  std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
  for (std::size_t i = 0; i <= a.size(); ++i) {
    d[i][0] = i;
  }
  for (std::size_t j = 0; j <= b.size(); ++j) {
    d[0][j] = j;
  }
  for (std::size_t i = 1; i <= a.size(); ++i) {
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t change = a[i - 1] == b[j - 1] ? 0 : 1;
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + change});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
      }
    }
  }
  return d[a.size()][b.size()];
}

std::string withoutDashes(const std::string& word) {
  const auto start = word.find_first_not_of('-');
  return start == std::string::npos ? std::string() : word.substr(start);
}

// The known words nearest to what was typed, as " (did you mean X?)", or
// nothing when none is near enough to be a slip rather than another word:
// up to one edit in two letters of the known word, a start of it at least
// three letters long, or the word with more typed after it. Dashes are left out of the comparison,
// so -out and ---out are slips of --out too.
std::string suggestion(const std::string& typed, const std::vector<std::string>& known) {
  const std::string bare = withoutDashes(typed);
  if (bare.empty()) {
    return "";
  }
  std::size_t best = std::string::npos;
  std::vector<std::string> nearest;
  for (const auto& word : known) {
    const std::string candidate = withoutDashes(word);
    std::size_t distance = editDistance(bare, candidate);
    if (distance > std::max<std::size_t>(1, candidate.size() / 2)) {
      // A start of the word (--sec) or the word with more after it
      // (--output for --out) rank behind every slip of similar length.
      if (bare.size() >= 3 && candidate.rfind(bare, 0) == 0) {
        distance = candidate.size();
      } else if (candidate.size() >= 3 && bare.rfind(candidate, 0) == 0) {
        distance = bare.size();
      } else {
        continue;
      }
    }
    if (distance < best) {
      best = distance;
      nearest.clear();
    }
    if (distance == best) {
      nearest.push_back(word);
    }
  }
  if (nearest.empty()) {
    return "";
  }
  std::string text = " (did you mean " + nearest[0];
  for (std::size_t i = 1; i < nearest.size(); ++i) {
    text += (i + 1 == nearest.size() ? " or " : ", ") + nearest[i];
  }
  return text + "?)";
}

// Every option of a command, in the order --help gives them, so that the
// message naming them reads as the usage does.
std::string optionList(const std::vector<std::string>& options) {
  std::string text;
  for (const auto& option : options) {
    text += (text.empty() ? "" : ", ") + option;
  }
  return text;
}

const std::vector<std::string> kRecordOptions = {
    "--seconds",         "--out",     "--format", "--start-trigger", "--stop-trigger",
    "--output-triggers", "--summary", "--live",   "--listen",        "--port"};
const std::vector<std::string> kMonitorOptions = {
    "--seconds", "--listen", "--port", "--start-trigger", "--stop-trigger", "--output-triggers"};
const std::vector<std::string> kValidateOptions = {"--seed", "--only"};
const std::vector<std::string> kRepairOptions = {"--out"};
const std::vector<std::string> kCommands = {"info", "record", "monitor", "validate", "repair"};
const std::vector<std::string> kTopOptions = {"--help", "--version", "--man"};

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
  return "record does not know the option '" + argument + "'" +
         suggestion(argument, kRecordOptions) + "; it takes " + optionList(kRecordOptions);
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
        std::regex check(*request.only, std::regex::extended);
      } catch (const std::regex_error& error) {
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
             "      that are off, unless --summary says which; each file's extension\n"
             "      (.csv, .edf, .bdf) gives its format, or --format does for a single\n"
             "      --out of another name (one whose extension disagrees is refused);\n"
             "      the triggers default to on; Ctrl-C stops early with complete files;\n"
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
             "      this text\n"
             "  bvhost --man\n"
             "      this help as a manual page in roff, the one 'man bvhost' shows\n"
             "\n") +
         kExitCodeTable;
}

namespace {

// Text for roff: a backslash or a hyphen kept as typed (a bare "-" may print
// as a typographic hyphen, which a shell does not take as an option's dash),
// and a line that would start with a control character kept as text.
std::string roffText(const std::string& text) {
  std::string escaped;
  if (!text.empty() && (text[0] == '.' || text[0] == '\'')) {
    escaped = "\\&";
  }
  for (char c : text) {
    if (c == '\\') {
      escaped += "\\e";
    } else if (c == '-') {
      escaped += "\\-";
    } else {
      escaped += c;
    }
  }
  return escaped;
}

std::string trimmed(const std::string& line) {
  const auto start = line.find_first_not_of(' ');
  return start == std::string::npos ? std::string() : line.substr(start);
}

// "bvhost record PLUGIN.so ..." with "bvhost record" in bold.
std::string roffSyntax(const std::string& line) {
  const std::string text = trimmed(line);
  const auto first = text.find(' ');
  const auto second = first == std::string::npos ? first : text.find(' ', first + 1);
  const std::string indent = line.substr(0, line.size() - text.size());
  const std::string name = roffText(text.substr(0, second));
  const std::string rest = second == std::string::npos ? "" : roffText(text.substr(second));
  // Lines of a command's syntax after its first keep their indent under it.
  if (indent.size() > 2) {
    return std::string(indent.size() - 2, ' ') + roffText(text);
  }
  return "\\fB" + name + "\\fR" + rest;
}

struct UsageCommand {
  std::vector<std::string> syntax;
  std::vector<std::string> description;
};

}  // namespace

std::string manPage() {
  std::vector<std::string> lines;
  {
    const std::string usage = usageText();
    std::size_t start = 0;
    while (start < usage.size()) {
      const auto end = usage.find('\n', start);
      lines.push_back(usage.substr(start, end - start));
      start = end == std::string::npos ? usage.size() : end + 1;
    }
  }
  // The usage's own layout: the title, then each command's syntax at two
  // spaces (continued at eight) and its description at six, then the exit
  // codes at two, continued at seven.
  std::string name = lines.empty() ? std::string("bvhost") : lines[0];
  const auto colon = name.find(": ");
  if (colon != std::string::npos) {
    name = name.substr(0, colon) + " \\- " + roffText(name.substr(colon + 2));
  }
  std::vector<UsageCommand> commands;
  std::vector<std::pair<std::string, std::vector<std::string>>> exitCodes;
  bool inExitCodes = false;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    const std::string text = trimmed(line);
    const std::size_t indent = line.size() - text.size();
    if (text.empty() || text == "Usage:") {
      continue;
    }
    if (text == "Exit codes:") {
      inExitCodes = true;
    } else if (inExitCodes && indent == 2) {
      const auto gap = text.find(' ');
      exitCodes.push_back({text.substr(0, gap), {trimmed(text.substr(gap))}});
    } else if (inExitCodes && !exitCodes.empty()) {
      exitCodes.back().second.push_back(text);
    } else if (indent == 2) {
      commands.push_back({{line}, {}});
    } else if (!commands.empty() && indent > 6 && commands.back().description.empty()) {
      commands.back().syntax.push_back(line);
    } else if (!commands.empty()) {
      commands.back().description.push_back(text);
    }
  }

  std::string page = ".\\\" Made by 'bvhost --man' from the text of 'bvhost --help'.\n";
  page += ".TH BVHOST 1 \"\" \"bvhost " BVHOST_VERSION "\" \"User Commands\"\n";
  // Options stay whole on one line, so a reader finds --output-triggers as
  // it is typed.
  page += ".nh\n.ad l\n.SH NAME\n" + name + "\n.SH SYNOPSIS\n.nf\n";
  for (const auto& command : commands) {
    for (const auto& line : command.syntax) {
      page += roffSyntax(line) + "\n";
    }
  }
  page += ".fi\n.SH COMMANDS\n";
  for (const auto& command : commands) {
    page += ".PP\n.nf\n";
    for (const auto& line : command.syntax) {
      page += roffSyntax(line) + "\n";
    }
    page += ".fi\n";
    if (!command.description.empty()) {
      page += ".RS 4\n";
      for (const auto& line : command.description) {
        page += roffText(line) + "\n";
      }
      page += ".RE\n";
    }
  }
  page += ".SH EXIT STATUS\n";
  for (const auto& [code, text] : exitCodes) {
    page += ".TP 6\n.B " + code + "\n";
    for (const auto& line : text) {
      page += roffText(line) + "\n";
    }
  }
  return page;
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
  if (command.rfind("-", 0) == 0) {
    // A command typed with dashes (--record) is nearer its command than any
    // option; both are offered.
    std::vector<std::string> known = kTopOptions;
    known.insert(known.end(), kCommands.begin(), kCommands.end());
    throw UsageError("unknown option '" + command + "'" + suggestion(command, known) +
                     "; a command (info, record, monitor, validate, repair) comes first");
  }
  throw UsageError("unknown command '" + command + "'" + suggestion(command, kCommands) +
                   "; the commands are info, record, monitor, validate, repair");
}

}  // namespace bvhost
