// The thumbnail cache on its own: copies, capacity and eviction order, the
// one-box rule, validity by last-write time, and the module's cache unit.
#include "front/cache.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "front/hooks.h"
#include "front/pipeline.h"
#include "front/settings.h"
#include "platform/gdi.h"
#include "platform/system.h"
#include "support/fixtures.h"
#include "support/host.h"

namespace zan {
namespace {

namespace fs = std::filesystem;

// A small bitmap of one colour (0xAARRGGBB) of the given kind.
ZanHBITMAP Solid(uint32_t colour, int32_t kind = ZAN_BITMAP_DIB_SECTION, int32_t w = 5, int32_t h = 3) {
  ZanHBITMAP b =
      kind == ZAN_BITMAP_DEVICE ? zanGdiCreateCompatibleBitmap(w, h) : zanGdiCreateDIBSection32(w, h, nullptr);
  std::vector<uint32_t> px(size_t(w) * size_t(h), colour);
  GdiSetBits32(b, px.data());
  return b;
}

std::vector<uint32_t> PixelsOf(ZanHBITMAP b, ZanBitmapInfo& info) {
  info = {};
  if (zanGdiGetObject(b, &info) == 0) return {};
  std::vector<uint32_t> px(size_t(info.width) * size_t(info.height));
  zanGdiGetDIBits32(b, 0, info.height, px.data());
  return px;
}

// The colour of a returned copy (0 for none); the copy is deleted.
uint32_t Take(ZanHBITMAP b) {
  if (b == nullptr) return 0;
  ZanBitmapInfo info{};
  const uint32_t c = PixelsOf(b, info).at(0);
  EXPECT_EQ(zanGdiDeleteObject(b), 1);
  return c;
}

class PictorCache : public ::testing::Test {
 protected:
  void SetUp() override { live_ = zanGdiLiveObjects(); }
  void TearDown() override { EXPECT_EQ(zanGdiLiveObjects(), live_) << "every bitmap was deleted"; }

  // An existing file (its content does not matter to the cache).
  std::u16string File(const std::string& name) { return Utf8ToUtf16(dir_.Write(name, {1, 2, 3})); }

  // Adds a bitmap of the colour for the name and deletes the caller's own.
  static void Add(TzanPictorCache& cache, const std::u16string& name, uint32_t colour, int32_t w = 64, int32_t h = 64) {
    ZanHBITMAP b = Solid(colour);
    cache.AddItem(name, w, h, b);
    zanGdiDeleteObject(b);
  }

  static std::vector<std::u16string> Names(const TzanPictorCache& cache) {
    std::vector<std::u16string> out;
    for (int32_t i = 0; i < cache.Count(); ++i) out.push_back(cache.Items(i).FileName());
    return out;
  }

