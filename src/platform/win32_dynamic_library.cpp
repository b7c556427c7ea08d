// Loading a module at run time on Windows.
#include <windows.h>

#include <vector>

#include "platform/dynamic_library.h"
#include "platform/win32_util.h"

namespace zan {

DynamicLibrary::~DynamicLibrary() { Close(); }

bool DynamicLibrary::Open(const std::string& path) {
  Close();
  handle_ = LoadLibraryW(win32::Wide(path).c_str());
  if (handle_ == nullptr) {
    error_ = "cannot load " + path + ": " + win32::ErrorText(GetLastError());
    return false;
  }
  return true;
}

void DynamicLibrary::Close() {
  if (handle_ != nullptr) FreeLibrary(static_cast<HMODULE>(handle_));
  handle_ = nullptr;
}

void* DynamicLibrary::Symbol(const char* name) const {
  if (handle_ == nullptr) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
}

std::string DynamicLibrary::ExecutableDir() {
  std::vector<wchar_t> buffer(MAX_PATH);
  DWORD n = 0;
  for (;;) {
    n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return ".";
    if (n < buffer.size() || buffer.size() >= 32768) break;
    buffer.resize(buffer.size() * 2);
  }
  std::string path = win32::Utf8(buffer.data(), n);
  const size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

}  // namespace zan
