// One image of an icon file: its pixels by bit depth, mask and alpha, and
// its conversions to and from PNG images.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "icon/icon.h"
#include "icon/icon_fixtures.h"

namespace zan {
namespace {

using test::DibSpec;
using test::IcoEntry;
using test::MakeDib;
using test::MakeIco;

// Loads the first image of a one-image icon file holding `data`.
TzanIconObjectRef LoadImage(const std::vector<uint8_t>& data, uint16_t type = 1, IcoEntry entry = {}) {
  entry.data = data;
  const std::vector<uint8_t> file = MakeIco({entry}, type);
  TMemoryStream s(file.data(), file.size());
  auto image = std::make_shared<TzanIconObject>();
  image->LoadFromStream(s, 0);
  return image;
}

uint8_t AlphaOf(uint32_t rgba) { return static_cast<uint8_t>(rgba >> 24); }

// 0xRRGGBB (with alpha) to the pixel interface's order.
uint32_t Rgba(uint32_t rgb, uint8_t alpha) {
  return IconRgba(uint8_t(rgb >> 16), uint8_t(rgb >> 8), uint8_t(rgb), alpha);
}

TEST(IconObjectPixels, EachBitDepthWithMaskAndAlpha) {
  // 9 x 2 pictures, so that rows are padded and the mask and 1-bit rows run
  // into a second byte; every third pixel masked.
  std::vector<uint32_t> palette;
  for (uint32_t i = 0; i < 256; ++i) palette.push_back((i << 16) | ((255 - i) << 8) | (i / 2));
  struct Case {
    int32_t bitCount;
    uint32_t (*value)(int i);           // the stored value of pixel i (top-down)
    uint32_t (*expected)(uint32_t v);   // its colour as 0xRRGGBB (alpha from the mask)
  };
  const Case cases[] = {
      {1, [](int i) { return uint32_t(i % 2); }, nullptr},
      {4, [](int i) { return uint32_t((i * 7) % 16); }, nullptr},
      {8, [](int i) { return uint32_t((i * 37) % 256); }, nullptr},
      // 5-5-5: each field times 8; the top bit is not used.
      {16, [](int i) { return uint32_t(0x8000 | (i << 10) | ((31 - i) << 5) | (i % 3)); },
       [](uint32_t v) { return (((v >> 10) & 31) * 8) << 16 | (((v >> 5) & 31) * 8) << 8 | (v & 31) * 8; }},
      {24, [](int i) { return uint32_t(0x102030 * (i + 1)) & 0xFFFFFF; }, [](uint32_t v) { return v; }},
  };
  for (const Case& c : cases) {
    DibSpec d;
    d.width = 9;
    d.height = 2;
    d.bitCount = c.bitCount;
    d.palette = palette;
    for (int i = 0; i < 18; ++i) {
      d.pixels.push_back(c.value(i));
      d.mask.push_back(i % 3 == 1);
    }
    const TzanIconObjectRef image = LoadImage(MakeDib(d));
    ASSERT_EQ(image->Width(), 9);
    ASSERT_EQ(image->Height(), 2);
    ASSERT_EQ(image->BitCount(), c.bitCount);
    for (int i = 0; i < 18; ++i) {
      const uint32_t v = c.value(i);
      const uint32_t rgb = c.expected ? c.expected(v) : palette[v];
      EXPECT_EQ(image->GetPixelColor(i % 9, i / 9), Rgba(rgb, i % 3 == 1 ? 0 : 255))
          << c.bitCount << " bits, pixel " << i;
    }
    EXPECT_FALSE(image->Opaque());
    EXPECT_EQ(image->GetPixelColor(-1, 0), 0u);
    EXPECT_EQ(image->GetPixelColor(9, 0), 0u);
    EXPECT_EQ(image->GetPixelColor(0, 2), 0u);
  }

  // 32 bits: the alpha bytes decide, whatever the mask says.
  DibSpec d;
  d.width = 3;
  d.height = 1;
  d.bitCount = 32;
  d.pixels = {0xFF112233, 0x00445566, 0x80778899};
  d.mask = {1, 0, 1};
  const TzanIconObjectRef image = LoadImage(MakeDib(d));
  EXPECT_EQ(image->GetPixelColor(0, 0), Rgba(0x112233, 0xFF));
  EXPECT_EQ(image->GetPixelColor(1, 0), Rgba(0x445566, 0x00));
  EXPECT_EQ(image->GetPixelColor(2, 0), Rgba(0x778899, 0x80));
}

TEST(IconObjectPixels, HeaderHeightCountsColourAndMask) {
  // The information header says 64 for a 32 x 32 image.
  DibSpec d = test::SolidDib(32, 32, 24, 0x336699);
  d.mask.assign(32 * 32, 0);
  d.mask[0] = 1;  // top-left: the first mask row from the top is the last stored
  const std::vector<uint8_t> dib = MakeDib(d);
  ASSERT_EQ(dib[8], 64);
  const TzanIconObjectRef image = LoadImage(dib);
  EXPECT_EQ(image->Width(), 32);
  EXPECT_EQ(image->Height(), 32);
  EXPECT_EQ(AlphaOf(image->GetPixelColor(0, 0)), 0);
  EXPECT_EQ(AlphaOf(image->GetPixelColor(0, 31)), 255);
}

TEST(IconObjectPng, FormChosenByOpacityAndDepth) {
  std::vector<uint32_t> palette16;
  for (uint32_t i = 0; i < 16; ++i) palette16.push_back(0x100000 * i + 0x000F0F * (15 - i));
  palette16[5] = palette16[2];  // a colour held twice: pixels name its first entry
  std::vector<uint32_t> palette256;
  for (uint32_t i = 0; i < 256; ++i) palette256.push_back((i << 16) | ((i ^ 0x55) << 8) | (255 - i));

  struct Case {
    const char* name;
    DibSpec dib;
    int colorType;
    int bitDepth;
  };
  std::vector<Case> cases;
  {
    DibSpec d = test::SolidDib(16, 16, 4, 0, palette16);
    for (int i = 0; i < 256; ++i) d.pixels[size_t(i)] = uint32_t(i % 16);
    cases.push_back({"4-bit, mask all 0", d, PngImage::kPalette, 4});
    d.mask.assign(256, 0);
    d.mask[4 * 16 + 3] = 1;
    cases.push_back({"4-bit, one pixel masked", d, PngImage::kRGBA, 8});
  }
  cases.push_back({"1-bit opaque", test::SolidDib(5, 3, 1, 1, {0x000000, 0xFFEEDD}), PngImage::kPalette, 1});
  cases.push_back({"8-bit opaque", test::SolidDib(5, 3, 8, 200, palette256), PngImage::kPalette, 8});
  cases.push_back({"16-bit opaque", test::SolidDib(5, 3, 16, 0x7FFF), PngImage::kRGB, 8});
  cases.push_back({"24-bit opaque", test::SolidDib(5, 3, 24, 0x123456), PngImage::kRGB, 8});
  {
    DibSpec d = test::SolidDib(32, 32, 32, 0x80336699);
    d.mask.assign(32 * 32, 1);
    cases.push_back({"32-bit, alpha 128, mask all 1", d, PngImage::kRGBA, 8});
    cases.push_back({"32-bit, alpha 255, mask all 1", test::SolidDib(4, 4, 32, 0xFF336699), PngImage::kRGB, 8});
    cases.push_back({"32-bit, alpha all 0", test::SolidDib(4, 4, 32, 0x00336699), PngImage::kRGBA, 8});
  }

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TzanIconObjectRef image = LoadImage(MakeDib(c.dib));
    const PngImage png = image->CreatePNGObject();
    ASSERT_EQ(png.width, c.dib.width);
    ASSERT_EQ(png.height, c.dib.height);
    EXPECT_EQ(png.colorType, c.colorType);
    EXPECT_EQ(png.bitDepth, c.bitDepth);
    if (png.colorType == PngImage::kPalette) {
      // The image's own palette, all 2^depth entries.
      ASSERT_EQ(png.palette.size(), size_t(1) << c.bitDepth);
      for (size_t i = 0; i < png.palette.size(); ++i) {
        const uint32_t rgb = i < c.dib.palette.size() ? c.dib.palette[i] : 0;
        EXPECT_EQ(png.palette[i], (PngColor{uint8_t(rgb >> 16), uint8_t(rgb >> 8), uint8_t(rgb)})) << i;
      }
      EXPECT_TRUE(png.paletteAlpha.empty());
    }
    // Every pixel as GetPixelColor gives it.
    for (int32_t y = 0; y < png.height; ++y)
      for (int32_t x = 0; x < png.width; ++x) {
        const uint8_t* p = png.PixelPtr(x, y);
        const uint32_t c2 = image->GetPixelColor(x, y);
        uint32_t got;
        if (png.colorType == PngImage::kPalette) {
          const PngColor pc = png.palette[p[0]];
          got = IconRgba(pc.r, pc.g, pc.b, 255);
          const uint32_t index = c.dib.pixels[size_t(y) * c.dib.width + x];
          ASSERT_EQ(p[0], index == 5 && c.bitDepth == 4 ? 2 : index) << x << "," << y;
        } else {
          got = IconRgba(p[0], p[1], p[2], png.colorType == PngImage::kRGBA ? p[3] : 255);
        }
        ASSERT_EQ(got, c2) << x << "," << y;
      }
  }

