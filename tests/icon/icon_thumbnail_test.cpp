// Icons and cursors as thumbnails: the image chosen for the box and the
// alpha that comes out, through the plain-image decoder and the whole
// pipeline, for made-up files and for files written by real programs.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "front/decode.h"
#include "front/hooks.h"
#include "front/pipeline.h"
#include "icon/icon.h"
#include "icon/icon_fixtures.h"
#include "meta/utils.h"
#include "platform/system.h"
#include "support/fixtures.h"
#include "support/host.h"

namespace zan {
namespace {

using test::DibSpec;
using test::IcoEntry;
using test::MakeDib;
using test::MakeIco;
using test::ReadBack;

Bitmap32 Thumb(const std::vector<uint8_t>& file, int32_t box) {
  TMemoryStream s(file.data(), file.size());
  return ReadBack(StreamToThumbnail(s, box, box, 0, false));
}

int CountAlpha(const Bitmap32& b, uint8_t alpha) {
  int n = 0;
  for (int32_t y = 0; y < b.Height(); ++y)
    for (int32_t x = 0; x < b.Width(); ++x) n += (b.Pixel(x, y) >> 24) == alpha;
  return n;
}

// Where the image's alpha is 0 or 255 the thumbnail at its own size has the
// same; `zero` and `full` count those pixels.
void ExpectAlphaKept(const TzanIconObject& image, const Bitmap32& out, int zero, int full) {
  ASSERT_EQ(out.Width(), image.Width());
  ASSERT_EQ(out.Height(), image.Height());
  int zeros = 0, fulls = 0;
  for (int32_t y = 0; y < out.Height(); ++y)
    for (int32_t x = 0; x < out.Width(); ++x) {
      const uint32_t a = image.GetPixelColor(x, y) >> 24, got = out.Pixel(x, y) >> 24;
      if (a == 0) {
        ++zeros;
        EXPECT_EQ(out.Pixel(x, y), 0u) << x << "," << y;
      } else if (a == 255) {
        ++fulls;
        EXPECT_EQ(got, 255u) << x << "," << y;
      } else {
        EXPECT_LT(got, 255u) << x << "," << y;
      }
    }
  EXPECT_EQ(zeros, zero);
  EXPECT_EQ(fulls, full);
}

void ExpectSamePixels(const Bitmap32& a, const Bitmap32& b) {
  ASSERT_EQ(a.Width(), b.Width());
  ASSERT_EQ(a.Height(), b.Height());
  for (int32_t y = 0; y < a.Height(); ++y)
    for (int32_t x = 0; x < a.Width(); ++x) ASSERT_EQ(a.Pixel(x, y), b.Pixel(x, y)) << x << "," << y;
}

// The icon decoder plugged in for one test, the hooks restored after.
class IconThumbnail : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = Hooks();
    RegisterIconUnit();
  }
  void TearDown() override { Hooks() = saved_; }
  FrontHooks saved_;
};

TEST_F(IconThumbnail, ChosenImageIsDrawn) {
  test::HostVersion host(2);
  const std::vector<uint32_t> palette = {0, 0xFF0000, 0x00FF00};
  const auto file = MakeIco({IcoEntry{MakeDib(test::SolidDib(16, 16, 4, 1, palette))},
                             IcoEntry{MakeDib(test::SolidDib(32, 32, 4, 2, palette))},
                             IcoEntry{MakeDib(test::SolidDib(32, 32, 32, 0xFF0000FF))}});
  struct Case {
    int32_t box;
    int32_t size;
    uint32_t pixel;
  };
  for (const Case& c : {Case{32, 32, 0xFF0000FF}, Case{16, 16, 0xFFFF0000}, Case{20, 16, 0xFFFF0000},
                        Case{24, 24, 0xFF0000FF}}) {
    const Bitmap32 out = Thumb(file, c.box);
    ASSERT_EQ(out.Width(), c.size) << c.box;
    EXPECT_EQ(out.Pixel(out.Width() / 2, out.Height() / 2), c.pixel) << c.box;
  }
  // A cursor is read the same way.
  auto cursor = file;
  cursor[2] = 2;
  EXPECT_EQ(Thumb(cursor, 32).Pixel(5, 5), 0xFF0000FFu);
}

