#include "cli/command_registry.h"

#include <algorithm>
#include <cstdio>

#include "cli/disk_listing.h"
#include "core/version.h"

namespace quorvel::cli {

std::map<std::string, Command>& Commands() {
  static std::map<std::string, Command> commands;
  return commands;
}

std::vector<std::string> ParsedArgs::GetAll(const std::string& flag) const {
  std::vector<std::string> values;
  auto range = options.equal_range(flag);
  for (auto it = range.first; it != range.second; ++it) values.push_back(it->second);
  return values;
}

namespace {

// "-1" is a (negative) number given as an argument, for the command to
// refuse as one, not an option.
bool LooksLikeOption(const std::string& arg) {
  return arg.size() > 1 && arg[0] == '-' && !(arg[1] >= '0' && arg[1] <= '9');
}

// "--flag=value" -> "--flag".
std::string FlagPart(const std::string& arg) {
  const size_t equals = arg.find('=');
  return equals == std::string::npos ? arg : arg.substr(0, equals);
}

}  // namespace

const OptionSpec* FindOption(const std::vector<OptionSpec>& options, const std::string& arg) {
  const std::string flag = FlagPart(arg);
  for (const OptionSpec& option : options)
    if (flag == option.flag) return &option;
  return nullptr;
}

bool ParseArgs(const std::vector<std::string>& args, const std::vector<OptionSpec>& options, ParsedArgs& parsed,
               std::string& error) {
  parsed.raw = args;
  bool optionsEnded = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnded || !LooksLikeOption(arg)) {
      parsed.positional.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    const OptionSpec* option = FindOption(options, arg);
    if (!option) {
      error = "unknown option " + FlagPart(arg);
      return false;
    }
    const size_t equals = arg.find('=');
    if (equals != std::string::npos) {
      if (!option->value) {
        error = std::string(option->flag) + " takes no value";
        return false;
      }
      parsed.options.emplace(option->flag, arg.substr(equals + 1));
    } else if (option->value && !option->optionalValue) {
      if (i + 1 >= args.size()) {
        error = std::string(option->flag) + " needs a value (" + option->flag + " " + option->value + ")";
        return false;
      }
      parsed.options.emplace(option->flag, args[++i]);
    } else {
      parsed.options.emplace(option->flag, "");
    }
  }
  return true;
}

