// System services on Windows.
#include <windows.h>

#include <vector>

#include "platform/system.h"
#include "platform/win32_util.h"

namespace zan {

uint32_t TickCount() { return GetTickCount(); }

void SleepMs(uint32_t ms) { Sleep(ms); }

std::string ModulePath() {
  // The module that holds this function: the plug-in, not the host program.
  HMODULE self = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCWSTR>(&ModulePath), &self)) {
    return {};
  }
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD n = GetModuleFileNameW(self, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return {};
    if (n < buffer.size()) return win32::Utf8(buffer.data(), n);
    if (buffer.size() >= 32768) return {};  // longer than any Windows path
    buffer.resize(buffer.size() * 2);
  }
}

namespace {

int64_t FromFileTime(const FILETIME& t) {
  return static_cast<int64_t>((uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime);
}

}  // namespace

std::optional<int64_t> FileLastWriteTime(const std::u16string& name) {
  const std::wstring wide = win32::Wide(name);
  // The attribute data by name first: no file is opened.
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &data)) return FromFileTime(data.ftLastWriteTime);
  // Otherwise the open file's information.
  HANDLE h = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) return std::nullopt;
  BY_HANDLE_FILE_INFORMATION info{};
  const bool ok = GetFileInformationByHandle(h, &info) != 0;
  CloseHandle(h);
  if (!ok) return std::nullopt;
  return FromFileTime(info.ftLastWriteTime);
}

std::u16string AnsiToUtf16(const char* text) {
  if (text == nullptr || *text == 0) return {};
  const int n = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  if (n <= 1) return {};
  std::wstring out(static_cast<size_t>(n), L'\0');
  if (MultiByteToWideChar(CP_ACP, 0, text, -1, out.data(), n) != n) return {};
  return win32::FromWide(out.data(), static_cast<size_t>(n - 1));
}

char LocaleDecimalSeparator() {
  static const char sep = [] {
    wchar_t buffer[8] = {};
    if (GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, buffer, 8) > 1 && buffer[0] > 0 && buffer[0] < 0x80) {
      return static_cast<char>(buffer[0]);
    }
    return '.';
  }();
  return sep;
}

bool SystemHasAlphaBlend() {
  HMODULE library = LoadLibraryW(L"Msimg32");
  if (library == nullptr) return false;
  const bool found = GetProcAddress(library, "AlphaBlend") != nullptr;
  FreeLibrary(library);
  return found;
}

}  // namespace zan