TEST_F(IconThumbnail, FilesWithoutReadableImagesGiveNothing) {
  const std::vector<uint8_t> broken = MakeDib(test::SolidDib(8, 8, 32, 0xFF000000));
  DibSpec odd = test::SolidDib(8, 8, 32, 0xFF000000);
  odd.headerHeight = 15;
  const std::vector<std::vector<uint8_t>> files = {
      MakeIco({}),
      MakeIco({IcoEntry{MakeDib(odd)}}),
      MakeIco({IcoEntry{broken, 1, 32, 0x10000}}),
      MakeIco({IcoEntry{broken}}, 1, 60000),  // one good image: drawn
      {0, 0, 1, 0},
  };
  for (size_t i = 0; i < files.size(); ++i) EXPECT_EQ(Thumb(files[i], 32).Empty(), i != 3) << i;
}

// The mask and the alpha bytes as the host sees them: transparent where the
// host takes alpha, white where it does not, and exactly what a PNG file of
// the same pixels gives.
TEST_F(IconThumbnail, TransparencyReachesTheHost) {
  LoadModule();
  ASSERT_EQ(Hooks().iconToPng, &IconStreamToPng) << "registered when the module loads";
  test::TempDir dir;

  DibSpec masked = test::SolidDib(8, 8, 4, 1, {0, 0x3366CC});
  masked.mask.assign(64, 0);
  for (int i = 0; i < 8; ++i) masked.mask[size_t(i * 9)] = 1;  // the diagonal
  for (int32_t version : {1, 2}) {
    // A file per version: the cache knows a name and box only once.
    const std::u16string maskedName = Utf8ToUtf16(
        dir.Write("masked" + std::to_string(version) + ".ico", MakeIco({IcoEntry{MakeDib(masked)}})));
    test::HostVersion host(version);
    const Bitmap32 out = ReadBack(GetPreviewBitmap(maskedName, 8, 8));
    ASSERT_EQ(out.Width(), 8) << version;
    for (int32_t y = 0; y < 8; ++y)
      for (int32_t x = 0; x < 8; ++x) {
        if (version == 2) {
          ASSERT_EQ(out.Pixel(x, y), x == y ? 0u : 0xFF3366CCu) << x << "," << y;
        } else {  // a device bitmap: colours only
          ASSERT_EQ(out.Pixel(x, y) & 0xFFFFFF, x == y ? 0xFFFFFFu : 0x3366CCu) << x << "," << y;
        }
      }
  }

  // 32-bit alpha against the same pixels as an RGBA PNG file, at the
  // image's size and shrunk.
  test::HostVersion host(2);
  DibSpec alpha;
  alpha.width = alpha.height = 40;
  alpha.bitCount = 32;
  alpha.mask.assign(1600, 1);  // ignored at 32 bits
  Bitmap32 picture(40, 40);
  for (int32_t y = 0; y < 40; ++y)
    for (int32_t x = 0; x < 40; ++x) {
      const uint32_t c = (uint32_t(x * 6) << 24) | (uint32_t(y * 6) << 16) | 0x8040u;
      alpha.pixels.push_back(c);
      picture.SetPixel(x, y, c);
    }
  const std::u16string icoName = Utf8ToUtf16(dir.Write("alpha.ico", MakeIco({IcoEntry{MakeDib(alpha)}})));
  const std::u16string pngName = Utf8ToUtf16(dir.Write("alpha.png", test::MakePng(picture, true)));
  for (int32_t box : {40, 17}) {
    SCOPED_TRACE(box);
    const Bitmap32 fromIcon = ReadBack(GetPreviewBitmap(icoName, box, box));
    ExpectSamePixels(fromIcon, ReadBack(GetPreviewBitmap(pngName, box, box)));
    if (box == 40) {
      EXPECT_EQ(fromIcon.Pixel(0, 5), 0u) << "alpha 0 comes out transparent black";
    }
  }
}

TEST_F(IconThumbnail, UnloadReportsOnlyObjectsStillAlive) {
  testing::internal::CaptureStderr();
  UnregisterIconUnit();
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(Hooks().iconToPng, nullptr);

  RegisterIconUnit();
  auto kept = std::make_shared<TzanIconObject>();
  testing::internal::CaptureStderr();
  UnregisterIconUnit();
  const std::string report = testing::internal::GetCapturedStderr();
  EXPECT_NE(report.find("Memory outflow: 1 TzanIconObject not destroyed\n"), std::string::npos) << report;
  EXPECT_EQ(report.find("TzanIcon not destroyed"), std::string::npos) << report;
}

