// The thumbnail cache and the minimum creation time as a host sees them: a
// copy of the shared module loaded at run time with its settings file beside
// it, driven through the exports only.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "front/settings.h"
#include "module/plugin_api.h"
#include "platform/dynamic_library.h"
#include "platform/process.h"
#include "platform/system.h"
#include "support/fixtures.h"

namespace zan {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

class CacheHost : public ::testing::Test {
 protected:
  // Loads a fresh copy of the module; settings (when given) is the text of
  // the settings file beside it.
  void Load(const std::optional<std::string>& settings) {
    lib_.Close();
    const std::string folder = dir_.Path("module" + std::to_string(loads_++));
    fs::create_directories(folder);
    const std::string module = folder + "/libzanpictors.so";
    fs::copy_file(ZAN_MODULE_PATH, module);
    if (settings) Write(folder + "/libzanpictors.ini", *settings);
    ASSERT_TRUE(lib_.Open(module)) << lib_.Error();
    getW_ = reinterpret_cast<ListGetPreviewBitmapWProc>(lib_.Symbol("ListGetPreviewBitmapW"));
    auto setParams = reinterpret_cast<ListSetDefaultParamsProc>(lib_.Symbol("ListSetDefaultParams"));
    getObject_ = reinterpret_cast<decltype(&zanGdiGetObject)>(lib_.Symbol("zanGdiGetObject"));
    getBits_ = reinterpret_cast<decltype(&zanGdiGetDIBits32)>(lib_.Symbol("zanGdiGetDIBits32"));
    delete_ = reinterpret_cast<decltype(&zanGdiDeleteObject)>(lib_.Symbol("zanGdiDeleteObject"));
    live_ = reinterpret_cast<decltype(&zanGdiLiveObjects)>(lib_.Symbol("zanGdiLiveObjects"));
    ASSERT_TRUE(getW_ && setParams && getObject_ && getBits_ && delete_ && live_);
    ListDefaultParamStruct p{};
    p.size = sizeof p;
    p.PluginInterfaceVersionHi = 2;
    setParams(&p);
  }

