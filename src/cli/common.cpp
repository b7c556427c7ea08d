#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "cli/commands.h"

namespace zan::cli {

bool ParseBox(const std::string& text, int& width, int& height) {
  auto parseInt = [](const std::string& s, int& out) {
    if (s.empty() || s.size() > 6) return false;
    for (char c : s)
      if (c < '0' || c > '9') return false;
    out = std::stoi(s);
    return out > 0;
  };
  const size_t x = text.find_first_of("xX");
  if (x == std::string::npos) {
    if (!parseInt(text, width)) return false;
    height = width;
    return true;
  }
  return parseInt(text.substr(0, x), width) && parseInt(text.substr(x + 1), height);
}

bool CheckReadable(const std::string& path, std::string& error) {
  std::error_code ec;
  const auto status = std::filesystem::status(path, ec);
  if (ec || !std::filesystem::exists(status)) {
    error = "no such file";
    return false;
  }
  if (std::filesystem::is_directory(status)) {
    error = "is a directory";
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = std::strerror(errno);
    return false;
  }
  return true;
}

bool WriteFile(const std::string& path, const void* data, size_t size, std::string& error) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) {
    error = std::strerror(errno);
    return false;
  }
  out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
  out.close();
  if (!out) {
    error = "write failed";
    return false;
  }
  return true;
}

}  // namespace zan::cli