  // What the alpha comes to in the cases that name it.
  {
    DibSpec d = cases[1].dib;
    const PngImage png = LoadImage(MakeDib(d))->CreatePNGObject();
    for (int32_t y = 0; y < 16; ++y)
      for (int32_t x = 0; x < 16; ++x) EXPECT_EQ(png.PixelPtr(x, y)[3], x == 3 && y == 4 ? 0 : 255);
  }
  for (const auto& [index, alpha] : {std::pair{6, 128}, std::pair{8, 0}}) {
    const PngImage png = LoadImage(MakeDib(cases[size_t(index)].dib))->CreatePNGObject();
    for (int32_t y = 0; y < png.height; ++y)
      for (int32_t x = 0; x < png.width; ++x) ASSERT_EQ(png.PixelPtr(x, y)[3], alpha);
  }
}

PngImage MakePngImage(int colorType, int bitDepth, int32_t width, std::vector<uint8_t> samples) {
  PngImage png;
  png.width = width;
  png.height = 1;
  png.colorType = colorType;
  png.bitDepth = bitDepth;
  png.samples = std::move(samples);
  return png;
}

TEST(IconObjectPng, AssignKeepsPixelsAndTransparency) {
  std::vector<PngColor> noBlack256;
  for (int i = 0; i < 256; ++i) noBlack256.push_back(PngColor{uint8_t(i), 1, uint8_t(255 - i)});

  struct Case {
    const char* name;
    PngImage png;
    int32_t bitCount;
    std::vector<uint32_t> pixels;  // expected GetPixelColor, left to right
  };
  std::vector<Case> cases;
  cases.push_back({"RGBA", MakePngImage(PngImage::kRGBA, 8, 2, {10, 20, 30, 0, 40, 50, 60, 128}), 32,
                   {IconRgba(10, 20, 30, 0), IconRgba(40, 50, 60, 128)}});
  {
    PngImage p = MakePngImage(PngImage::kRGB, 8, 2, {1, 2, 3, 4, 5, 6});
    p.hasTransparentColor = true;
    p.transparentRgb = PngColor{1, 2, 3};
    cases.push_back({"RGB with a transparent colour", p, 24, {IconRgba(0, 0, 0, 0), IconRgba(4, 5, 6, 255)}});
  }
  cases.push_back({"grey + alpha", MakePngImage(PngImage::kGreyAlpha, 8, 1, {100, 7}), 32, {IconRgba(100, 100, 100, 7)}});
  cases.push_back({"grey, 2 bits kept at 4", MakePngImage(PngImage::kGrey, 2, 4, {0, 1, 2, 3}), 4,
                   {IconRgba(0, 0, 0, 255), IconRgba(85, 85, 85, 255), IconRgba(170, 170, 170, 255),
                    IconRgba(255, 255, 255, 255)}});
  {
    PngImage p = MakePngImage(PngImage::kGrey, 8, 2, {50, 51});
    p.hasTransparentColor = true;
    p.transparentGrey = 50;
    cases.push_back({"grey with a transparent level", p, 8, {IconRgba(0, 0, 0, 0), IconRgba(51, 51, 51, 255)}});
  }
  {
    PngImage p = MakePngImage(PngImage::kPalette, 4, 3, {0, 1, 2});
    p.palette = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}};
    cases.push_back({"palette, opaque", p, 4,
                     {IconRgba(255, 0, 0, 255), IconRgba(0, 255, 0, 255), IconRgba(0, 0, 255, 255)}});
    p.paletteAlpha = {255, 0};
    // Entries 3..15 are black: the transparent pixels find one at depth 4.
    cases.push_back({"palette, transparent index, black among the entries", p, 4,
                     {IconRgba(255, 0, 0, 255), IconRgba(0, 0, 0, 0), IconRgba(0, 0, 255, 255)}});
  }
  {
    PngImage p = MakePngImage(PngImage::kPalette, 1, 2, {0, 1});
    p.palette = {{255, 0, 0}, {0, 255, 0}};
    p.paletteAlpha = {0};
    cases.push_back({"1-bit palette without black", p, 4, {IconRgba(0, 0, 0, 0), IconRgba(0, 255, 0, 255)}});
    PngImage q = MakePngImage(PngImage::kPalette, 8, 2, {7, 9});
    q.palette = noBlack256;
    q.paletteAlpha = std::vector<uint8_t>(10, 255);
    q.paletteAlpha[7] = 0;
    cases.push_back({"8-bit palette without black", q, 24, {IconRgba(0, 0, 0, 0), IconRgba(9, 1, 246, 255)}});
    PngImage r = MakePngImage(PngImage::kPalette, 8, 2, {0, 1});
    r.palette = {{10, 20, 30}, {40, 50, 60}};
    r.paletteAlpha = {128};
    cases.push_back({"palette with partial alpha", r, 32, {IconRgba(10, 20, 30, 128), IconRgba(40, 50, 60, 255)}});
  }

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TzanIconObject image;
    image.AssignPNGObject(c.png);
    ASSERT_EQ(image.Width(), c.png.width);
    ASSERT_EQ(image.Height(), 1);
    EXPECT_EQ(image.BitCount(), c.bitCount);
    for (int32_t x = 0; x < c.png.width; ++x) EXPECT_EQ(image.GetPixelColor(x, 0), c.pixels[size_t(x)]) << x;
  }

  // An opaque palette image goes back to the same palette PNG.
  TzanIconObject image;
  image.AssignPNGObject(cases[5].png);
  const PngImage back = image.CreatePNGObject();
  EXPECT_EQ(back.colorType, PngImage::kPalette);
  EXPECT_EQ(back.bitDepth, 4);
  EXPECT_EQ(back.samples, cases[5].png.samples);
  ASSERT_EQ(back.palette.size(), 16u);
  for (size_t i = 0; i < 3; ++i) EXPECT_EQ(back.palette[i], cases[5].png.palette[i]);

  // An empty PNG leaves an empty image.
  image.AssignPNGObject(PngImage{});
  EXPECT_TRUE(image.Empty());
  EXPECT_EQ(image.CreatePNGObject().width, 0);
}

