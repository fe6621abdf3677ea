// `quorvel`: the command-line face over the recovery core.
#include <clocale>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli_interrupt.h"
#include "cli/command_registry.h"

namespace quorvel::cli {
namespace {

// -h or --help anywhere, except as the value of an option that takes one.
bool AsksForHelp(const Command& command, const std::vector<std::string>& args) {
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--") return false;
    if (args[i] == "-h" || args[i] == "--help") return true;
    const OptionSpec* option = FindOption(command.options, args[i]);
    if (option && option->value && !option->optionalValue && args[i].find('=') == std::string::npos) ++i;
  }
  return false;
}

int RunCommand(const Command& command, const std::vector<std::string>& args) {
  if (AsksForHelp(command, args)) {
    std::fputs(HelpText(command).c_str(), stdout);
    return kExitDone;
  }
  ParsedArgs parsed;
  if (command.ownParser) {
    parsed.raw = args;
  } else {
    std::string error;
    if (!ParseArgs(args, command.options, parsed, error)) return UsageError(command.name, error);
    if (parsed.positional.size() < command.minPositional)
      return UsageError(command.name, parsed.positional.empty() ? "arguments missing" : "an argument is missing");
    if (parsed.positional.size() > command.maxPositional)
      return UsageError(command.name, "unexpected argument \"" + parsed.positional[command.maxPositional] + "\"");
  }
  InstallStopOnInterrupt();
  return command.run(parsed);
}

}  // namespace
}  // namespace quorvel::cli

int main(int argc, char** argv) {
  using namespace quorvel::cli;
  std::setlocale(LC_ALL, "C.UTF-8");
  if (argc < 2) {
    std::fputs(OverviewText().c_str(), stderr);
    return kExitUsage;
  }
  const std::string name = argv[1];
  if (name == "--version" || name == "-V") {
    std::fputs(VersionText().c_str(), stdout);
    return kExitDone;
  }
  if (name == "help" || name == "--help" || name == "-h") {
    // `quorvel help ls` is `quorvel ls --help`.
    auto it = argc > 2 ? Commands().find(argv[2]) : Commands().end();
    std::fputs(it != Commands().end() ? HelpText(it->second).c_str() : OverviewText().c_str(), stdout);
    return kExitDone;
  }
  auto it = Commands().find(name);
  if (it == Commands().end()) {
    std::fprintf(stderr, "quorvel: unknown command \"%s\"\n\n%s", name.c_str(), OverviewText().c_str());
    return kExitUsage;
  }
  return RunCommand(it->second, std::vector<std::string>(argv + 2, argv + argc));
}
