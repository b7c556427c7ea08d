// GIF codec: the first frame on its logical screen, transparency, interlace,
// frames outside the screen, and broken or hostile files.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/codecs.h"

namespace zan {
namespace {

const std::vector<PngColor> kPalette = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {10, 20, 30}};

uint32_t Opaque(const PngColor& c) { return 0xFF000000u | (uint32_t(c.r) << 16) | (uint32_t(c.g) << 8) | c.b; }

std::vector<uint8_t> Encode(int32_t w, int32_t h, const std::vector<uint8_t>& indices,
                            const std::vector<PngColor>& palette, int transparent) {
  TMemoryStream s;
  GifEncode(s, w, h, indices, palette, transparent);
  return std::vector<uint8_t>(s.Memory(), s.Memory() + s.Size());
}

Bitmap32 Decode(const std::vector<uint8_t>& bytes) {
  TReadOnlyMemoryStream s(bytes.data(), bytes.size());
  return GifDecodeFirstFrame(s);
}

void Put16(std::vector<uint8_t>& b, size_t at, uint16_t v) {
  b.at(at) = uint8_t(v);
  b.at(at + 1) = uint8_t(v >> 8);
}

// Offset of the first image descriptor (0x2C), stepping over the global
// colour table and any extensions.
size_t ImageDescriptor(const std::vector<uint8_t>& b) {
  size_t p = 13;
  if (b.at(10) & 0x80) p += 3u * (2u << (b[10] & 7));
  while (b.at(p) == 0x21) {
    p += 2;
    while (b.at(p) != 0) p += 1u + b[p];
    ++p;
  }
  EXPECT_EQ(b.at(p), 0x2C);
  return p;
}

// Sets the logical screen size and the first frame's position.
std::vector<uint8_t> Place(std::vector<uint8_t> b, uint16_t sw, uint16_t sh, uint16_t left, uint16_t top) {
  Put16(b, 6, sw);
  Put16(b, 8, sh);
  const size_t d = ImageDescriptor(b);
  Put16(b, d + 1, left);
  Put16(b, d + 3, top);
  return b;
}

TEST(PlatformGif, TransparentIndexAndColours) {
  const std::vector<uint8_t> idx = {0, 1, 2, 3, 2, 2, 1, 0, 3, 3, 3, 2};
  for (int transparent : {-1, 2}) {
    const Bitmap32 b = Decode(Encode(4, 3, idx, kPalette, transparent));
    ASSERT_EQ(b.Width(), 4);
    ASSERT_EQ(b.Height(), 3);
    EXPECT_EQ(b.GetDrawMode(), DrawMode::Blend);
    for (int32_t i = 0; i < 12; ++i) {
      const uint32_t want = idx[size_t(i)] == transparent ? 0u : Opaque(kPalette[idx[size_t(i)]]);
      EXPECT_EQ(b.Pixel(i % 4, i / 4), want) << transparent << " pixel " << i;
    }
  }
  // Extensions before the image are stepped over; the graphic control
  // extension still applies.
  std::vector<uint8_t> file = Encode(4, 3, idx, kPalette, 2);
  const std::vector<uint8_t> comment = {0x21, 0xFE, 3, 'a', 'b', 'c', 0, 0x21, 0xFF, 2, 'x', 'y', 1, 'z', 0};
  file.insert(file.begin() + 13 + 3 * 4, comment.begin(), comment.end());
  const Bitmap32 b = Decode(file);
  EXPECT_EQ(b.Pixel(2, 0), 0u);
  EXPECT_EQ(b.Pixel(3, 0), Opaque(kPalette[3]));
}

TEST(PlatformGif, InterlacedRowsComeOutInOrder) {
  const int32_t w = 5, h = 10;
  std::vector<PngColor> palette;
  for (int i = 0; i < 16; ++i) palette.push_back({uint8_t(i * 16), uint8_t(255 - i), uint8_t(i)});
  // Row r holds colour r; the rows are stored in interlace order.
  std::vector<uint8_t> stored;
  for (const auto& [start, step] : {std::pair{0, 8}, std::pair{4, 8}, std::pair{2, 4}, std::pair{1, 2}})
    for (int r = start; r < h; r += step) stored.insert(stored.end(), size_t(w), uint8_t(r));
  std::vector<uint8_t> file = Encode(w, h, stored, palette, -1);
  file[ImageDescriptor(file) + 9] |= 0x40;
  const Bitmap32 b = Decode(file);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) ASSERT_EQ(b.Pixel(x, y), Opaque(palette[size_t(y)])) << x << "," << y;
}

