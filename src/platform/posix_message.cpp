// The user-facing error report on POSIX systems: a line on standard error.
#include <cstdio>

#include "platform/system.h"

namespace zan {

void ShowErrorMessage(const std::string& caption, const std::string& text) {
  std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
}

}  // namespace zan