uint32_t Gradient(int32_t x, int32_t y) {
  return (uint32_t(x) << 24) | (uint32_t(y) << 16) | (uint32_t(255 - x) << 8) | uint32_t((x + y) & 255);
}

TEST(IconObjectPng, Entry256IsReadAsPng) {
  const PngImage source = test::RgbaPng(256, 256, Gradient);
  const std::vector<uint8_t> bytes = test::PngBytes(source);
  const TzanIconObjectRef image = LoadImage(bytes);
  EXPECT_EQ(image->Width(), 256);
  EXPECT_EQ(image->Height(), 256);
  EXPECT_EQ(image->BitCount(), 32);
  EXPECT_EQ(image->PNGStream(), bytes);
  const PngImage png = image->CreatePNGObject();
  EXPECT_EQ(png.colorType, PngImage::kRGBA);
  EXPECT_EQ(png.samples, source.samples);  // same pixels and alpha
}

TEST(IconObjectRead, CursorHotSpotAndType) {
  const std::vector<uint8_t> dib = MakeDib(test::SolidDib(32, 32, 32, 0xFF000000));
  const TzanIconObjectRef cursor = LoadImage(dib, 2, IcoEntry{{}, 5, 7});
  EXPECT_EQ(cursor->Type_(), TzanIconType::itCursor);
  EXPECT_EQ(cursor->XHotSpot(), 5);
  EXPECT_EQ(cursor->YHotSpot(), 7);
  // In an icon the same bytes are planes and bit count.
  const TzanIconObjectRef icon = LoadImage(dib, 1, IcoEntry{{}, 5, 7});
  EXPECT_EQ(icon->Type_(), TzanIconType::itIcon);
  EXPECT_EQ(icon->XHotSpot(), 0);
  EXPECT_EQ(icon->YHotSpot(), 0);
}

