// File-name comparison and environment variables on Windows.
#include <windows.h>

#include <vector>

#include "platform/system.h"
#include "platform/win32_util.h"

namespace zan {

// Windows file systems ignore letter case: compared by the user locale's rules.
bool SameFileName(const std::u16string& a, const std::u16string& b) {
  if (a.size() > 0x7FFFFFFF || b.size() > 0x7FFFFFFF) return false;
  const std::wstring wa = win32::Wide(a), wb = win32::Wide(b);
  return CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, wa.data(), static_cast<int>(wa.size()), wb.data(),
                        static_cast<int>(wb.size())) == CSTR_EQUAL;
}

std::optional<std::string> EnvironmentValue(const std::string& name) {
  const std::wstring wname = win32::Wide(name);
  std::vector<wchar_t> buffer(256);
  for (;;) {
    SetLastError(ERROR_SUCCESS);
    const DWORD n = GetEnvironmentVariableW(wname.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) {
      if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
      return std::string();
    }
    if (n < buffer.size()) return win32::Utf8(buffer.data(), n);
    buffer.resize(n);  // n is the size needed, terminator included
  }
}

void SetEnvironmentValue(const std::string& name, const std::string& value) {
  SetEnvironmentVariableW(win32::Wide(name).c_str(), win32::Wide(value).c_str());
}

void UnsetEnvironmentValue(const std::string& name) { SetEnvironmentVariableW(win32::Wide(name).c_str(), nullptr); }

}  // namespace zan
