#include "front/settings.h"

#include <algorithm>
#include <limits>

#include "platform/stream.h"
#include "platform/system.h"

namespace zan {

namespace {

constexpr char kSection[] = "Main";
// A line longer than this is no setting anyone wrote; it is skipped whole
// (cutting it could turn its beginning into a valid value) and keeps the
// reader's memory bounded.
constexpr size_t kMaxLine = 64 * 1024;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return AsciiLower(x) == AsciiLower(y); });
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = AsciiLower(c);
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Splits text into lines at CR, LF or CR LF and hands each to add.
template <class Add>
class LineSplitter {
 public:
  explicit LineSplitter(Add add) : add_(add) {}
  void Feed(std::string_view chunk) {
    for (char c : chunk) {
      if (c == '\n' && lastWasCr_) {
        lastWasCr_ = false;
        continue;
      }
      lastWasCr_ = c == '\r';
      if (c == '\r' || c == '\n') {
        Flush();
      } else if (line_.size() < kMaxLine) {
        line_ += c;
      } else {
        overlong_ = true;
      }
    }
  }
  void Flush() {
    if (!overlong_) add_(std::string_view(line_));
    line_.clear();
    overlong_ = false;
  }

 private:
  Add add_;
  std::string line_;
  bool overlong_ = false;
  bool lastWasCr_ = false;
};

}  // namespace

// ---- INI reader ---------------------------------------------------------------

TzanIniFile::TzanIniFile(const std::string& fileName) {
  if (fileName.empty()) return;
  try {
    TFileStream file(fileName);
    LineSplitter split([this](std::string_view line) { AddLine(line); });
    std::string chunk(64 * 1024, '\0');
    bool first = true;
    for (;;) {
      const int64_t n = file.Read(chunk.data(), static_cast<int64_t>(chunk.size()));
      if (n <= 0) break;
      std::string_view view(chunk.data(), static_cast<size_t>(n));
      // A UTF-8 byte-order mark is not part of the first line.
      if (first && view.substr(0, 3) == "\xEF\xBB\xBF") view.remove_prefix(3);
      first = false;
      split.Feed(view);
    }
    split.Flush();
  } catch (...) {
    // Unreadable: whatever was read stands; an unopened file reads as empty.
  }
}

TzanIniFile TzanIniFile::FromText(std::string_view text) {
  TzanIniFile ini;
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  LineSplitter split([&ini](std::string_view line) { ini.AddLine(line); });
  split.Feed(text);
  split.Flush();
  return ini;
}

void TzanIniFile::AddLine(std::string_view line) {
  line = Trim(line);
  if (line.empty() || line.front() == ';' || line.front() == '#') return;
  if (line.front() == '[') {
    const size_t close = line.rfind(']');
    if (close != std::string_view::npos) {
      sections_.push_back(Section{std::string(line.substr(1, close - 1)), {}});
      return;
    }
  }
  if (sections_.empty()) return;  // keys before the first section belong nowhere
  const size_t eq = line.find('=');
  if (eq == std::string_view::npos) return;
  sections_.back().keys.emplace_back(std::string(Trim(line.substr(0, eq))), std::string(Trim(line.substr(eq + 1))));
}

std::optional<std::string> TzanIniFile::ReadString(std::string_view section, std::string_view key) const {
  for (const Section& s : sections_) {
    if (!SameName(s.name, section)) continue;
    // Only the first section of the name is searched.
    for (const auto& [name, value] : s.keys) {
      if (!SameName(name, key)) continue;
      if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        return value.substr(1, value.size() - 2);
      return value;
    }
    return std::nullopt;
  }
  return std::nullopt;
}

std::optional<int32_t> TzanIniFile::ParseInteger(std::string_view text) {
  text = Trim(text);
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  int64_t value = 0;
  if (!text.empty() && (text.front() == '$' || (text.size() > 2 && text[0] == '0' && AsciiLower(text[1]) == 'x'))) {
    // Hexadecimal: at most 32 bits, read as a signed 32-bit pattern.
    text.remove_prefix(text.front() == '$' ? 1 : 2);
    if (text.empty()) return std::nullopt;
    for (char c : text) {
      const int d = HexDigit(c);
      if (d < 0) return std::nullopt;
      value = value * 16 + d;
      if (value > 0xFFFFFFFFll) return std::nullopt;
    }
    value = static_cast<int32_t>(static_cast<uint32_t>(value));
    return static_cast<int32_t>(negative ? -value : value);
  }
  if (text.empty()) return std::nullopt;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
    if (value > int64_t(std::numeric_limits<int32_t>::max()) + 1) return std::nullopt;
  }
  if (negative) value = -value;
  if (value > std::numeric_limits<int32_t>::max()) return std::nullopt;
  return static_cast<int32_t>(value);
}

int32_t TzanIniFile::ReadInteger(std::string_view section, std::string_view key, int32_t defaultValue) const {
  const std::optional<std::string> text = ReadString(section, key);
  if (!text) return defaultValue;
  return ParseInteger(*text).value_or(defaultValue);
}

// ---- settings -------------------------------------------------------------------

std::string SettingsFileName(const std::string& modulePath) {
  if (modulePath.empty()) return {};
  // The extension is what follows the last dot of the last path component.
  const size_t slash = modulePath.find_last_of("/\\");
  const size_t dot = modulePath.rfind('.');
  const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
  return (hasExtension ? modulePath.substr(0, dot) : modulePath) + ".ini";
}

std::string SettingsFilePath() {
  const std::optional<std::string> named = EnvironmentValue(kSettingsFileVariable);
  if (named && !named->empty()) return *named;
  return SettingsFileName(ModulePath());
}

PictorSettings ReadSettings(const std::string& iniFileName) {
  PictorSettings settings;
  try {
    const TzanIniFile ini(iniFileName);
    settings.MaxCacheItem = ini.ReadInteger(kSection, "MaxCacheItem", settings.MaxCacheItem);
    settings.MinCreateTime = ini.ReadInteger(kSection, "MinCreateTime", settings.MinCreateTime);
  } catch (...) {
    return PictorSettings{};
  }
  // The wait compares and sleeps with the setting as an unsigned number;
  // a negative value would mean a wait of weeks, so it means no wait.
  settings.MinCreateTime = std::max(settings.MinCreateTime, 0);
  return settings;
}

PictorSettings& Settings() {
  static PictorSettings settings;
  return settings;
}

void LoadSettings() {
  try {
    Settings() = ReadSettings(SettingsFilePath());
  } catch (...) {
    Settings() = PictorSettings{};
  }
}

}  // namespace zan
