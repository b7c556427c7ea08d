// PNG codec: every colour type and bit depth, transparency, interlacing and
// 16-bit files (written by a small independent writer below, with stored
// deflate blocks), PngWrite round trips, and hostile files.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "platform/codecs.h"

namespace zan {
namespace {

uint32_t Crc32(const uint8_t* p, size_t n, uint32_t crc = 0xFFFFFFFFu) {
  for (size_t i = 0; i < n; ++i) {
    crc ^= p[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return crc;
}

void Put32(std::vector<uint8_t>& v, uint32_t x) {
  for (int s = 24; s >= 0; s -= 8) v.push_back(uint8_t(x >> s));
}

void Chunk(std::vector<uint8_t>& f, const char* type, const std::vector<uint8_t>& data) {
  Put32(f, uint32_t(data.size()));
  std::vector<uint8_t> body(type, type + 4);
  body.insert(body.end(), data.begin(), data.end());
  f.insert(f.end(), body.begin(), body.end());
  Put32(f, Crc32(body.data(), body.size()) ^ 0xFFFFFFFFu);
}

// A zlib stream of stored (uncompressed) blocks.
std::vector<uint8_t> Zlib(const std::vector<uint8_t>& raw) {
  std::vector<uint8_t> z = {0x78, 0x01};
  size_t at = 0;
  do {
    const size_t n = std::min<size_t>(65535, raw.size() - at);
    z.push_back(at + n == raw.size() ? 1 : 0);
    z.push_back(uint8_t(n)), z.push_back(uint8_t(n >> 8));
    z.push_back(uint8_t(~n)), z.push_back(uint8_t(~n >> 8));
    z.insert(z.end(), raw.begin() + long(at), raw.begin() + long(at + n));
    at += n;
  } while (at < raw.size());
  uint32_t a = 1, b = 0;
  for (uint8_t c : raw) a = (a + c) % 65521, b = (b + a) % 65521;
  Put32(z, (b << 16) | a);
  return z;
}

// A picture as stored: samples one per entry at the file's bit depth (up to
// 65535 for 16 bits), with what the header and tables say.
struct Fixture {
  int colorType = 0, bitDepth = 8;
  int32_t width = 0, height = 0;
  bool interlaced = false;
  std::vector<uint16_t> samples;
  std::vector<PngColor> palette;
  std::vector<uint8_t> trnsAlpha;
  bool trnsColour = false;
  uint16_t trns[3] = {0, 0, 0};  // grey, or red green blue

  int Channels() const { return colorType == 2 ? 3 : colorType == 4 ? 2 : colorType == 6 ? 4 : 1; }
};

// Packs one row of samples (x0, x0 + step, ...) with a filter byte of 0.
void PackRow(const Fixture& f, int32_t y, int32_t x0, int32_t step, std::vector<uint8_t>& out) {
  out.push_back(0);
  const int ch = f.Channels();
  uint32_t acc = 0;
  int bits = 0;
  for (int32_t x = x0; x < f.width; x += step)
    for (int c = 0; c < ch; ++c) {
      const uint16_t v = f.samples[(size_t(y) * f.width + x) * ch + c];
      if (f.bitDepth == 16) {
        out.push_back(uint8_t(v >> 8)), out.push_back(uint8_t(v));
      } else if (f.bitDepth == 8) {
        out.push_back(uint8_t(v));
      } else {
        acc = (acc << f.bitDepth) | v;
        bits += f.bitDepth;
        if (bits == 8) out.push_back(uint8_t(acc)), acc = 0, bits = 0;
      }
    }
  if (bits) out.push_back(uint8_t(acc << (8 - bits)));
}

std::vector<uint8_t> WritePng(const Fixture& f, bool withEnd = true) {
  std::vector<uint8_t> file = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  std::vector<uint8_t> ihdr;
  Put32(ihdr, uint32_t(f.width));
  Put32(ihdr, uint32_t(f.height));
  ihdr.insert(ihdr.end(), {uint8_t(f.bitDepth), uint8_t(f.colorType), 0, 0, uint8_t(f.interlaced ? 1 : 0)});
  Chunk(file, "IHDR", ihdr);
  if (!f.palette.empty()) {
    std::vector<uint8_t> plte;
    for (const PngColor& c : f.palette) plte.insert(plte.end(), {c.r, c.g, c.b});
    Chunk(file, "PLTE", plte);
  }
  if (!f.trnsAlpha.empty()) Chunk(file, "tRNS", f.trnsAlpha);
  if (f.trnsColour) {
    std::vector<uint8_t> t;
    for (int i = 0; i < (f.colorType == 0 ? 1 : 3); ++i) t.insert(t.end(), {uint8_t(f.trns[i] >> 8), uint8_t(f.trns[i])});
    Chunk(file, "tRNS", t);
  }
  std::vector<uint8_t> raw;
  if (!f.interlaced) {
    for (int32_t y = 0; y < f.height; ++y) PackRow(f, y, 0, 1, raw);
  } else {
    // Adam7: pass origins and steps; empty passes contribute nothing.
    static const int kX0[7] = {0, 4, 0, 2, 0, 1, 0}, kY0[7] = {0, 0, 4, 0, 2, 0, 1};
    static const int kDx[7] = {8, 8, 4, 4, 2, 2, 1}, kDy[7] = {8, 8, 8, 4, 4, 2, 2};
    for (int p = 0; p < 7; ++p) {
      if (kX0[p] >= f.width) continue;
      for (int32_t y = kY0[p]; y < f.height; y += kDy[p]) PackRow(f, y, kX0[p], kDx[p], raw);
    }
  }
  Chunk(file, "IDAT", Zlib(raw));
  if (withEnd) Chunk(file, "IEND", {});
  return file;
}

uint16_t Sample(uint32_t& seed, int depth) {
  seed = seed * 1103515245u + 12345u;
  return uint16_t((seed >> 8) & ((1u << depth) - 1));
}

PngImage Read(const std::vector<uint8_t>& bytes) {
  TReadOnlyMemoryStream s(bytes.data(), bytes.size());
  return PngRead(s);
}

TEST(PlatformPng, ReadsEveryColourTypeAndDepth) {
  struct Kind {
    int colorType, bitDepth;
  };
  const Kind kinds[] = {{0, 1}, {0, 2}, {0, 4}, {0, 8}, {0, 16}, {2, 8},  {2, 16}, {3, 1},
                        {3, 2}, {3, 4}, {3, 8}, {4, 8}, {4, 16}, {6, 8}, {6, 16}};
  struct Size {
    int32_t w, h;
  };
  uint32_t seed = 7;
  for (const Kind k : kinds)
    for (const Size sz : {Size{13, 7}, Size{1, 1}, Size{3, 2}})
      for (bool interlaced : {false, true}) {
        Fixture f;
        f.colorType = k.colorType, f.bitDepth = k.bitDepth, f.width = sz.w, f.height = sz.h;
        f.interlaced = interlaced;
        const int ch = f.Channels();
        for (int32_t i = 0; i < f.width * f.height * ch; ++i) f.samples.push_back(Sample(seed, k.bitDepth));
        if (k.colorType == 3)
          for (int i = 0; i < (1 << k.bitDepth); ++i) f.palette.push_back({uint8_t(i * 3), uint8_t(255 - i), uint8_t(i ^ 0x5A)});
        const std::string what = "type " + std::to_string(k.colorType) + " depth " + std::to_string(k.bitDepth) +
                                 " " + std::to_string(sz.w) + "x" + std::to_string(sz.h) +
                                 (interlaced ? " interlaced" : "");

        const PngImage img = Read(WritePng(f));
        EXPECT_EQ(img.width, f.width) << what;
        EXPECT_EQ(img.height, f.height) << what;
        EXPECT_EQ(img.colorType, k.colorType) << what;
        EXPECT_EQ(img.bitDepth, k.bitDepth == 16 ? 8 : k.bitDepth) << what;
        EXPECT_EQ(img.palette, f.palette) << what;
        EXPECT_FALSE(img.hasTransparentColor) << what;
        ASSERT_EQ(img.samples.size(), f.samples.size()) << what;
        for (size_t i = 0; i < f.samples.size(); ++i) {
          // 16-bit samples keep their high byte; low depths stay unscaled.
          const uint16_t want = k.bitDepth == 16 ? uint16_t(f.samples[i] >> 8) : f.samples[i];
          ASSERT_EQ(img.samples[i], want) << what << " sample " << i;
        }
      }
}

TEST(PlatformPng, Transparency) {
  // Palette alpha list shorter than the palette.
  Fixture pal;
  pal.colorType = 3, pal.bitDepth = 2, pal.width = 4, pal.height = 1;
  pal.samples = {0, 1, 2, 3};
  pal.palette = {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}, {10, 11, 12}};
  pal.trnsAlpha = {0, 128};
  PngImage img = Read(WritePng(pal));
  EXPECT_EQ(img.paletteAlpha, (std::vector<uint8_t>{0, 128}));
  EXPECT_FALSE(img.hasTransparentColor);

  struct Case {
    int colorType, bitDepth;
    uint16_t trns[3];
    uint16_t grey;
    PngColor rgb;
  };
  const Case cases[] = {
      {0, 4, {5, 0, 0}, 5, {}},                         // at the stored depth
      {0, 8, {200, 0, 0}, 200, {}},                     //
      {0, 16, {0x1234, 0, 0}, 0x12, {}},                // reduced with the samples
      {2, 8, {1, 2, 3}, 0, {1, 2, 3}},                  //
      {2, 16, {0xFF00, 0x8081, 0x0102}, 0, {0xFF, 0x80, 0x01}},
  };
  for (const Case& c : cases) {
    Fixture f;
    f.colorType = c.colorType, f.bitDepth = c.bitDepth, f.width = 2, f.height = 2;
    f.samples.assign(size_t(4 * f.Channels()), 1);
    f.trnsColour = true;
    std::copy(c.trns, c.trns + 3, f.trns);
    img = Read(WritePng(f));
    EXPECT_TRUE(img.hasTransparentColor) << c.colorType << "/" << c.bitDepth;
    if (c.colorType == 0) {
      EXPECT_EQ(img.transparentGrey, c.grey) << c.bitDepth;
    } else {
      EXPECT_EQ(img.transparentRgb, c.rgb) << c.bitDepth;
    }
    EXPECT_TRUE(img.paletteAlpha.empty());
  }
}

TEST(PlatformPng, WriteReadRoundTrip) {
  struct Kind {
    int colorType, bitDepth;
  };
  uint32_t seed = 99;
  for (const Kind k : {Kind{0, 1}, Kind{0, 2}, Kind{0, 4}, Kind{0, 8}, Kind{2, 8}, Kind{3, 1}, Kind{3, 4}, Kind{3, 8},
                       Kind{4, 8}, Kind{6, 8}}) {
    PngImage in;
    in.width = 11, in.height = 5, in.colorType = k.colorType, in.bitDepth = k.bitDepth;
    in.Allocate();
    for (uint8_t& v : in.samples) v = uint8_t(Sample(seed, k.bitDepth));
    if (k.colorType == 3) {
      for (int i = 0; i < (1 << k.bitDepth); ++i) in.palette.push_back({uint8_t(i), uint8_t(i * 7), 9});
      in.paletteAlpha = {10, 0};
    }
    if (k.colorType == 0) in.hasTransparentColor = true, in.transparentGrey = 1;
    if (k.colorType == 2) in.hasTransparentColor = true, in.transparentRgb = {4, 5, 6};
    for (int level : {0, 9}) {
      TMemoryStream s;
      PngWrite(s, in, level);
      s.SetPosition(0);
      const PngImage out = PngRead(s);
      const std::string what = std::to_string(k.colorType) + "/" + std::to_string(k.bitDepth);
      EXPECT_EQ(out.colorType, in.colorType) << what;
      EXPECT_EQ(out.bitDepth, in.bitDepth) << what;
      EXPECT_EQ(out.samples, in.samples) << what;
      EXPECT_EQ(out.palette, in.palette) << what;
      EXPECT_EQ(out.paletteAlpha, in.paletteAlpha) << what;
      EXPECT_EQ(out.hasTransparentColor, in.hasTransparentColor) << what;
      EXPECT_EQ(out.transparentGrey, in.transparentGrey) << what;
      EXPECT_EQ(out.transparentRgb, in.transparentRgb) << what;
      EXPECT_EQ(s.Position(), s.Size()) << what;
    }
  }
  // Models that cannot be written.
  PngImage bad;
  bad.width = 4, bad.height = 4, bad.colorType = PngImage::kRGB, bad.bitDepth = 8;
  TMemoryStream s;
  EXPECT_THROW(PngWrite(s, bad, 6), Exception);  // no samples
  bad.Allocate();
  bad.bitDepth = 16;
  EXPECT_THROW(PngWrite(s, bad, 6), Exception);
  bad.bitDepth = 4;  // RGB has no 4-bit form
  EXPECT_THROW(PngWrite(s, bad, 6), Exception);
  bad.bitDepth = 8, bad.colorType = PngImage::kPalette;  // palette image without palette
  bad.Allocate();
  EXPECT_THROW(PngWrite(s, bad, 6), Exception);
}

TEST(PlatformPng, StreamPositionAndMissingEnd) {
  Fixture f;
  f.colorType = 2, f.width = 3, f.height = 3;
  f.samples.assign(27, 77);
  std::vector<uint8_t> bytes = WritePng(f);
  const size_t size = bytes.size();
  bytes.insert(bytes.end(), {1, 2, 3, 4, 5});
  TReadOnlyMemoryStream s(bytes.data(), bytes.size());
  PngRead(s);
  EXPECT_EQ(s.Position(), int64_t(size));  // right after IEND

  // The pixels are all there; the end chunk is not needed.
  EXPECT_EQ(Read(WritePng(f, false)).samples, std::vector<uint8_t>(27, 77));
}

TEST(PlatformPng, HostileFilesRaise) {
  Fixture f;
  f.colorType = 0, f.bitDepth = 8, f.width = 8, f.height = 8;
  f.samples.assign(64, 3);
  const std::vector<uint8_t> good = WritePng(f);

  auto withSize = [&](uint32_t w, uint32_t h, int depth) {
    // Rebuild the header chunk with the new fields and a valid checksum.
    std::vector<uint8_t> ihdr(good.begin() + 16, good.begin() + 29);
    for (int i = 0; i < 4; ++i) ihdr.at(size_t(i)) = uint8_t(w >> (24 - 8 * i)), ihdr.at(size_t(4 + i)) = uint8_t(h >> (24 - 8 * i));
    ihdr.at(8) = uint8_t(depth);
    std::vector<uint8_t> b(good.begin(), good.begin() + 8);
    Chunk(b, "IHDR", ihdr);
    b.insert(b.end(), good.begin() + 33, good.end());
    return b;
  };
  std::vector<std::vector<uint8_t>> bad = {
      {},
      std::vector<uint8_t>(good.begin(), good.begin() + 8),                // signature only
      std::vector<uint8_t>(good.begin(), good.begin() + 40),               // cut inside the image data
      std::vector<uint8_t>(good.begin(), good.end() - 20),                 // image data cut short
      withSize(0x7FFFFFFF, 0x7FFFFFFF, 8),                                 // beyond any limit
      withSize(20000, 20000, 1),                                           // 400M pixels
      withSize(10000, 10000, 1),                                           // within the limit, not the data
      withSize(0, 8, 8),
  };
  std::vector<uint8_t> crc = good;
  crc[30] ^= 1;  // IHDR checksum
  bad.push_back(crc);
  std::vector<uint8_t> notPng = good;
  notPng[1] = 'X';
  bad.push_back(notPng);
  for (size_t i = 0; i < bad.size(); ++i) EXPECT_THROW(Read(bad[i]), Exception) << i;
  EXPECT_THROW(Read(withSize(10000, 10000, 1)), EOutOfResources);
}

}  // namespace
}  // namespace zan
