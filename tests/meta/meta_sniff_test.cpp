// The type and pixel-size sniffers on well-formed, odd and hostile bytes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "meta/meta.h"
#include "meta/utils.h"
#include "support/fixtures.h"

namespace zan {
namespace {

using Bytes = std::vector<uint8_t>;

// A JPEG start followed by the given segments (each: marker code, body).
Bytes Jpeg(std::initializer_list<std::pair<uint8_t, Bytes>> segments) {
  Bytes out = {0xFF, 0xD8};
  for (const auto& [code, body] : segments) {
    const size_t length = body.size() + 2;
    out.insert(out.end(), {0xFF, code, static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)});
    out.insert(out.end(), body.begin(), body.end());
  }
  return out;
}

// Frame header body: precision, height, width, components.
Bytes Frame(uint8_t precision, uint16_t height, uint16_t width, uint8_t components) {
  return {precision, uint8_t(height >> 8), uint8_t(height), uint8_t(width >> 8), uint8_t(width), components};
}

TEST(MetaSniff, GraphicFileTypeFromTheFirstFourBytes) {
  const struct {
    Bytes bytes;
    std::string type;
  } cases[] = {
      {{'B', 'M', 0, 0}, "bmp"},
      {{0xFF, 0xD8, 0xFF, 0xE1}, "jpg"},
      {{0, 0, 1, 0}, "ico"},
      {{0, 0, 2, 0}, "cur"},
      {{'G', 'I', 'F', '8', '9', 'a'}, "gif"},
      {{0x89, 'P', 'N', 'G'}, "png"},
      {{0xD7, 0xCD, 0xC6, 0x9A, 0}, "wmf"},
      {{1, 0, 0, 0, 0x6C, 0, 0, 0}, ""},  // EMF is not sniffed here
      {{0xFF, 0xD8, 0x00, 0x00}, ""},
      {{0, 0, 3, 0}, ""},
      {{'B', 'M', 0}, "dat"},  // fewer than four bytes
      {{}, "dat"},
  };
  for (const auto& c : cases) {
    // Sniffed in the middle of a stream: the position comes back.
    Bytes padded = {0xAA, 0xBB};
    padded.insert(padded.end(), c.bytes.begin(), c.bytes.end());
    TMemoryStream s(padded.data(), padded.size());
    s.SetPosition(2);
    EXPECT_EQ(GetGraphicFileType(s), c.type) << ::testing::PrintToString(c.bytes);
    EXPECT_EQ(s.Position(), 2);
  }
}

TEST(MetaSniff, BmpPixelSize) {
  const struct {
    int32_t width, height, bits;
    TSize size;
  } cases[] = {
      {3, 2, 24, {3, 2}},
      {5, -7, 32, {5, 7}},  // top-down rows
      {1, 1, 1, {1, 1}},
  };
  for (const auto& c : cases) {
    TMemoryStream s;
    WriteBitmapHeaders(s, c.width, c.height, c.bits, false);
    s.SetPosition(0);
    int32_t bits = -1;
    EXPECT_EQ(GetGraphicPixelSize(s, &bits), c.size);
    EXPECT_EQ(bits, c.bits);
    EXPECT_EQ(s.Position(), 0);
  }

  // A height of -2^31 has no absolute value in 32 bits: no height.
  TMemoryStream s;
  WriteBitmapHeaders(s, 4, 1, 8, false);
  const int32_t minHeight = INT32_MIN;
  s.SetPosition(14 + 8);
  s.WriteBuffer(&minHeight, 4);
  s.SetPosition(0);
  EXPECT_EQ(GetGraphicPixelSize(s), (TSize{4, 0}));

  // The headers end early: nothing.
  TMemoryStream shortBmp("BM0123456789abcdefghij", 22);
  int32_t bits = -1;
  EXPECT_EQ(GetGraphicPixelSize(shortBmp, &bits), (TSize{0, 0}));
  EXPECT_EQ(bits, 0);
  EXPECT_EQ(shortBmp.Position(), 0);
}

TEST(MetaSniff, JpegPixelSizeWalksTheMarkers) {
  const Bytes app1(0x1000 - 2, 0xEE);
  const struct {
    const char* what;
    Bytes bytes;
    TSize size;
    int32_t bits;
  } cases[] = {
      {"baseline", Jpeg({{0xC0, Frame(8, 480, 640, 3)}}), {640, 480}, 24},
      {"behind a 4 KB APP1", Jpeg({{0xE1, app1}, {0xDB, Bytes(65, 1)}, {0xC0, Frame(8, 120, 160, 3)}}), {160, 120}, 24},
      {"progressive", Jpeg({{0xE0, Bytes(14, 0)}, {0xC2, Frame(8, 33, 44, 1)}}), {44, 33}, 8},
      {"12-bit lossless", Jpeg({{0xC3, Frame(12, 10, 20, 3)}}), {20, 10}, 36},
      {"DHT is no frame", Jpeg({{0xC4, Frame(8, 1, 1, 1)}, {0xC1, Frame(8, 2, 3, 1)}}), {3, 2}, 8},
      {"scan before frame", Jpeg({{0xE0, Bytes(14, 0)}, {0xDA, Bytes(10, 0)}, {0xC0, Frame(8, 9, 9, 3)}}), {0, 0}, 0},
      {"height 0 stops", Jpeg({{0xC0, Frame(8, 0, 640, 3)}}), {0, 0}, 0},
      {"width 0", Jpeg({{0xC0, Frame(8, 480, 0, 3)}}), {0, 480}, 0},
      {"precision 0", Jpeg({{0xC0, Frame(0, 480, 640, 3)}}), {640, 480}, 0},
      {"no marker", Bytes{0xFF, 0xD8, 0xFF, 0xE0, 0, 4, 0, 0, 0x12, 0xC0}, {0, 0}, 0},
      {"zero length", Bytes{0xFF, 0xD8, 0xFF, 0xE0, 0, 0, 0xFF, 0xC0, 0, 8, 8, 0, 1, 0, 1, 3}, {0, 0}, 0},
      {"length one", Bytes{0xFF, 0xD8, 0xFF, 0xE0, 0, 1, 0xFF, 0xC0, 0, 8, 8, 0, 1, 0, 1, 3}, {0, 0}, 0},
      {"length past the end", Bytes{0xFF, 0xD8, 0xFF, 0xE0, 0xFF, 0xFF, 0, 0}, {0, 0}, 0},
      {"ends inside the frame", Bytes{0xFF, 0xD8, 0xFF, 0xC0, 0, 17, 8, 0, 5, 0}, {0, 5}, 0},
      {"just the start", Bytes{0xFF, 0xD8, 0xFF, 0xE0}, {0, 0}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TMemoryStream s(c.bytes.data(), c.bytes.size());
    int32_t bits = -1;
    EXPECT_EQ(GetGraphicPixelSize(s, &bits), c.size);
    EXPECT_EQ(bits, c.bits);
    EXPECT_EQ(s.Position(), 0);
    s.SetPosition(0);
    EXPECT_EQ(GetGraphicPixelSize(s), c.size);  // without the bits
  }
}

TEST(MetaSniff, JpegPixelSizeOfARealEncoderOutput) {
  const Bytes jpeg = test::MakeJpeg(97, 31);
  TMemoryStream s(jpeg.data(), jpeg.size());
  int32_t bits = 0;
  EXPECT_EQ(GetGraphicPixelSize(s, &bits), (TSize{97, 31}));
  EXPECT_EQ(bits, 24);
}

TEST(MetaSniff, OtherTypesHaveNoPixelSize) {
  for (const Bytes& bytes : {Bytes{0x89, 'P', 'N', 'G', 0, 0, 0, 13}, Bytes{'G', 'I', 'F'}, Bytes{}}) {
    TMemoryStream s(bytes.data(), bytes.size());
    int32_t bits = -1;
    EXPECT_EQ(GetGraphicPixelSize(s, &bits), (TSize{0, 0}));
    EXPECT_EQ(bits, 0);
  }
}

TEST(MetaSniff, HostileSegmentChainEndsAtTheStreamEnd) {
  // A long chain of empty-bodied segments that never reaches a frame header.
  Bytes bytes = {0xFF, 0xD8};
  for (int i = 0; i < 20000; ++i) bytes.insert(bytes.end(), {0xFF, 0xFE, 0, 2});
  TMemoryStream s(bytes.data(), bytes.size());
  EXPECT_EQ(GetGraphicPixelSize(s), (TSize{0, 0}));
  EXPECT_EQ(s.Position(), 0);
}

}  // namespace
}  // namespace zan
