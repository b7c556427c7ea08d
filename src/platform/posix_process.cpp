#include <sys/wait.h>

#include <cstdio>

#include "platform/process.h"

namespace zan {

int RunCommand(const std::string& commandLine, std::string& out) {
  FILE* p = ::popen(commandLine.c_str(), "r");
  if (p == nullptr) return -1;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  const int st = ::pclose(p);
  return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

}  // namespace zan
