// System services on POSIX systems.
#include <dlfcn.h>
#include <sys/stat.h>
#include <time.h>

#include <cerrno>
#include <clocale>

#include "platform/system.h"

namespace zan {

uint32_t TickCount() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  const uint64_t ms = uint64_t(ts.tv_sec) * 1000u + uint64_t(ts.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(ms);
}

void SleepMs(uint32_t ms) {
  timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

std::string ModulePath() {
  Dl_info info{};
  // Any function of this library names the object that holds it.
  if (dladdr(reinterpret_cast<void*>(&ModulePath), &info) != 0 && info.dli_fname != nullptr) {
    return info.dli_fname;
  }
  return {};
}

std::optional<int64_t> FileLastWriteTime(const std::u16string& name) {
  struct stat st {};
  if (::stat(Utf16ToUtf8(name).c_str(), &st) != 0) return std::nullopt;
  return int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

std::u16string AnsiToUtf16(const char* text) { return text ? Utf8ToUtf16(text) : std::u16string(); }

char LocaleDecimalSeparator() {
  static const char sep = [] {
    const lconv* lc = std::localeconv();
    return (lc && lc->decimal_point && lc->decimal_point[0]) ? lc->decimal_point[0] : '.';
  }();
  return sep;
}

bool SystemHasAlphaBlend() { return true; }

}  // namespace zan
