// Running a command and collecting its output on Windows.
#include <cstdio>

#include "platform/process.h"
#include "platform/win32_util.h"

namespace zan {

int RunCommand(const std::string& commandLine, std::string& out) {
  FILE* p = _wpopen(win32::Wide(commandLine).c_str(), L"rb");
  if (p == nullptr) return -1;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  return _pclose(p);
}

}  // namespace zan