TEST(PlatformGif, FramePlacementOnTheScreen) {
  const std::vector<uint8_t> idx = {0, 1, 2, 3, 1, 2, 3, 0, 2, 3, 0, 1};  // 4 x 3
  const std::vector<uint8_t> base = Encode(4, 3, idx, kPalette, -1);
  auto frame = [&](int32_t x, int32_t y) { return Opaque(kPalette[idx[size_t(y * 4 + x)]]); };

  // A 6 x 4 screen with the frame at (4, 2): only its top-left 2 x 2 shows.
  Bitmap32 b = Decode(Place(base, 6, 4, 4, 2));
  ASSERT_EQ(b.Width(), 6);
  ASSERT_EQ(b.Height(), 4);
  for (int32_t y = 0; y < 4; ++y)
    for (int32_t x = 0; x < 6; ++x) {
      const uint32_t want = (x >= 4 && y >= 2) ? frame(x - 4, y - 2) : 0u;
      EXPECT_EQ(b.Pixel(x, y), want) << x << "," << y;
    }

  // A screen too small for the frame, or none at all: the frame's own size.
  for (const auto& [sw, sh] : {std::pair{2, 2}, std::pair{0, 0}, std::pair{8, 2}}) {
    b = Decode(Place(base, uint16_t(sw), uint16_t(sh), 1, 1));
    ASSERT_EQ(b.Width(), 4) << sw << "x" << sh;
    ASSERT_EQ(b.Height(), 3) << sw << "x" << sh;
    EXPECT_EQ(b.Pixel(0, 0), frame(0, 0));
    EXPECT_EQ(b.Pixel(3, 2), frame(3, 2));
  }
}

TEST(PlatformGif, ReadsOnlyUpToTheFirstImage) {
  const std::vector<uint8_t> idx(16, 1);
  std::vector<uint8_t> file = Encode(4, 4, idx, kPalette, -1);
  ASSERT_EQ(file.back(), 0x3B);
  file.pop_back();
  for (uint8_t v : {0x2C, 0xFF, 0xFF, 0x00, 0x13, 0x37}) file.push_back(v);  // a broken second record
  const Bitmap32 b = Decode(file);
  EXPECT_EQ(b.Pixel(3, 3), Opaque(kPalette[1]));
}

TEST(PlatformGif, BrokenAndHostileFiles) {
  std::vector<uint8_t> idx(64 * 64);
  uint32_t seed = 3;
  for (uint8_t& v : idx) v = uint8_t((seed = seed * 1103515245u + 12345u) >> 28);
  std::vector<PngColor> palette(16, PngColor{1, 2, 3});
  const std::vector<uint8_t> good = Encode(64, 64, idx, palette, -1);

  // Cut inside the pixel data: the rows that arrived are kept.
  const std::vector<uint8_t> cut(good.begin(), good.begin() + long(good.size() / 2));
  const Bitmap32 partial = Decode(cut);
  EXPECT_EQ(partial.Pixel(0, 0), 0xFF010203u);
  EXPECT_EQ(partial.Pixel(63, 63), 0u);

  std::vector<std::vector<uint8_t>> bad = {
      {},
      {'G', 'I', 'F', '8', '9', 'a'},
      std::vector<uint8_t>(good.begin(), good.begin() + long(ImageDescriptor(good) + 10)),  // no pixel data
      std::vector<uint8_t>(good.begin(), good.begin() + long(ImageDescriptor(good))),       // no image
  };
  std::vector<uint8_t> noImage(good.begin(), good.begin() + long(ImageDescriptor(good)));
  noImage.push_back(0x3B);  // trailer right after the screen
  bad.push_back(noImage);
  // No colour map anywhere.
  std::vector<uint8_t> noMap = good;
  noMap[10] &= 0x7F;
  noMap.erase(noMap.begin() + 13, noMap.begin() + 13 + 3 * 16);
  bad.push_back(noMap);
  std::vector<uint8_t> noise(500);
  for (uint8_t& v : noise) v = uint8_t((seed = seed * 1103515245u + 12345u) >> 24);
  bad.push_back(noise);
  for (size_t i = 0; i < bad.size(); ++i) EXPECT_THROW(Decode(bad[i]), Exception) << i;

  // A huge logical screen around a small frame.
  EXPECT_THROW(Decode(Place(good, 16384, 16384, 0, 0)), EOutOfResources);  // the data cannot back it
  EXPECT_THROW(Decode(Place(good, 65535, 65535, 0, 0)), EOutOfResources);  // beyond the pixel limit
}

}  // namespace
}  // namespace zan