TEST(IconObjectRead, BrokenImagesRaise) {
  const DibSpec good = test::SolidDib(8, 8, 8, 1, {0, 0xFFFFFF});
  const std::vector<uint8_t> png = test::PngBytes(test::RgbaPng(16, 16, Gradient));
  auto withHeight = [&](int32_t h) {
    DibSpec d = good;
    d.headerHeight = h;
    return MakeDib(d);
  };
  auto withBits = [&](uint16_t bits) {
    DibSpec d = good;
    d.headerBitCount = bits;
    return MakeDib(d);
  };
  auto withWidth = [&](int32_t w) {
    std::vector<uint8_t> d = MakeDib(good);
    for (int k = 0; k < 4; ++k) d[size_t(4 + k)] = uint8_t(uint32_t(w) >> (8 * k));
    return d;
  };
  auto cut = [](std::vector<uint8_t> d, size_t n) {
    d.resize(d.size() - n);
    return d;
  };
  struct Case {
    const char* name;
    std::vector<uint8_t> data;
  };
  const Case cases[] = {
      {"odd header height", withHeight(15)},
      {"zero header height", withHeight(0)},
      {"negative header height", withHeight(-16)},
      {"zero width", withWidth(0)},
      {"negative width", withWidth(-8)},
      {"huge width", withWidth(0x7FFFFFFF)},
      {"bit count 0", withBits(0)},
      {"bit count 2", withBits(2)},
      {"bit count 3", withBits(3)},
      {"bit count 64", withBits(64)},
      {"bit count 65535", withBits(65535)},
      {"mask rows cut short", cut(MakeDib(good), 1)},
      {"header cut short", cut(MakeDib(good), MakeDib(good).size() - 20)},
      {"PNG cut in its data", cut(png, png.size() / 2)},
      {"PNG cut in its header", cut(png, png.size() - 12)},
  };
  for (const Case& c : cases) {
    const std::vector<uint8_t> file = MakeIco({IcoEntry{c.data}});
    TMemoryStream s(file.data(), file.size());
    TzanIconObject image;
    EXPECT_THROW(image.LoadFromStream(s, 0), Exception) << c.name;
  }
  // Data offset at or beyond the end of the file.
  for (uint32_t offset : {0x7FFFFFFFu, 0xFFFFFFFFu}) {
    const std::vector<uint8_t> file = MakeIco({IcoEntry{MakeDib(good), 1, 8, offset}});
    TMemoryStream s(file.data(), file.size());
    TzanIconObject image;
    EXPECT_THROW(image.LoadFromStream(s, 0), EReadError);
  }
  // The good image itself reads, and so does bit count 15 (as 16).
  for (uint16_t bits : {8, 15}) {
    DibSpec d = test::SolidDib(8, 8, bits == 15 ? 16 : 8, 1, {0, 0xFFFFFF});
    d.headerBitCount = bits;
    EXPECT_EQ(LoadImage(MakeDib(d))->BitCount(), bits == 15 ? 16 : 8);
  }
}

