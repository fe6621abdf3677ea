// `quorvel`: the command-line face over the recovery core.
#include <clocale>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli_interrupt.h"
#include "cli/command_registry.h"

namespace quorvel::cli {

std::map<std::string, Command>& Commands() {
  static std::map<std::string, Command> commands;
  return commands;
}

static void PrintUsage(FILE* out) {
  std::fprintf(out, "usage: quorvel COMMAND [ARGS...]\n\ncommands:\n");
  for (const auto& [name, command] : Commands()) std::fprintf(out, "  %s\n", command.usage);
}

}  // namespace quorvel::cli

int main(int argc, char** argv) {
  using namespace quorvel::cli;
  std::setlocale(LC_ALL, "C.UTF-8");
  if (argc < 2) {
    PrintUsage(stderr);
    return kExitUsage;
  }
  std::string name = argv[1];
  if (name == "help" || name == "--help" || name == "-h") {
    PrintUsage(stdout);
    return kExitDone;
  }
  auto it = Commands().find(name);
  if (it == Commands().end()) {
    std::fprintf(stderr, "quorvel: unknown command \"%s\"\n", name.c_str());
    PrintUsage(stderr);
    return kExitUsage;
  }
  std::vector<std::string> args(argv + 2, argv + argc);
  for (const std::string& arg : args) {
    if (arg == "-h" || arg == "--help") {
      const Command& command = it->second;
      std::printf("usage: quorvel %s\n", command.usage);
      if (command.summary) std::printf("\n%s\n", command.summary);
      if (command.help) std::printf("\n%s", command.help);
      return kExitDone;
    }
  }
  InstallStopOnInterrupt();
  return it->second.run(args);
}
