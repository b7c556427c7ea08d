// File-name comparison and environment variables on POSIX systems.
#include <cstdlib>

#include "platform/system.h"

namespace zan {

// POSIX file systems are case-sensitive: "A.jpg" and "a.jpg" are two files.
bool SameFileName(const std::u16string& a, const std::u16string& b) { return a == b; }

std::optional<std::string> EnvironmentValue(const std::string& name) {
  const char* value = ::getenv(name.c_str());
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

void SetEnvironmentValue(const std::string& name, const std::string& value) {
  ::setenv(name.c_str(), value.c_str(), 1);
}

void UnsetEnvironmentValue(const std::string& name) { ::unsetenv(name.c_str()); }

}  // namespace zan
