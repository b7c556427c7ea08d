// The user-facing error report on Windows: a message box with an error
// icon. A host with a console (wlxhost, the tests) also gets the text on its
// standard error, where a message box of a headless session would be lost.
#include <windows.h>

#include "platform/system.h"
#include "platform/win32_util.h"

namespace zan {

void ShowErrorMessage(const std::string& caption, const std::string& text) {
  HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
  if (err != nullptr && err != INVALID_HANDLE_VALUE && GetFileType(err) != FILE_TYPE_UNKNOWN) {
    const std::string line = caption + ": " + text + "\r\n";
    DWORD written = 0;
    WriteFile(err, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  }
  MessageBoxW(nullptr, win32::Wide(text).c_str(), win32::Wide(caption).c_str(), MB_OK | MB_ICONERROR | MB_TASKMODAL);
}

}  // namespace zan