TEST(IconObjectLifetime, ConstructorValidatesAndCountersFollowInstances) {
  const int32_t before = IconLiveCount().iconObjects;
  {
    TzanIconObject a(3, 2, 15);
    EXPECT_EQ(a.BitCount(), 16);
    EXPECT_TRUE(a.Opaque());  // zero-filled mask
    EXPECT_THROW(TzanIconObject(3, 2, 2), Exception);
    EXPECT_THROW(TzanIconObject(0, 2, 8), Exception);
    EXPECT_EQ(IconLiveCount().iconObjects, before + 1);
    TzanIcon icon;
    EXPECT_NE(IconLeakMessages().size(), 0u);
  }
  EXPECT_EQ(IconLiveCount().iconObjects, before);
}

TEST(IconObjectLifetime, LeakMessagesNameEachCounter) {
  ASSERT_TRUE(IconLeakMessages().empty());
  auto held = std::make_shared<TzanIconObject>();
  auto held2 = std::make_shared<TzanIconObject>();
  auto icon = std::make_unique<TzanIcon>();
  EXPECT_EQ(IconLeakMessages(), (std::vector<std::string>{"Memory outflow: 2 TzanIconObject not destroyed",
                                                            "Memory outflow: 1 TzanIcon not destroyed"}));
  // Images are shared: the icon's reference keeps one alive after ours goes.
  icon->AddIcon(held);
  held.reset();
  EXPECT_EQ(IconLiveCount().iconObjects, 2);
  icon.reset();
  held2.reset();
  EXPECT_TRUE(IconLeakMessages().empty());
}

}  // namespace
}  // namespace zan