  test::TempDir dir_;
  int32_t live_ = 0;
};

TEST_F(PictorCache, CopiesKeepKindSizeAndPixelsAndBelongToTheCaller) {
  // Alpha must survive for DIB sections; device bitmaps stay opaque device bitmaps.
  for (const int32_t kind : {ZAN_BITMAP_DIB_SECTION, ZAN_BITMAP_DEVICE}) {
    ZanHBITMAP original = Solid(0x80123456u, kind, 7, 4);
    std::vector<uint32_t> ramp(28);
    for (size_t i = 0; i < ramp.size(); ++i) ramp[i] = uint32_t(i * 9) << 24 | uint32_t(i * 0x010203);
    GdiSetBits32(original, ramp.data());
    ZanBitmapInfo want{};
    const auto wantPixels = PixelsOf(original, want);

    TzanPictorCache cache(10);
    const std::u16string name = File("a.png");
    cache.AddItem(name, 32, 32, original);
    EXPECT_EQ(zanGdiDeleteObject(original), 1) << "the caller keeps its handle";

    ZanHBITMAP first = cache.FindItem(name, 32, 32);
    ZanHBITMAP second = cache.FindItem(name, 32, 32);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first, second);
    EXPECT_NE(first, cache.Items(0).Bitmap());
    ZanBitmapInfo got{};
    EXPECT_EQ(PixelsOf(first, got), wantPixels) << kind;
    EXPECT_EQ(got.kind, want.kind);
    EXPECT_EQ(got.width, 7);
    EXPECT_EQ(got.height, 4);
    zanGdiDeleteObject(first);
    EXPECT_EQ(PixelsOf(second, got), wantPixels) << "deleting one copy leaves the others";
    zanGdiDeleteObject(second);
    EXPECT_EQ(Take(cache.FindItem(name, 32, 32)), wantPixels[0]);
  }
  EXPECT_EQ(CopyBitmapHandle(nullptr), nullptr);
  int notABitmap = 0;
  EXPECT_EQ(CopyBitmapHandle(&notABitmap), nullptr);
}

TEST_F(PictorCache, KeepsTheNewestEntriesAndHitsDoNotRefreshAge) {
  struct Case {
    int32_t capacity;
    std::string steps;  // "+X": make a thumbnail of X; "?X": a request that hits
    std::string kept;   // the names left, oldest first
  };
  const Case cases[] = {
      {2, "+A+B+C", "BC"},    {2, "+A+B?A+C", "BC"}, {3, "+A+B+C+D+E", "CDE"}, {1, "+A?A+B", "B"},
      {100, "+A+B+C", "ABC"}, {0, "+A+B", ""},       {-3, "+A", ""},
  };
  for (const Case& c : cases) {
    TzanPictorCache cache(c.capacity);
    std::u16string names[5];
    for (int i = 0; i < 5; ++i) names[i] = File(std::string(1, char('A' + i)));
    for (size_t i = 0; i + 1 < c.steps.size(); i += 2) {
      const std::u16string& name = names[c.steps[i + 1] - 'A'];
      if (c.steps[i] == '+') {
        Add(cache, name, 0xFF000000u | uint32_t(c.steps[i + 1]));
      } else {
        EXPECT_NE(Take(cache.FindItem(name, 64, 64)), 0u) << c.steps;
      }
    }
    std::vector<std::u16string> want;
    for (char k : c.kept) want.push_back(names[k - 'A']);
    EXPECT_EQ(Names(cache), want) << c.capacity << " " << c.steps;
    // Evicted names miss; kept ones answer with their own thumbnail.
    for (int i = 0; i < 5; ++i) {
      const bool kept = c.kept.find(char('A' + i)) != std::string::npos;
      EXPECT_EQ(Take(cache.FindItem(names[i], 64, 64)), kept ? 0xFF000000u | uint32_t('A' + i) : 0u)
          << c.steps << " " << char('A' + i);
    }
  }
}

TEST_F(PictorCache, AnotherBoxEmptiesTheCache) {
  const std::u16string a = File("a"), b = File("b");
  for (const auto& [w, h] : {std::pair{64, 48}, std::pair{48, 64}, std::pair{0, 0}}) {
    TzanPictorCache cache(10);
    Add(cache, a, 0xFF0000FFu);
    Add(cache, b, 0xFF00FF00u);
    ASSERT_EQ(cache.Count(), 2);
    EXPECT_EQ(cache.FindItem(a, w, h), nullptr) << w << "x" << h;
    EXPECT_EQ(cache.Count(), 0);
    EXPECT_EQ(cache.MaxWidth(), w);
    EXPECT_EQ(cache.MaxHeight(), h);
    EXPECT_EQ(cache.FindItem(b, 64, 64), nullptr) << "the first box's entries are gone for good";
    // Adding for yet another box also starts afresh.
    Add(cache, a, 0xFF0000FFu, 64, 64);
    Add(cache, b, 0xFF00FF00u, 32, 32);
    EXPECT_EQ(Names(cache), std::vector<std::u16string>{b});
  }
}

TEST_F(PictorCache, AChangedOrVanishedFileMissesAndItsEntryIsDropped) {
  TzanPictorCache cache(10);
  const std::string touched = dir_.Write("touched", {1});
  const std::string removed = dir_.Write("removed", {1});
  const std::string kept = dir_.Write("kept", {1});
  for (const auto& p : {touched, removed, kept}) Add(cache, Utf8ToUtf16(p), 0xFF112233u);

  // One nanosecond later is another time: the full resolution counts.
  fs::last_write_time(touched, fs::last_write_time(touched) + std::chrono::nanoseconds(1));
  fs::remove(removed);
  EXPECT_EQ(cache.FindItem(Utf8ToUtf16(touched), 64, 64), nullptr);
  EXPECT_EQ(cache.FindItem(Utf8ToUtf16(removed), 64, 64), nullptr);
  EXPECT_EQ(Names(cache), std::vector<std::u16string>{Utf8ToUtf16(kept)}) << "stale entries are dropped";
  EXPECT_EQ(Take(cache.FindItem(Utf8ToUtf16(kept), 64, 64)), 0xFF112233u);

  // Made afresh, the touched file hits again with its new thumbnail.
  Add(cache, Utf8ToUtf16(touched), 0xFF445566u);
  EXPECT_EQ(Take(cache.FindItem(Utf8ToUtf16(touched), 64, 64)), 0xFF445566u);

  // A file that could not be queried when its entry was made never hits,
  // even while it still cannot be queried.
  Add(cache, Utf8ToUtf16(removed), 0xFF778899u);
  EXPECT_EQ(cache.FindItem(Utf8ToUtf16(removed), 64, 64), nullptr);
}

TEST_F(PictorCache, NamesThatDifferOnlyInCaseAreDifferentFiles) {
  TzanPictorCache cache(10);
  const std::u16string upper = File("Photo.jpg"), lower = File("photo.jpg");
  Add(cache, upper, 0xFFAA0000u);
  Add(cache, lower, 0xFF00AA00u);
  EXPECT_EQ(Take(cache.FindItem(upper, 64, 64)), 0xFFAA0000u);
  EXPECT_EQ(Take(cache.FindItem(lower, 64, 64)), 0xFF00AA00u);
  EXPECT_EQ(cache.FindItem(Utf8ToUtf16(dir_.Path("PHOTO.JPG")), 64, 64), nullptr);
  EXPECT_EQ(cache.Count(), 2);
}

TEST_F(PictorCache, ClearAndDestructionDeleteEveryCachedBitmap) {
  auto cache = std::make_unique<TzanPictorCache>(10);
  for (const char* n : {"a", "b", "c"}) Add(*cache, File(n), 0xFF000000u);
  EXPECT_EQ(zanGdiLiveObjects(), live_ + 3);
  cache->Clear();
  EXPECT_EQ(cache->Count(), 0);
  EXPECT_EQ(zanGdiLiveObjects(), live_);
  for (const char* n : {"a", "b"}) Add(*cache, File(n), 0xFF000000u);
  cache.reset();
  EXPECT_EQ(zanGdiLiveObjects(), live_);
}

// The module's cache unit: settings read from the file the environment
// names, the cache handed to the pipeline, everything freed at unload.
TEST_F(PictorCache, ModuleUnitWiresSettingsAndCacheIntoThePipeline) {
  FrontHooks saved = Hooks();
  const PictorSettings savedSettings = Settings();
  const std::optional<std::string> savedVariable = EnvironmentValue(kSettingsFileVariable);
  test::HostVersion host(2);

  const std::string text = "[Main]\nMaxCacheItem=1\nMinCreateTime=-5\n";
  const std::string ini = dir_.Write("settings.ini", std::vector<uint8_t>(text.begin(), text.end()));
  SetEnvironmentValue(kSettingsFileVariable, ini);
  RegisterCacheUnit();
  ASSERT_NE(Hooks().cache, nullptr);
  EXPECT_EQ(Settings().MaxCacheItem, 1);
  EXPECT_EQ(Hooks().minCreateTime, 0u) << "a negative minimum time means none";

  Bitmap32 picture(6, 6);
  picture.Clear(0xFF2040C0u);
  const std::string file = dir_.Write("p.png", test::MakePng(picture, false));
  const std::u16string name = Utf8ToUtf16(file);
  const uint32_t made = Take(GetPreviewBitmap(name, 32, 32));
  EXPECT_EQ(made & 0x00FFFFFFu, 0x2040C0u);
  // Garbage with the old time: only the cache can still answer.
  const auto time = fs::last_write_time(file);
  dir_.Write("p.png", std::vector<uint8_t>(40, 0xEE));
  fs::last_write_time(file, time);
  EXPECT_EQ(Take(GetPreviewBitmap(name, 32, 32)), made);
  EXPECT_EQ(zanGdiLiveObjects(), live_ + 1) << "the cache's own copy";

  UnregisterCacheUnit();
  EXPECT_EQ(Hooks().cache, nullptr);
  EXPECT_EQ(zanGdiLiveObjects(), live_) << "unloading deletes the cached bitmaps";
  EXPECT_EQ(GetPreviewBitmap(name, 32, 32), nullptr) << "no cache: the file is read";

  if (savedVariable) {
    SetEnvironmentValue(kSettingsFileVariable, *savedVariable);
  } else {
    UnsetEnvironmentValue(kSettingsFileVariable);
  }
  Settings() = savedSettings;
  if (saved.cache != nullptr) {
    // The module was loaded in this process: give it a cache again.
    RegisterCacheUnit();
    saved.cache = Hooks().cache;
    saved.minCreateTime = Hooks().minCreateTime;
  }
  Hooks() = saved;
  live_ = zanGdiLiveObjects();
}

}  // namespace
}  // namespace zan
