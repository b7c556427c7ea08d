// Plain-image sniffing and decoding into thumbnails.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "front/decode.h"
#include "front/render.h"
#include "module/plugin_api.h"
#include "platform/codecs.h"
#include "support/fixtures.h"
#include "support/host.h"

namespace zan {
namespace {

using test::HostVersion;
using test::ReadBack;

TEST(FrontGetGraphicClass, SniffsByFirstBytes) {
  struct Case {
    std::vector<uint8_t> bytes;
    GraphicKind kind;
  };
  std::vector<uint8_t> emf(44, 0);
  std::memcpy(emf.data() + 40, " EMF", 4);
  std::vector<uint8_t> emfLikeBmp = emf;
  emfLikeBmp[0] = 'B';
  emfLikeBmp[1] = 'M';
  const Case cases[] = {
      {{'B', 'M', 0, 0}, GraphicKind::Bitmap},
      {{0xFF, 0xD8, 0xFF, 0xE0}, GraphicKind::Jpeg},
      {{0, 0, 1, 0}, GraphicKind::Icon},
      {{0, 0, 2, 0}, GraphicKind::Icon},
      {{'G', 'I', 'F', '8'}, GraphicKind::Gif},
      {{0x89, 'P', 'N', 'G'}, GraphicKind::Png},
      {{0xD7, 0xCD, 0xC6, 0x9A}, GraphicKind::Metafile},
      {emf, GraphicKind::Metafile},
      {emfLikeBmp, GraphicKind::Bitmap},  // the earlier signatures win
      {{1, 2, 3, 4, 5, 6}, GraphicKind::None},
      {{0xFF, 0xD8, 0x00, 0x00}, GraphicKind::None},
  };
  for (const auto& c : cases) {
    TMemoryStream s(c.bytes.data(), c.bytes.size());
    EXPECT_EQ(GetGraphicClass(s), c.kind);
    EXPECT_EQ(s.Position(), 0) << "position restored";
  }
  // Fewer than four bytes: no decoder, even when they begin with "BM".
  TMemoryStream shortStream("BM\0", 3);
  EXPECT_THROW(GetGraphicClass(shortStream), EReadError);
  EXPECT_EQ(StreamToThumbnail(shortStream, 64, 64, 0, false), nullptr);
}

TEST(FrontJpegScale, LargestDivisorThatStillCoversTheBox) {
  struct Case {
    int32_t w, h, bw, bh;
    int scale;
  };
  const Case cases[] = {
      {4000, 3000, 256, 256, 8}, {1024, 768, 96, 96, 8}, {1024, 768, 96, 97, 4},
      {160, 120, 256, 256, 1},   {600, 600, 256, 256, 2}, {600, 400, 256, 256, 1}, {2048, 100, 256, 25, 4},
  };
  for (const auto& c : cases) EXPECT_EQ(JpegScaleFor(c.w, c.h, c.bw, c.bh), c.scale) << c.w << "x" << c.h;
}

TEST(FrontStreamToThumbnail, JpegIsFittedIntoTheBox) {
  HostVersion v2(2);
  const auto jpeg = test::MakeJpeg(4000, 3000, 75);
  TMemoryStream s(jpeg.data(), jpeg.size());
  ZanHBITMAP h = StreamToThumbnail(s, 256, 256, 0, false);
  const Bitmap32 out = ReadBack(h);
  EXPECT_EQ(out.Width(), 256);
  EXPECT_EQ(out.Height(), 192);
}

TEST(FrontStreamToThumbnail, OrientationTurnsTheResult) {
  HostVersion v2(2);
  const auto jpeg = test::MakeJpeg(64, 32);
  for (int32_t code : {1, 6, 8, 3}) {
    TMemoryStream s(jpeg.data(), jpeg.size());
    const Bitmap32 out = ReadBack(StreamToThumbnail(s, 256, 256, code, false));
    const bool turned = code == 6 || code == 8;
    EXPECT_EQ(out.Width(), turned ? 32 : 64) << code;
    EXPECT_EQ(out.Height(), turned ? 64 : 32) << code;
  }
}

TEST(FrontStreamToThumbnail, EnlargeFlagAndExactSize) {
  HostVersion v2(2);
  const Bitmap32 picture = test::TestPattern(100, 50);
  const auto bmp = test::MakeBmp24(picture);
  {
    TMemoryStream s(bmp.data(), bmp.size());
    const Bitmap32 out = ReadBack(StreamToThumbnail(s, 256, 256, 0, false));
    EXPECT_EQ(out.Width(), 100);
    EXPECT_EQ(out.Height(), 50);
    // Same size: copied pixel for pixel, no resampling.
    for (int32_t y = 0; y < 50; ++y)
      for (int32_t x = 0; x < 100; ++x) ASSERT_EQ(out.Pixel(x, y), picture.Pixel(x, y)) << x << "," << y;
  }
  {
    TMemoryStream s(bmp.data(), bmp.size());
    const Bitmap32 out = ReadBack(StreamToThumbnail(s, 256, 256, 0, true));
    EXPECT_EQ(out.Width(), 256);
    EXPECT_EQ(out.Height(), 128);
  }
}

TEST(FrontStreamToThumbnail, Bmp32WithZeroAlphaIsOpaque) {
  HostVersion v2(2);
  // 2 x 1, 32 bits, alpha bytes all 0.
  TMemoryStream s;
  const uint8_t header[] = {'B', 'M', 62, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0,
                            1, 0, 32, 0, 0, 0, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                            0x10, 0x20, 0x30, 0, 0x40, 0x50, 0x60, 0};
  s.WriteBuffer(header, sizeof header);
  s.SetPosition(0);
  const Bitmap32 out = ReadBack(StreamToThumbnail(s, 16, 16, 0, false));
  ASSERT_EQ(out.Width(), 2);
  EXPECT_EQ(out.Pixel(0, 0), 0xFF302010u);
  EXPECT_EQ(out.Pixel(1, 0), 0xFF605040u);
}

TEST(FrontStreamToThumbnail, AlphaOnlyForHostsThatTakeIt) {
  // A PNG whose left half is transparent.
  Bitmap32 picture(8, 4);
  for (int32_t y = 0; y < 4; ++y)
    for (int32_t x = 0; x < 8; ++x) picture.SetPixel(x, y, x < 4 ? 0x00000000u : 0xFF0000FFu);
  const auto png = test::MakePng(picture, true);
  {
    HostVersion v2(2);
    TMemoryStream s(png.data(), png.size());
    ZanHBITMAP h = StreamToThumbnail(s, 64, 64, 0, false);
    ZanBitmapInfo info{};
    ASSERT_NE(zanGdiGetObject(h, &info), 0);
    EXPECT_EQ(info.kind, ZAN_BITMAP_DIB_SECTION);
    const Bitmap32 out = ReadBack(h);
    EXPECT_EQ(out.Pixel(0, 0), 0u);
    EXPECT_EQ(out.Pixel(7, 3), 0xFF0000FFu);
  }
  for (int version : {0, 1}) {
    HostVersion v(version);
    TMemoryStream s(png.data(), png.size());
    ZanHBITMAP h = StreamToThumbnail(s, 64, 64, 0, false);
    ZanBitmapInfo info{};
    ASSERT_NE(zanGdiGetObject(h, &info), 0);
    EXPECT_EQ(info.kind, ZAN_BITMAP_DEVICE);
    const Bitmap32 out = ReadBack(h);
    EXPECT_EQ(out.Pixel(0, 0) & 0xFFFFFFu, 0xFFFFFFu) << "transparent parts on white";
    EXPECT_EQ(out.Pixel(7, 3) & 0xFFFFFFu, 0x0000FFu);
  }
}

TEST(FrontStreamToThumbnail, GifTransparencyGivesAlphaZeroExactly) {
  HostVersion v2(2);
  std::vector<uint8_t> indices(6 * 3, 1);
  indices[4] = 0;  // (4, 0) transparent
  indices[13] = 0;  // (1, 2) transparent
  TMemoryStream gif;
  GifEncode(gif, 6, 3, indices, {{0, 0, 0}, {200, 10, 10}}, 0);
  gif.SetPosition(0);
  const Bitmap32 out = ReadBack(StreamToThumbnail(gif, 64, 64, 0, false));
  ASSERT_EQ(out.Width(), 6);
  for (int32_t y = 0; y < 3; ++y)
    for (int32_t x = 0; x < 6; ++x) {
      const bool transparent = (x == 4 && y == 0) || (x == 1 && y == 2);
      EXPECT_EQ(out.Pixel(x, y), transparent ? 0u : 0xFFC80A0Au) << x << "," << y;
    }
}

TEST(FrontStreamToThumbnail, PngTransparentColourDrawsNothing) {
  HostVersion v2(2);
  PngImage png;
  png.width = 3;
  png.height = 1;
  png.colorType = PngImage::kRGB;
  png.hasTransparentColor = true;
  png.transparentRgb = {1, 2, 3};
  png.Allocate();
  const uint8_t rgb[] = {1, 2, 3, 9, 9, 9, 1, 2, 4};
  std::memcpy(png.samples.data(), rgb, sizeof rgb);
  TMemoryStream s;
  PngWrite(s, png, 6);
  s.SetPosition(0);
  const Bitmap32 out = ReadBack(StreamToThumbnail(s, 16, 16, 0, false));
  ASSERT_EQ(out.Width(), 3);
  EXPECT_EQ(out.Pixel(0, 0), 0u);
  EXPECT_EQ(out.Pixel(1, 0), 0xFF090909u);
  EXPECT_EQ(out.Pixel(2, 0), 0xFF010204u);
}

TEST(FrontStreamToThumbnail, GarbageAndTruncatedInputGiveNothing) {
  HostVersion v2(2);
  const auto jpeg = test::MakeJpeg(64, 64);
  const std::vector<std::vector<uint8_t>> inputs = {
      {},
      {0xFF, 0xD8, 0xFF},
      std::vector<uint8_t>(jpeg.begin(), jpeg.begin() + 20),
      {'B', 'M', 1, 2, 3, 4, 5, 6},
      {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0},
      {'G', 'I', 'F', '8', '9', 'a', 0xFF, 0xFF, 0xFF, 0xFF},
  };
  for (const auto& bytes : inputs) {
    TMemoryStream s(bytes.data(), bytes.size());
    ZanHBITMAP h = StreamToThumbnail(s, 64, 64, 0, false);
    EXPECT_EQ(h, nullptr) << bytes.size();
    if (h) zanGdiDeleteObject(h);
  }
}

}  // namespace
}  // namespace zan