// ---- Files written by real programs -----------------------------------------------------

// The bytes of directory entry `index`'s image.
std::vector<uint8_t> EntryData(const std::vector<uint8_t>& file, int index) {
  const uint8_t* e = file.data() + 6 + 16 * index;
  const uint32_t size = GetU32LE(e + 8), offset = GetU32LE(e + 12);
  return std::vector<uint8_t>(file.begin() + offset, file.begin() + offset + size);
}

std::unique_ptr<TzanIcon> LoadIcon(const std::vector<uint8_t>& file) {
  auto icon = std::make_unique<TzanIcon>();
  TMemoryStream s(file.data(), file.size());
  icon->LoadFromStream(s);
  return icon;
}

TEST_F(IconThumbnail, CorpusIconWithManySizesAndDepths) {
  ZAN_REQUIRE_CORPUS_FILE(path, "ico_cur/Icon_(1).ico");
  test::HostVersion host(2);
  const std::vector<uint8_t> file = test::ReadFileBytes(path);
  const auto icon = LoadIcon(file);
  ASSERT_EQ(icon->IconCount(), 23);
  const int32_t bits[23] = {1, 1, 1, 32, 4, 4, 4, 4, 32, 8, 8, 8, 8, 32, 32, 32, 32, 32, 32, 32, 32, 32, 32};
  for (int32_t i = 0; i < 23; ++i) EXPECT_EQ(icon->Icons(i)->BitCount(), bits[i]) << i;
  EXPECT_EQ(icon->Icons(3)->PNGStream(), EntryData(file, 3));

  // Box -> chosen image: three 256 x 256 PNGs tie, the last wins; at every
  // DIB size the 32-bit image beats the 1-, 4- and 8-bit ones.
  struct Case {
    int32_t box, chosen;
  };
  for (const Case& c : {Case{256, 13}, Case{48, 19}, Case{32, 20}, Case{16, 22}, Case{100, 15}, Case{20, 21}})
    EXPECT_EQ(ChooseIconImage(*icon, c.box, c.box), c.chosen) << c.box;

  // The PNG entry is drawn exactly as the same PNG file is.
  ExpectSamePixels(Thumb(file, 256), Thumb(EntryData(file, 13), 256));

  // The 32 x 32 x 32 image: its zero and full alpha bytes come through.
  ExpectAlphaKept(*icon->Icons(20), Thumb(file, 32), 243, 669);
  EXPECT_EQ(Thumb(file, 100).Width(), 96) << "not enlarged";

  // The masked images: 16 x 16 at 1 and 4 bits, 77 pixels masked.
  for (int32_t i : {2, 7, 12}) {
    const PngImage png = icon->Icons(i)->CreatePNGObject();
    ASSERT_EQ(png.colorType, PngImage::kRGBA) << i;
    int transparent = 0;
    for (int32_t y = 0; y < 16; ++y)
      for (int32_t x = 0; x < 16; ++x) transparent += png.PixelPtr(x, y)[3] == 0;
    EXPECT_EQ(transparent, 77) << i;
  }
}

TEST_F(IconThumbnail, CorpusFilesFromIconTools) {
  test::HostVersion host(2);
  {
    ZAN_REQUIRE_CORPUS_FILE(path, "generated/ico/icotool_mixed.ico");
    const std::vector<uint8_t> file = test::ReadFileBytes(path);
    const auto icon = LoadIcon(file);
    ASSERT_EQ(icon->IconCount(), 4);
    // Opaque palette images stay palette images.
    const struct {
      int32_t box, chosen, colorType, bitDepth;
    } cases[] = {{16, 0, PngImage::kPalette, 4},
                 {32, 1, PngImage::kPalette, 8},
                 {48, 2, PngImage::kRGB, 8},
                 {256, 3, PngImage::kRGB, 8}};  // every alpha byte of this PNG is 255
    for (const auto& c : cases) {
      ASSERT_EQ(ChooseIconImage(*icon, c.box, c.box), c.chosen) << c.box;
      const PngImage png = icon->Icons(c.chosen)->CreatePNGObject();
      EXPECT_EQ(png.colorType, c.colorType) << c.box;
      EXPECT_EQ(png.bitDepth, c.bitDepth) << c.box;
      const Bitmap32 out = Thumb(file, c.box);
      ASSERT_EQ(out.Width(), c.box);
      EXPECT_EQ(CountAlpha(out, 255), c.box * c.box) << c.box;
    }
    ExpectSamePixels(Thumb(file, 256), Thumb(EntryData(file, 3), 256));
  }
  {
    ZAN_REQUIRE_CORPUS_FILE(path, "generated/ico/im_autoresize.ico");
    const std::vector<uint8_t> file = test::ReadFileBytes(path);
    const auto icon = LoadIcon(file);
    ASSERT_EQ(icon->IconCount(), 4);
    EXPECT_EQ(ChooseIconImage(*icon, 256, 256), 0);
    EXPECT_EQ(ChooseIconImage(*icon, 48, 48), 1);
    ExpectSamePixels(Thumb(file, 256), Thumb(EntryData(file, 0), 256));
    EXPECT_EQ(CountAlpha(Thumb(file, 48), 255), 48 * 48);
  }
}

