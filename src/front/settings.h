// The module's two settings and the INI reader they are read with.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zan {

// An INI file read with the Windows profile-file rules: section and key names
// are compared without regard to ASCII letter case; the first section of a
// name and the first key of a name in it count; lines starting with ';' or
// '#', blank lines, lines without '=' and keys before the first section are
// ignored; blanks around names and values are dropped and a value wrapped in
// a pair of double or single quotes loses them. A missing or unreadable file
// reads as empty.
class TzanIniFile {
 public:
  TzanIniFile() = default;
  // Reads the file; never raises.
  explicit TzanIniFile(const std::string& fileName);
  // The same rules over text held in memory.
  static TzanIniFile FromText(std::string_view text);

  // The value of the key, or nothing when the section or key is absent.
  std::optional<std::string> ReadString(std::string_view section, std::string_view key) const;
  // The value as a 32-bit integer (decimal, or hexadecimal after "0x" or
  // "$", optionally signed); the default when the key is absent or its value
  // is not such an integer.
  int32_t ReadInteger(std::string_view section, std::string_view key, int32_t defaultValue) const;

  // Parses one integer value by the rule above.
  static std::optional<int32_t> ParseInteger(std::string_view text);

 private:
  struct Section {
    std::string name;
    std::vector<std::pair<std::string, std::string>> keys;
  };
  void AddLine(std::string_view line);

  std::vector<Section> sections_;
};

// The settings, process-wide, read once when the module loads.
struct PictorSettings {
  // Largest number of cached thumbnails (0 or less keeps none).
  int32_t MaxCacheItem = 100;
  // Minimum time in milliseconds that a call which makes a thumbnail takes;
  // a negative setting counts as 0.
  int32_t MinCreateTime = 0;
};

// Names a settings file to read instead of the one beside the module (the
// command-line tool sets it for --ini). Empty counts as unset.
inline constexpr char kSettingsFileVariable[] = "ZANPICTORS_INI";

// The module's path with its extension replaced by ".ini"
// (/x/libzanpictors.so -> /x/libzanpictors.ini); empty for an empty path.
std::string SettingsFileName(const std::string& modulePath);
// The file LoadSettings reads: the one the environment names, else the one
// beside the module.
std::string SettingsFilePath();
// Reads "MaxCacheItem" and "MinCreateTime" from section "Main" of the file;
// defaults for whatever is missing or not an integer. Never raises.
PictorSettings ReadSettings(const std::string& iniFileName);

// The process-wide settings (defaults until LoadSettings runs).
PictorSettings& Settings();
// Reads the settings file into Settings(). Never raises.
void LoadSettings();

}  // namespace zan
