// Small helpers shared by the Windows side of the platform layer: UTF-16
// text as the system's wide strings, and the text of a system error.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "platform/system.h"

namespace zan::win32 {

// wchar_t is a UTF-16 code unit on Windows.
inline std::wstring Wide(const std::u16string& text) { return std::wstring(text.begin(), text.end()); }
inline std::wstring Wide(const std::string& utf8) { return Wide(Utf8ToUtf16(utf8)); }
inline std::u16string FromWide(const wchar_t* text, size_t length) {
  return std::u16string(reinterpret_cast<const char16_t*>(text), length);
}
inline std::string Utf8(const wchar_t* text, size_t length) { return Utf16ToUtf8(FromWide(text, length)); }

// The system's message for an error code, without the trailing line break.
inline std::string ErrorText(DWORD code) {
  wchar_t* buffer = nullptr;
  const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                     FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::string text;
  if (n != 0 && buffer != nullptr) {
    size_t len = n;
    while (len > 0 && (buffer[len - 1] == L'\r' || buffer[len - 1] == L'\n' || buffer[len - 1] == L' ')) --len;
    text = Utf8(buffer, len);
  }
  if (buffer != nullptr) LocalFree(buffer);
  if (text.empty()) text = "System error " + std::to_string(code);
  return text;
}

// A 32-bit top-down header of the given size (negative height).
inline BITMAPINFO TopDown32(int32_t width, int32_t height) {
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  bi.bmiHeader.biWidth = width;
  bi.bmiHeader.biHeight = -height;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  bi.bmiHeader.biCompression = BI_RGB;
  return bi;
}

}  // namespace zan::win32