TEST_F(IconThumbnail, CorpusCursors) {
  test::HostVersion host(2);
  struct Case {
    const char* file;
    uint16_t hotX, hotY;
    int transparent, opaque;
  };
  for (const Case& c : {Case{"generated/ico/cursor.cur", 5, 7, 0, 1024},
                        Case{"ico_cur/deerstalker.cur", 0, 0, 683, 216}}) {
    SCOPED_TRACE(c.file);
    ZAN_REQUIRE_CORPUS_FILE(path, c.file);
    const std::vector<uint8_t> file = test::ReadFileBytes(path);
    const auto icon = LoadIcon(file);
    ASSERT_EQ(icon->IconCount(), 1);
    EXPECT_EQ(icon->Type_(), TzanIconType::itCursor);
    EXPECT_EQ(icon->Width(), 32);
    EXPECT_EQ(icon->XHotSpot(), c.hotX);
    EXPECT_EQ(icon->YHotSpot(), c.hotY);
    ExpectAlphaKept(*icon->Icons(0), ReadBack(GetPreviewBitmap(Utf8ToUtf16(path), 32, 32)), c.transparent,
                    c.opaque);
  }
}

TEST_F(IconThumbnail, CorpusFileNamedIcoThatIsNoIcon) {
  ZAN_REQUIRE_CORPUS_FILE(path, "ico_cur/Help-01.ICO");
  LoadModule();
  test::HostVersion host(2);
  EXPECT_TRUE(Thumb(test::ReadFileBytes(path), 64).Empty());
  EXPECT_EQ(GetPreviewBitmap(Utf8ToUtf16(path), 64, 64), nullptr);
}

// Writes the fuzz target's icon seeds (run by hand with
// --gtest_also_run_disabled_tests --gtest_filter='IconFuzzSeeds*').
TEST(IconFuzzSeeds, DISABLED_Write) {
  const std::filesystem::path dir = std::filesystem::path(ZAN_SOURCE_DIR) / "fuzz" / "corpus";
  auto write = [&](const std::string& name, const std::vector<uint8_t>& bytes) {
    test::TempDir tmp;
    std::filesystem::copy_file(tmp.Write(name, bytes), dir / name, std::filesystem::copy_options::overwrite_existing);
  };
  DibSpec masked = test::SolidDib(16, 16, 4, 1, {0, 0x3366CC});
  masked.mask.assign(256, 0);
  for (int i = 0; i < 16; ++i) masked.mask[size_t(i * 17)] = 1;
  PngImage png = test::RgbaPng(24, 24, [](int32_t x, int32_t y) { return uint32_t(x * 10) << 24 | uint32_t(y) * 5; });
  write("icon-mixed.ico", MakeIco({IcoEntry{MakeDib(masked)}, IcoEntry{MakeDib(test::SolidDib(8, 8, 24, 0x123456))},
                                   IcoEntry{MakeDib(test::SolidDib(12, 12, 1, 1, {0, 0xFFFFFF}))},
                                   IcoEntry{test::PngBytes(png)}}));
  write("icon-cursor.cur", MakeIco({IcoEntry{MakeDib(test::SolidDib(16, 16, 32, 0x80FF8000)), 5, 7}}, 2));
  write("icon-depths.ico", MakeIco({IcoEntry{MakeDib(test::SolidDib(9, 3, 8, 7, {0, 0x00FF00}))},
                                    IcoEntry{MakeDib(test::SolidDib(9, 3, 16, 0x7C1F))}}));
}

}  // namespace
}  // namespace zan
