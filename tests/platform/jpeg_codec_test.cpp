// JPEG codec: scaled decoding, colour spaces, the header-only read, where the
// stream is left, truncated and hostile input.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/codecs.h"

namespace zan {
namespace {

// Smooth gradients with a few soft-edged blocks: JPEG keeps them well.
Bitmap32 Picture(int32_t w, int32_t h) {
  Bitmap32 b(w, h);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      uint32_t r = uint32_t(x * 255 / std::max(1, w - 1)), g = uint32_t(y * 255 / std::max(1, h - 1)),
               bl = uint32_t(((x + y) * 255) / std::max(1, w + h - 2));
      if ((x / 64 + y / 64) % 3 == 0) r = 255 - r;
      b.SetPixel(x, y, 0xFF000000u | (r << 16) | (g << 8) | bl);
    }
  return b;
}

std::vector<uint8_t> Encode(const Bitmap32& b, JpegColor color = JpegColor::YCbCr, bool progressive = false,
                            int quality = 95) {
  TMemoryStream s;
  JpegEncode(s, b, quality, color, progressive);
  return std::vector<uint8_t>(s.Memory(), s.Memory() + s.Size());
}

// Mean absolute difference per channel between a decoded picture and the
// source averaged over scale x scale blocks.
double MeanError(const Bitmap32& decoded, const Bitmap32& src, int scale) {
  double sum = 0;
  int64_t n = 0;
  for (int32_t y = 0; y < decoded.Height(); ++y)
    for (int32_t x = 0; x < decoded.Width(); ++x)
      for (int c = 0; c < 3; ++c) {
        double avg = 0;
        int cnt = 0;
        for (int dy = 0; dy < scale; ++dy)
          for (int dx = 0; dx < scale; ++dx) {
            const int32_t sx = std::min(src.Width() - 1, x * scale + dx), sy = std::min(src.Height() - 1, y * scale + dy);
            avg += (src.Pixel(sx, sy) >> (8 * c)) & 0xFF;
            ++cnt;
          }
        sum += std::abs(avg / cnt - double((decoded.Pixel(x, y) >> (8 * c)) & 0xFF));
        ++n;
      }
  return sum / double(n);
}

bool AllOpaque(const Bitmap32& b) {
  for (int32_t y = 0; y < b.Height(); ++y)
    for (int32_t x = 0; x < b.Width(); ++x)
      if ((b.Pixel(x, y) >> 24) != 0xFF) return false;
  return true;
}

Bitmap32 Decode(const std::vector<uint8_t>& bytes, int scale, bool* endedEarly = nullptr) {
  TReadOnlyMemoryStream s(bytes.data(), bytes.size());
  return JpegDecode(s, scale, endedEarly);
}

TEST(PlatformJpeg, DecodesAtEachScale) {
  const Bitmap32 src = Picture(1024, 768);
  const std::vector<uint8_t> file = Encode(src);
  struct Case {
    int scale;
    int32_t w, h;
  };
  for (const Case c : {Case{1, 1024, 768}, Case{2, 512, 384}, Case{4, 256, 192}, Case{8, 128, 96}}) {
    bool early = true;
    const Bitmap32 b = Decode(file, c.scale, &early);
    EXPECT_EQ(b.Width(), c.w) << c.scale;
    EXPECT_EQ(b.Height(), c.h) << c.scale;
    EXPECT_FALSE(early) << c.scale;
    EXPECT_TRUE(AllOpaque(b)) << c.scale;
    EXPECT_LT(MeanError(b, src, c.scale), 3.0) << c.scale;
  }
  // Sizes that do not divide are rounded up.
  const std::vector<uint8_t> odd = Encode(Picture(1001, 7));
  const Bitmap32 b = Decode(odd, 8);
  EXPECT_EQ(b.Width(), 126);
  EXPECT_EQ(b.Height(), 1);
  EXPECT_THROW(Decode(odd, 3), Exception);
}

TEST(PlatformJpeg, ColourSpacesAndProgressive) {
  const Bitmap32 src = Picture(96, 64);
  struct Case {
    const char* name;
    JpegColor color;
    bool progressive;
    int components;
  };
  const Case cases[] = {
      {"ycbcr", JpegColor::YCbCr, false, 3},          {"progressive", JpegColor::YCbCr, true, 3},
      {"cmyk", JpegColor::Cmyk, false, 4},            {"adobe cmyk", JpegColor::AdobeCmyk, false, 4},
      {"adobe ycck", JpegColor::AdobeYcck, false, 4}, {"progressive adobe cmyk", JpegColor::AdobeCmyk, true, 4},
  };
  for (const Case& c : cases) {
    const std::vector<uint8_t> file = Encode(src, c.color, c.progressive);
    TReadOnlyMemoryStream s(file.data(), file.size());
    EXPECT_EQ(JpegReadHeader(s).components, c.components) << c.name;
    for (int scale : {1, 4}) {
      const Bitmap32 b = Decode(file, scale);
      EXPECT_TRUE(AllOpaque(b)) << c.name;
      EXPECT_LT(MeanError(b, src, scale), 4.0) << c.name << " 1/" << scale;
    }
  }

  // Grey: one component, decoded as equal red, green and blue near the luminance.
  const std::vector<uint8_t> grey = Encode(src, JpegColor::Grey);
  TReadOnlyMemoryStream s(grey.data(), grey.size());
  EXPECT_EQ(JpegReadHeader(s).components, 1);
  const Bitmap32 b = Decode(grey, 1);
  double err = 0;
  for (int32_t y = 0; y < b.Height(); ++y)
    for (int32_t x = 0; x < b.Width(); ++x) {
      const uint32_t p = b.Pixel(x, y), q = src.Pixel(x, y);
      ASSERT_EQ(p >> 24, 0xFFu);
      ASSERT_EQ((p >> 16) & 0xFF, p & 0xFF);
      ASSERT_EQ((p >> 8) & 0xFF, p & 0xFF);
      const double luma = 0.299 * ((q >> 16) & 0xFF) + 0.587 * ((q >> 8) & 0xFF) + 0.114 * (q & 0xFF);
      err += std::abs(luma - double(p & 0xFF));
    }
  EXPECT_LT(err / (b.Width() * b.Height()), 3.0);
}

TEST(PlatformJpeg, HeaderOnlyAndStreamPosition) {
  std::vector<uint8_t> file = Encode(Picture(320, 200), JpegColor::YCbCr, false, 80);
  const size_t jpegSize = file.size();
  for (char c : std::string("TRAILING BYTES")) file.push_back(uint8_t(c));

  TReadOnlyMemoryStream s(file.data(), file.size());
  const JpegHeader h = JpegReadHeader(s);
  EXPECT_EQ(h.width, 320);
  EXPECT_EQ(h.height, 200);
  EXPECT_EQ(h.components, 3);
  // Only the markers were consumed: the position lies before the scan data's end.
  EXPECT_GT(s.Position(), 0);
  EXPECT_LT(s.Position(), int64_t(jpegSize) - 100);

  // A decode leaves the stream right after the end-of-image marker, also from
  // an offset inside a larger stream.
  std::vector<uint8_t> framed(7 + file.size(), 0xAA);
  std::copy(file.begin(), file.end(), framed.begin() + 7);
  TReadOnlyMemoryStream f(framed.data(), framed.size());
  f.SetPosition(7);
  const Bitmap32 b = JpegDecode(f, 2);
  EXPECT_EQ(b.Width(), 160);
  EXPECT_EQ(f.Position(), int64_t(7 + jpegSize));
}

TEST(PlatformJpeg, TruncatedFileEndsEarly) {
  const std::vector<uint8_t> file = Encode(Picture(256, 256), JpegColor::YCbCr, false, 90);
  std::vector<uint8_t> cut(file.begin(), file.begin() + long(file.size() / 2));
  bool early = false;
  const Bitmap32 b = Decode(cut, 1, &early);
  EXPECT_TRUE(early);
  ASSERT_EQ(b.Width(), 256);
  ASSERT_EQ(b.Height(), 256);
  // The top is picture, the missing bottom is the codec's grey.
  EXPECT_LT(MeanError([&] {
              Bitmap32 top(256, 32);
              for (int32_t y = 0; y < 32; ++y)
                for (int32_t x = 0; x < 256; ++x) top.SetPixel(x, y, b.Pixel(x, y));
              return top;
            }(),
                      Picture(256, 256), 1),
            4.0);
  for (int32_t x = 0; x < 256; x += 17) {
    const uint32_t p = b.Pixel(x, 255);
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(int((p >> (8 * c)) & 0xFF), 128, 2) << x;
  }
  // Only the end-of-image marker missing: the picture is complete.
  std::vector<uint8_t> noEoi(file.begin(), file.end() - 2);
  early = true;
  EXPECT_EQ(Decode(noEoi, 1, &early).Height(), 256);
  EXPECT_FALSE(early);
  // A progressive file cut short also decodes with what it has.
  const std::vector<uint8_t> prog = Encode(Picture(128, 96), JpegColor::YCbCr, true);
  std::vector<uint8_t> progCut(prog.begin(), prog.begin() + long(prog.size() * 2 / 3));
  early = false;
  EXPECT_EQ(Decode(progCut, 1, &early).Width(), 128);
  EXPECT_TRUE(early);
}

TEST(PlatformJpeg, GarbageRaises) {
  const std::vector<uint8_t> good = Encode(Picture(64, 64));
  std::vector<std::vector<uint8_t>> bad = {
      {},
      {0xFF, 0xD8},
      {0xFF, 0xD8, 0xFF, 0xD9},
      std::vector<uint8_t>(good.begin(), good.begin() + 100),  // stops inside the tables
  };
  std::vector<uint8_t> noise(3000);
  uint32_t seed = 12345;
  for (uint8_t& v : noise) v = uint8_t((seed = seed * 1103515245u + 12345u) >> 24);
  bad.push_back(noise);
  noise[0] = 0xFF, noise[1] = 0xD8, noise[2] = 0xFF;  // a start marker, then junk
  bad.push_back(noise);
  for (size_t i = 0; i < bad.size(); ++i) {
    EXPECT_THROW(Decode(bad[i], 1), Exception) << i;
    TReadOnlyMemoryStream s(bad[i].data(), bad[i].size());
    EXPECT_THROW(JpegReadHeader(s), Exception) << i;
  }
}

// Positions of the segments with the given marker.
std::vector<size_t> FindMarkers(const std::vector<uint8_t>& f, uint8_t marker) {
  std::vector<size_t> at;
  for (size_t i = 0; i + 1 < f.size(); ++i)
    if (f[i] == 0xFF && f[i + 1] == marker) at.push_back(i);
  return at;
}

TEST(PlatformJpeg, HostileHeadersAndScans) {
  // A frame header claiming 65000 x 65000 pixels on a few hundred bytes.
  std::vector<uint8_t> file = Encode(Picture(16, 16));
  const std::vector<size_t> sof = FindMarkers(file, 0xC0);
  ASSERT_FALSE(sof.empty());
  const size_t p = sof[0] + 5;  // length (2), precision (1), then height and width
  file[p] = file[p + 2] = 0xFD;
  file[p + 1] = file[p + 3] = 0xE8;
  TReadOnlyMemoryStream s(file.data(), file.size());
  EXPECT_EQ(JpegReadHeader(s).width, 65000);
  EXPECT_THROW(Decode(file, 1), EOutOfResources);  // beyond the pixel limit
  EXPECT_THROW(Decode(file, 8), EOutOfResources);  // within it, but far beyond the data

  // A progressive file whose AC scan is repeated thousands of times is
  // refused instead of being decoded scan after scan.
  const std::vector<uint8_t> prog = Encode(Picture(32, 32), JpegColor::YCbCr, true);
  const std::vector<size_t> sos = FindMarkers(prog, 0xDA);
  ASSERT_GE(sos.size(), 3u);
  // The second scan runs from its marker to the third scan's (tables may sit
  // between them, which is fine to repeat too).
  const std::vector<uint8_t> scan(prog.begin() + long(sos[1]), prog.begin() + long(sos[2]));
  std::vector<uint8_t> many(prog.begin(), prog.begin() + long(sos[2]));
  for (int i = 0; i < 1500; ++i) many.insert(many.end(), scan.begin(), scan.end());
  many.insert(many.end(), prog.begin() + long(sos[2]), prog.end());
  try {
    Decode(many, 1);
    ADD_FAILURE() << "no exception";
  } catch (const Exception& e) {
    EXPECT_NE(std::string(e.what()).find("scans"), std::string::npos) << e.what();
  }
  // A handful of repeats is still a picture.
  std::vector<uint8_t> few(prog.begin(), prog.begin() + long(sos[2]));
  for (int i = 0; i < 5; ++i) few.insert(few.end(), scan.begin(), scan.end());
  few.insert(few.end(), prog.begin() + long(sos[2]), prog.end());
  EXPECT_EQ(Decode(few, 1).Width(), 32);
}

TEST(PlatformJpeg, EncodeRejectsEmpty) {
  TMemoryStream s;
  EXPECT_THROW(JpegEncode(s, Bitmap32(), 90), Exception);
}

}  // namespace
}  // namespace zan
