// The settings file: where it is, and how it is read.
#include "front/settings.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/system.h"
#include "support/fixtures.h"

namespace zan {
namespace {

std::vector<uint8_t> Bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

TEST(Settings, ReadWithTheProfileFileRules) {
  struct Case {
    std::string text;
    int32_t maxCacheItem;
    int32_t minCreateTime;
    const char* what;
  };
  const Case cases[] = {
      {"", 100, 0, "empty file: defaults"},
      {"[Main]\nMaxCacheItem=5\nMinCreateTime=250\n", 5, 250, "plain"},
      {"[mAIN]\r\n  maxcacheitem =\t7 \r\nMINCREATETIME=30\r\n", 7, 30, "case, blanks, CR LF"},
      {"\xEF\xBB\xBF[Main]\rMaxCacheItem=6\rMinCreateTime=7", 6, 7, "byte-order mark, CR only, no last newline"},
      {"[Main]\nMaxCacheItem=abc\nMinCreateTime=12ms\n", 100, 0, "not integers"},
      {"[Main]\nMaxCacheItem=\nMinCreateTime\n", 100, 0, "empty value, no '='"},
      {"[Main]\nMaxCacheItem=2147483648\nMinCreateTime=5 ; five\n", 100, 0, "out of range, text after the number"},
      {"; note\n# note\n\n[Main]\n;MaxCacheItem=3\n#MinCreateTime=9\n\t\nMaxCacheItem=4\n", 4, 0, "comments"},
      {"MaxCacheItem=3\n[Other]\nMaxCacheItem=2\nMinCreateTime=1\n[Main]\nMinCreateTime=8\n", 100, 8,
       "keys outside section Main"},
      {"[Main]\nMaxCacheItem=9\nMaxCacheItem=10\n[Main]\nMinCreateTime=11\n", 9, 0,
       "the first key in the first section of the name"},
      {"[Main]\nMaxCacheItem=\"12\"\nMinCreateTime='0x20'\n", 12, 32, "quotes, hexadecimal"},
      {"[Main]\nMaxCacheItem=$1F\nMinCreateTime=-20\n", 31, 0, "hexadecimal, negative time counts as 0"},
      {"[Main]\nMaxCacheItem=-1\nMinCreateTime=+15\n", -1, 15, "signs"},
      {"[Main]\nMaxCacheItem=5" + std::string(70000, ' ') + "x\nMinCreateTime=3\n", 100, 3,
       "an overlong line is skipped whole"},
  };
  test::TempDir dir;
  for (const Case& c : cases) {
    const PictorSettings s = ReadSettings(dir.Write("z.ini", Bytes(c.text)));
    EXPECT_EQ(s.MaxCacheItem, c.maxCacheItem) << c.what;
    EXPECT_EQ(s.MinCreateTime, c.minCreateTime) << c.what;
    // The same rules over text in memory.
    EXPECT_EQ(TzanIniFile::FromText(c.text).ReadInteger("main", "MAXCACHEITEM", 100), c.maxCacheItem) << c.what;
  }

  for (const std::string& missing : {dir.Path("none.ini"), dir.Path(""), std::string()}) {
    const PictorSettings s = ReadSettings(missing);
    EXPECT_EQ(s.MaxCacheItem, 100) << missing;
    EXPECT_EQ(s.MinCreateTime, 0) << missing;
  }
}

TEST(Settings, IntegerValues) {
  struct Case {
    const char* text;
    std::optional<int32_t> value;
  };
  const Case cases[] = {
      {"0", 0},
      {"-2147483648", INT32_MIN},
      {"2147483647", INT32_MAX},
      {"-2147483649", std::nullopt},
      {"0x7fffffff", INT32_MAX},
      {"0xFFFFFFFF", -1},
      {"0x100000000", std::nullopt},
      {"0x", std::nullopt},
      {"$", std::nullopt},
      {"-", std::nullopt},
      {"1 2", std::nullopt},
      {"1.5", std::nullopt},
      {"  42  ", 42},
      {"", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(TzanIniFile::ParseInteger(c.text), c.value) << c.text;
}

TEST(Settings, FileBesideTheModuleUnlessTheEnvironmentNamesOne) {
  struct Case {
    const char* module;
    const char* ini;
  };
  const Case cases[] = {
      {"/opt/zan/libzanpictors.so", "/opt/zan/libzanpictors.ini"},
      {"C:\\Tools\\zanPictors.wlx", "C:\\Tools\\zanPictors.ini"},
      {"/a.b/plugin", "/a.b/plugin.ini"},
      {"/x/libzanpictors.so.1", "/x/libzanpictors.so.ini"},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(SettingsFileName(c.module), c.ini) << c.module;

  const std::optional<std::string> saved = EnvironmentValue(kSettingsFileVariable);
  const PictorSettings savedSettings = Settings();
  test::TempDir dir;
  const std::string named = dir.Write("named.ini", Bytes("[Main]\nMaxCacheItem=3\nMinCreateTime=20\n"));

  SetEnvironmentValue(kSettingsFileVariable, named);
  EXPECT_EQ(SettingsFilePath(), named);
  LoadSettings();
  EXPECT_EQ(Settings().MaxCacheItem, 3);
  EXPECT_EQ(Settings().MinCreateTime, 20);

  SetEnvironmentValue(kSettingsFileVariable, "");
  EXPECT_EQ(SettingsFilePath(), SettingsFileName(ModulePath())) << "empty counts as unset";
  UnsetEnvironmentValue(kSettingsFileVariable);
  EXPECT_EQ(SettingsFilePath(), SettingsFileName(ModulePath()));

  if (saved) SetEnvironmentValue(kSettingsFileVariable, *saved);
  Settings() = savedSettings;
}

}  // namespace
}  // namespace zan
