// bvhost's manual page, made from its usage so the two never disagree.
#include <string>
#include <utility>
#include <vector>

#include "app/cli.h"

namespace bvhost {
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

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const auto end = text.find('\n', start);
    lines.push_back(text.substr(start, end - start));
    start = end == std::string::npos ? text.size() : end + 1;
  }
  return lines;
}

struct UsageCommand {
  std::vector<std::string> syntax;
  std::vector<std::string> description;
};

// The usage read back into its parts: the name line, each command, and each
// exit code with its explanation.
struct UsageLayout {
  std::string name;
  std::vector<UsageCommand> commands;
  std::vector<std::pair<std::string, std::vector<std::string>>> exitCodes;
};

// The usage's own layout: the title, then each command's syntax at two
// spaces (continued at eight) and its description at six, then the exit
// codes at two, continued at seven.
UsageLayout readUsage(const std::vector<std::string>& lines) {
  UsageLayout usage;
  usage.name = lines.empty() ? std::string("bvhost") : lines[0];
  const auto colon = usage.name.find(": ");
  if (colon != std::string::npos) {
    usage.name = usage.name.substr(0, colon) + " \\- " + roffText(usage.name.substr(colon + 2));
  }
  auto& commands = usage.commands;
  auto& exitCodes = usage.exitCodes;
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
  return usage;
}

std::string roffCommands(const std::vector<UsageCommand>& commands) {
  std::string page;
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
  return page;
}

std::string roffPage(const UsageLayout& usage) {
  std::string page = ".\\\" Made by 'bvhost --man' from the text of 'bvhost --help'.\n";
  page += ".TH BVHOST 1 \"\" \"bvhost " BVHOST_VERSION "\" \"User Commands\"\n";
  // Options stay whole on one line, so a reader finds --output-triggers as
  // it is typed.
  page += ".nh\n.ad l\n.SH NAME\n" + usage.name + "\n.SH SYNOPSIS\n.nf\n";
  for (const auto& command : usage.commands) {
    for (const auto& line : command.syntax) {
      page += roffSyntax(line) + "\n";
    }
  }
  page += ".fi\n.SH COMMANDS\n" + roffCommands(usage.commands);
  page += ".SH EXIT STATUS\n";
  for (const auto& [code, text] : usage.exitCodes) {
    page += ".TP 6\n.B " + code + "\n";
    for (const auto& line : text) {
      page += roffText(line) + "\n";
    }
  }
  return page;
}

}  // namespace

std::string manPage() { return roffPage(readUsage(splitLines(usageText()))); }

}  // namespace bvhost