namespace {

constexpr size_t kLabelColumn = 22;  // where explanations start
constexpr size_t kUsageWidth = 100;
constexpr size_t kTextWidth = kUsageWidth - kLabelColumn;

std::string OptionLabel(const OptionSpec& option) {
  std::string label = option.flag;
  if (option.value)
    label += option.optionalValue ? std::string("[=") + option.value + "]" : std::string(" ") + option.value;
  return label;
}

// text's words (line breaks count as spaces) in lines of at most width
// terminal columns; a longer word gets a line of its own.
std::vector<std::string> WrapWords(const std::string& text, size_t width) {
  std::vector<std::string> lines;
  std::string line, word;
  size_t lineWidth = 0;
  auto flushWord = [&] {
    if (word.empty()) return;
    const size_t wordWidth = DisplayWidth(word);
    if (!line.empty() && lineWidth + 1 + wordWidth > width) {
      lines.push_back(line);
      line.clear();
      lineWidth = 0;
    }
    if (!line.empty()) {
      line += ' ';
      ++lineWidth;
    }
    line += word;
    lineWidth += wordWidth;
    word.clear();
  };
  for (char c : text) {
    if (c == ' ' || c == '\n')
      flushWord();
    else
      word += c;
  }
  flushWord();
  if (!line.empty() || lines.empty()) lines.push_back(line);
  return lines;
}

// "  LABEL   first line" and the further lines of the explanation under it.
void AppendItem(std::string& out, const std::string& label, const char* text) {
  std::string line = "  " + label;
  if (line.size() + 2 > kLabelColumn) {
    out += line + "\n";
    line.clear();
  }
  line.resize(kLabelColumn, ' ');
  for (const std::string& piece : WrapWords(text ? text : "", kTextWidth)) {
    out += line + piece + "\n";
    line.assign(kLabelColumn, ' ');
  }
}

// Splits a synopsis into words, keeping bracketed groups ("[--a | --b]") whole.
std::vector<std::string> SynopsisWords(const std::string& synopsis) {
  std::vector<std::string> words;
  std::string word;
  int depth = 0;
  for (char c : synopsis) {
    if (c == '[') ++depth;
    if (c == ']') depth = std::max(0, depth - 1);
    if (c == ' ' && depth == 0) {
      if (!word.empty()) words.push_back(word);
      word.clear();
    } else {
      word += c;
    }
  }
  if (!word.empty()) words.push_back(word);
  return words;
}

// One synopsis form, wrapped under the command's name.
void AppendUsageForm(std::string& out, const std::string& lead, const std::string& form) {
  std::vector<std::string> words = SynopsisWords(form);
  std::string line = lead;
  size_t indent = lead.size();
  bool first = true;
  for (size_t i = 0; i < words.size(); ++i) {
    if (first) {
      line += words[i];
      indent = line.size() - words[i].size() + std::min<size_t>(words[i].size() + 1, 20);
      first = false;
      continue;
    }
    if (line.size() + 1 + words[i].size() > kUsageWidth) {
      out += line + "\n";
      line.assign(indent, ' ');
      line += words[i];
    } else {
      line += " " + words[i];
    }
  }
  out += line + "\n";
}

std::string UsageLines(const Command& command) {
  std::string out;
  const std::string usage = command.usage;
  size_t start = 0;
  bool first = true;
  for (;;) {
    const size_t end = usage.find('\n', start);
    const std::string form = usage.substr(start, end == std::string::npos ? std::string::npos : end - start);
    AppendUsageForm(out, first ? "usage: quorvel " : "       quorvel ", form);
    first = false;
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return out;
}

}  // namespace

std::string HelpText(const Command& command) {
  std::string out = UsageLines(command);
  if (command.summary) out += std::string("\n") + command.summary + "\n";
  if (!command.arguments.empty()) {
    out += "\narguments:\n";
    for (const ArgumentHelp& argument : command.arguments) AppendItem(out, argument.name, argument.text);
  }
  out += "\noptions:\n";
  for (const OptionSpec& option : command.options) AppendItem(out, OptionLabel(option), option.text);
  AppendItem(out, "-h, --help", "show this help and exit");
  if (command.notes && *command.notes) out += std::string("\n") + command.notes;
  if (!out.empty() && out.back() != '\n') out += '\n';
  return out;
}

std::string OverviewText() {
  std::string out =
      "usage: quorvel COMMAND [ARGS...]\n"
      "       quorvel COMMAND --help    the synopsis and every option of one command\n"
      "       quorvel --version\n"
      "\n"
      "Finds partitions, volumes and files on disks and disk images, and copies what is still there into\n"
      "a folder on another drive. Sources are only ever read.\n"
      "\n"
      "commands:\n";
  for (const auto& [name, command] : Commands()) AppendItem(out, name, command.summary);
  out +=
      "\n"
      "SOURCE is an image file, a device path, a disk number or a disk's identity text (as `quorvel disks`\n"
      "lists them); PARTITION is a partition's row text (Partition1, a mount point, E:) or its 0-based index.\n"
      "exit status: 0 done, 1 usage error, 2 source, partition or file not found or not readable (or a\n"
      "refused result), 3 stopped by Ctrl-C, 4 finished, but some files or bytes are incomplete\n";
  return out;
}

std::string VersionText() { return std::string("quorvel ") + kQuorvelVersion + "\n"; }

int UsageError(const char* commandName, const std::string& why) {
  auto it = Commands().find(commandName);
  std::fprintf(stderr, "quorvel %s: %s\n", commandName, why.c_str());
  if (it != Commands().end()) std::fputs(UsageLines(it->second).c_str(), stderr);
  std::fprintf(stderr, "Run `quorvel %s --help` for every option.\n", commandName);
  return kExitUsage;
}

}  // namespace quorvel::cli
