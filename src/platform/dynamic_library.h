// Loading a shared library (the plug-in module) at run time, as a host does.
#pragma once

#include <string>

namespace zan {

class DynamicLibrary {
 public:
  DynamicLibrary() = default;
  ~DynamicLibrary();
  DynamicLibrary(const DynamicLibrary&) = delete;
  DynamicLibrary& operator=(const DynamicLibrary&) = delete;

  // Loads the library; false with Error() set when it cannot be loaded.
  bool Open(const std::string& path);
  void Close();
  bool IsOpen() const { return handle_ != nullptr; }
  // The address of an exported symbol, or null.
  void* Symbol(const char* name) const;
  const std::string& Error() const { return error_; }

  // The directory of the running executable (for finding a module beside it).
  static std::string ExecutableDir();

 private:
  void* handle_ = nullptr;
  std::string error_;
};

}  // namespace zan
