#pragma once

#include <string>
#include <vector>

namespace zan::cli {

int ThumbCommand(const std::vector<std::string>& args, const char* argv0);
int ListCommand(const std::vector<std::string>& args);
int ExtractCommand(const std::vector<std::string>& args);
int DetectCommand(const std::vector<std::string>& args);

// "WxH" or "N" (an N x N box); false when the text is neither.
bool ParseBox(const std::string& text, int& width, int& height);
// Reads a whole file; false (with the cause in error) when it cannot.
bool CheckReadable(const std::string& path, std::string& error);
// --ini FILE: the module loaded afterwards reads FILE instead of the
// settings file beside it (through the environment variable ZANPICTORS_INI).
// False (with the cause in error) when FILE cannot be read.
bool UseSettingsFile(const std::string& path, std::string& error);
bool WriteFile(const std::string& path, const void* data, size_t size, std::string& error);

}  // namespace zan::cli
