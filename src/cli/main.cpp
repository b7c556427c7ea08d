// zanpictors: the command-line face of the module.
//   thumb    drives the shared module exactly as a host does (load it, hand
//            over the parameter block, ask for a bitmap, read it back,
//            delete it) and writes PNG files;
//   list     shows the embedded previews the core finds in a file;
//   extract  writes one preview's bytes unchanged;
//   detect   prints the module's detect expression.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/commands.h"

namespace zan::cli {

namespace {

const char kUsage[] =
    "usage: zanpictors COMMAND [OPTIONS]\n"
    "\n"
    "commands:\n"
    "  thumb FILE...    write thumbnails as PNG files\n"
    "  list FILE        list the embedded previews of a file\n"
    "  extract FILE     write one embedded preview's bytes\n"
    "  detect           print the module's detect expression\n"
    "\n"
    "Run 'zanpictors COMMAND --help' for a command's options.\n";

}  // namespace

int Main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  const std::string command = argv[1];
  std::vector<std::string> args(argv + 2, argv + argc);
  if (command == "--help" || command == "-h" || command == "help") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (command == "thumb") return ThumbCommand(args, argv[0]);
  if (command == "list") return ListCommand(args);
  if (command == "extract") return ExtractCommand(args);
  if (command == "detect") return DetectCommand(args);
  std::fprintf(stderr, "zanpictors: unknown command '%s' (try --help)\n", command.c_str());
  return 2;
}

}  // namespace zan::cli

int main(int argc, char** argv) {
  try {
    return zan::cli::Main(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "zanpictors: %s\n", e.what());
    return 2;
  }
}
