// zanpictors detect: the detect expression, asked of the module as a host
// asks for it.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "module/plugin_api.h"
#include "platform/dynamic_library.h"

namespace zan::cli {

namespace {

const char kDetectHelp[] =
    "usage: zanpictors detect [-m M] [--module PATH] [--ini FILE]\n"
    "\n"
    "Loads the plug-in module, asks it for the detect expression that tells a\n"
    "host which files to offer it, and prints the expression on one line.\n"
    "\n"
    "  -m M            the buffer length offered, the terminating NUL included\n"
    "                  (default 2048, as hosts usually offer); a shorter buffer\n"
    "                  drops whole alternatives from the end\n"
    "  --module PATH   the module to load (default: libzanpictors.so beside\n"
    "                  this program)\n"
    "  --ini FILE      the settings file the module reads instead of the one\n"
    "                  beside it (handed over in the environment variable\n"
    "                  ZANPICTORS_INI)\n";

constexpr long kMaxBuffer = 16L * 1024 * 1024;

}  // namespace

int DetectCommand(const std::vector<std::string>& args) {
  long maxLength = 2048;
  std::string modulePath, iniPath;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      std::fputs(kDetectHelp, stdout);
      return 0;
    } else if ((a == "-m" || a == "--module" || a == "--ini") && i + 1 >= args.size()) {
      std::fprintf(stderr, "zanpictors detect: %s needs a value\n", a.c_str());
      return 2;
    } else if (a == "-m") {
      const std::string& v = args[++i];
      bool digits = !v.empty() && v.size() <= 9;
      for (char c : v) digits = digits && c >= '0' && c <= '9';
      maxLength = digits ? std::stol(v) : 0;
      if (maxLength < 1 || maxLength > kMaxBuffer) {
        std::fprintf(stderr, "zanpictors detect: -m needs a length from 1 to %ld, not '%s'\n", kMaxBuffer, v.c_str());
        return 2;
      }
    } else if (a == "--module") {
      modulePath = args[++i];
    } else if (a == "--ini") {
      iniPath = args[++i];
    } else {
      std::fprintf(stderr, "zanpictors detect: unknown argument '%s' (try --help)\n", a.c_str());
      return 2;
    }
  }

  std::string error;
  if (!iniPath.empty() && !UseSettingsFile(iniPath, error)) {
    std::fprintf(stderr, "zanpictors detect: %s: %s\n", iniPath.c_str(), error.c_str());
    return 2;
  }
  if (modulePath.empty()) modulePath = DynamicLibrary::ExecutableDir() + "/libzanpictors.so";
  DynamicLibrary library;
  if (!library.Open(modulePath)) {
    std::fprintf(stderr, "zanpictors detect: %s: %s\n", modulePath.c_str(), library.Error().c_str());
    return 2;
  }
  const auto getDetectString = reinterpret_cast<ListGetDetectStringProc>(library.Symbol("ListGetDetectString"));
  if (getDetectString == nullptr) {
    std::fprintf(stderr, "zanpictors detect: %s: not a plug-in module (no ListGetDetectString)\n", modulePath.c_str());
    return 2;
  }
  // A guard byte past the offered length shows a module that overruns it.
  std::vector<char> buffer(static_cast<size_t>(maxLength) + 1, '\x5A');
  getDetectString(buffer.data(), static_cast<int32_t>(maxLength));
  if (buffer[static_cast<size_t>(maxLength)] != '\x5A') {
    std::fputs("zanpictors detect: the module wrote past the buffer\n", stderr);
    return 2;
  }
  buffer[static_cast<size_t>(maxLength) - 1] = '\0';  // a module that forgot the terminator
  std::printf("%s\n", buffer.data());
  return 0;
}

}  // namespace zan::cli