  static void Write(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

  // A 16 x 16 PNG of one colour (0xRRGGBB).
  std::string Picture(const std::string& name, uint32_t rgb) {
    Bitmap32 picture(16, 16);
    picture.Clear(0xFF000000u | rgb);
    return dir_.Write(name, test::MakePng(picture, false));
  }

  // New bytes that no decoder accepts, under the old last-write time: only
  // a cache that does not read the file can still answer.
  static void Poison(const std::string& path) {
    const auto time = fs::last_write_time(path);
    Write(path, std::string(64, '\xEE'));
    fs::last_write_time(path, time);
  }

  ZanHBITMAP Get(const std::string& path, int32_t w = 64, int32_t h = 64) {
    const std::u16string name = Utf8ToUtf16(path);
    return getW_(reinterpret_cast<const ZanWChar*>(name.c_str()), w, h, nullptr, 0);
  }

  std::vector<uint32_t> Pixels(ZanHBITMAP h) {
    ZanBitmapInfo info{};
    if (getObject_(h, &info) == 0) return {};
    std::vector<uint32_t> px(size_t(info.width) * size_t(info.height));
    EXPECT_EQ(getBits_(h, 0, info.height, px.data()), info.height);
    return px;
  }

  // The colour (0xRRGGBB) of the thumbnail the module returns, or nothing.
  std::optional<uint32_t> Colour(const std::string& path, int32_t w = 64, int32_t h = 64) {
    ZanHBITMAP b = Get(path, w, h);
    if (b == nullptr) return std::nullopt;
    const auto px = Pixels(b);
    EXPECT_EQ(delete_(b), 1);
    if (px.empty()) return 0xFFFFFFFFu;
    return px[px.size() / 2] & 0x00FFFFFFu;
  }

  test::TempDir dir_;
  DynamicLibrary lib_;  // after dir_: unloaded before the folder goes
  int loads_ = 0;
  ListGetPreviewBitmapWProc getW_ = nullptr;
  decltype(&zanGdiGetObject) getObject_ = nullptr;
  decltype(&zanGdiGetDIBits32) getBits_ = nullptr;
  decltype(&zanGdiDeleteObject) delete_ = nullptr;
  decltype(&zanGdiLiveObjects) live_ = nullptr;
};

TEST_F(CacheHost, AHitDoesNotReadTheFileAndEachHandleIsTheCallers) {
  ASSERT_NO_FATAL_FAILURE(Load(std::nullopt));
  const std::string a = Picture("a.png", 0xC02040);
  ZanHBITMAP first = Get(a);
  ASSERT_NE(first, nullptr);
  const auto pixels = Pixels(first);
  EXPECT_EQ(pixels.at(0) & 0x00FFFFFFu, 0xC02040u);

  Poison(a);
  ZanHBITMAP second = Get(a);
  ZanHBITMAP third = Get(a);
  ASSERT_NE(second, nullptr) << "the cached thumbnail answers";
  ASSERT_NE(third, nullptr);
  EXPECT_NE(second, first);
  EXPECT_NE(third, second);
  EXPECT_EQ(Pixels(second), pixels);
  EXPECT_EQ(delete_(first), 1);
  EXPECT_EQ(delete_(second), 1);
  EXPECT_EQ(Pixels(third), pixels) << "deleting other copies leaves this one intact";
  EXPECT_EQ(live_(), 2) << "the caller's copy and the cache's own";
  EXPECT_EQ(delete_(third), 1);
  EXPECT_EQ(Colour(a), 0xC02040u) << "the host deleting its copies never touches the cache's";
  EXPECT_EQ(live_(), 1);
}

TEST_F(CacheHost, ATouchedFileMissesAndIsMadeAfresh) {
  ASSERT_NO_FATAL_FAILURE(Load(std::nullopt));
  const std::string a = Picture("a.png", 0xFF0000);
  EXPECT_EQ(Colour(a), 0xFF0000u);
  const auto time = fs::last_write_time(a);

  Picture("a.png", 0x00FF00);
  fs::last_write_time(a, time + std::chrono::seconds(1));
  EXPECT_EQ(Colour(a), 0x00FF00u) << "a new last-write time: made afresh";
  Poison(a);
  EXPECT_EQ(Colour(a), 0x00FF00u) << "and the new thumbnail is cached";

  fs::last_write_time(a, time + std::chrono::seconds(2));
  EXPECT_EQ(Colour(a), std::nullopt) << "touched again, the garbage is read";
  EXPECT_EQ(live_(), 0) << "the stale entry was dropped";
}

TEST_F(CacheHost, EvictionKeepsTheNewestEntriesAndHitsDoNotRefreshAge) {
  struct Case {
    std::string steps;  // a letter makes or asks for that file's thumbnail, in order
    std::string hits;   // whose cached thumbnails still answer afterwards
  };
  const Case cases[] = {{"ABC", "BC"}, {"ABAC", "BC"}, {"ABCBA", "CA"}, {"AAB", "AB"}};
  for (const Case& c : cases) {
    ASSERT_NO_FATAL_FAILURE(Load("[Main]\nMaxCacheItem=2\n"));
    std::string files[3];
    for (int i = 0; i < 3; ++i)
      files[i] = Picture(std::to_string(loads_) + char('A' + i) + ".png", 0x101010u * uint32_t(i + 1));
    for (char s : c.steps) EXPECT_EQ(Colour(files[s - 'A']), 0x101010u * uint32_t(s - 'A' + 1)) << c.steps;
    for (const auto& f : files) Poison(f);
    for (int i = 0; i < 3; ++i) {
      const bool hit = c.hits.find(char('A' + i)) != std::string::npos;
      EXPECT_EQ(Colour(files[i]).has_value(), hit) << c.steps << ": " << char('A' + i);
    }
    EXPECT_EQ(live_(), int32_t(c.hits.size()));
  }
}

TEST_F(CacheHost, AnotherBoxEmptiesTheCache) {
  for (const auto& [w, h] : {std::pair{64, 48}, std::pair{48, 64}}) {
    ASSERT_NO_FATAL_FAILURE(Load(std::nullopt));
    const std::string a = Picture(std::to_string(loads_) + "a.png", 0x0000FF);
    const std::string b = Picture(std::to_string(loads_) + "b.png", 0x00FF00);
    EXPECT_EQ(Colour(a), 0x0000FFu);
    EXPECT_EQ(Colour(b), 0x00FF00u);
    Poison(a);
    Poison(b);
    EXPECT_EQ(Colour(b), 0x00FF00u) << "cached";
    EXPECT_EQ(Colour(a, w, h), std::nullopt) << w << "x" << h << ": another box misses";
    EXPECT_EQ(Colour(a), std::nullopt) << "and the first box's entries are gone";
    EXPECT_EQ(Colour(b), std::nullopt);
    EXPECT_EQ(live_(), 0);
  }
}

TEST_F(CacheHost, NamesThatDifferOnlyInCaseAreDifferentFiles) {
  ASSERT_NO_FATAL_FAILURE(Load(std::nullopt));
  const std::string upper = Picture("Pic.png", 0xAA0000);
  const std::string lower = Picture("pic.png", 0x00AA00);
  EXPECT_EQ(Colour(upper), 0xAA0000u);
  EXPECT_EQ(Colour(lower), 0x00AA00u);
  Poison(upper);
  Poison(lower);
  EXPECT_EQ(Colour(upper), 0xAA0000u);
  EXPECT_EQ(Colour(lower), 0x00AA00u);
  EXPECT_EQ(Colour(dir_.Path("PIC.png")), std::nullopt);
}

TEST_F(CacheHost, EveryMissTakesAtLeastTheMinimumTime) {
  ASSERT_NO_FATAL_FAILURE(Load("[main]\nMinCreateTime=40\n"));
  const std::string a = Picture("a.png", 0x336699);
  const std::string bad = dir_.Write("bad.dat", std::vector<uint8_t>(100, 7));
  auto timed = [&](const std::string& path, bool made) {
    const auto t0 = Clock::now();
    ZanHBITMAP b = Get(path);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
    EXPECT_EQ(b != nullptr, made) << path;
    if (b != nullptr) delete_(b);
    return ms;
  };
  EXPECT_GE(timed(a, true), 40) << "a miss that makes a thumbnail";
  EXPECT_GE(timed(bad, false), 40) << "a miss that makes none";
  timed(a, true);  // a hit: answered from the cache (its time is not asserted)
  EXPECT_EQ(Get(dir_.Path("missing.png")), nullptr);
}

TEST_F(CacheHost, TheEnvironmentCanNameAnotherSettingsFile) {
  const std::string named = dir_.Path("named.ini");
  Write(named, "[Main]\nMaxCacheItem=1\n");
  const std::optional<std::string> saved = EnvironmentValue(kSettingsFileVariable);
  SetEnvironmentValue(kSettingsFileVariable, named);
  Load("[Main]\nMaxCacheItem=2\n");  // the settings are read while loading
  if (saved) {
    SetEnvironmentValue(kSettingsFileVariable, *saved);
  } else {
    UnsetEnvironmentValue(kSettingsFileVariable);
  }
  ASSERT_FALSE(HasFatalFailure());
  const std::string a = Picture("a.png", 0x111111), b = Picture("b.png", 0x222222);
  EXPECT_TRUE(Colour(a).has_value());
  EXPECT_TRUE(Colour(b).has_value());
  Poison(a);
  Poison(b);
  EXPECT_EQ(Colour(a), std::nullopt) << "one entry kept, as the named file says";
  EXPECT_EQ(Colour(b), 0x222222u);
}

TEST(CacheCommandLine, ThumbReadsTheSettingsFileNamedByIni) {
  test::TempDir dir;
  Bitmap32 picture(8, 8);
  picture.Clear(0xFF808080u);
  const std::string png = dir.Write("a.png", test::MakePng(picture, false));
  const std::string ini = dir.Path("slow.ini");
  std::ofstream(ini) << "[Main]\nMinCreateTime=60\n";
  std::string out;
  const std::string cli = std::string(ZAN_CLI_PATH) + " thumb '" + png + "' -v -o '" + dir.Path("a.out.png") + "'";
  ASSERT_EQ(RunCommand(cli + " --ini '" + ini + "'", out), 0) << out;
  // "FILE<TAB>WxH<TAB>milliseconds"
  const size_t tab = out.rfind('\t');
  ASSERT_NE(tab, std::string::npos) << out;
  EXPECT_GE(std::stod(out.substr(tab + 1)), 60.0) << out;

  EXPECT_EQ(RunCommand(cli + " --ini '" + dir.Path("none.ini") + "' 2>&1", out), 2);
}

}  // namespace
}  // namespace zan
