// BMP decoder: a table of kinds built by a small writer, RLE streams written
// by hand, truncated and hostile files.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "platform/codecs.h"

namespace zan {
namespace {

void Put(std::vector<uint8_t>& b, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) b.push_back(uint8_t(v >> (8 * i)));
}

struct BmpLayout {
  std::string name;
  uint32_t headerSize = 40;
  int bits = 24;
  uint32_t compression = 0;
  int32_t width = 5, height = 3;  // negative height: top-down
  std::vector<uint32_t> palette;  // 0x00RRGGBB
  uint32_t clrUsed = 0;
  std::array<uint32_t, 4> masks{};  // red, green, blue, alpha
  std::vector<uint8_t> data;        // pixel data as stored
};

std::vector<uint8_t> WriteBmp(const BmpLayout& s) {
  const bool core = s.headerSize == 12;
  const bool fields = s.compression == 3 || s.compression == 6;
  const uint32_t maskBytes = (fields && s.headerSize == 40) ? (s.compression == 6 ? 16 : 12) : 0;
  const uint32_t offset = 14 + s.headerSize + maskBytes + uint32_t(s.palette.size()) * (core ? 3 : 4);
  std::vector<uint8_t> b = {'B', 'M'};
  Put(b, offset + uint32_t(s.data.size()), 4);
  Put(b, 0, 4);
  Put(b, offset, 4);
  Put(b, s.headerSize, 4);
  if (core) {
    Put(b, uint32_t(s.width), 2), Put(b, uint32_t(s.height), 2), Put(b, 1, 2), Put(b, uint32_t(s.bits), 2);
  } else {
    Put(b, uint32_t(s.width), 4), Put(b, uint32_t(s.height), 4), Put(b, 1, 2), Put(b, uint32_t(s.bits), 2);
    Put(b, s.compression, 4), Put(b, uint32_t(s.data.size()), 4), Put(b, 2835, 4), Put(b, 2835, 4);
    Put(b, s.clrUsed, 4), Put(b, 0, 4);
    for (uint32_t i = 40; i < s.headerSize; i += 4) {
      const uint32_t k = (i - 40) / 4;  // masks at 40..55, the rest zero
      Put(b, k < 4 ? s.masks[k] : 0, 4);
    }
    if (maskBytes)
      for (uint32_t k = 0; k < maskBytes / 4; ++k) Put(b, s.masks[k], 4);
  }
  for (uint32_t c : s.palette) Put(b, c, core ? 3 : 4);
  b.insert(b.end(), s.data.begin(), s.data.end());
  return b;
}

// Rows of stored values (top row first) packed at the bit count, padded to
// 4 bytes and stored bottom-up unless top-down.
std::vector<uint8_t> Pack(const std::vector<std::vector<uint32_t>>& rows, int bits, bool topDown) {
  std::vector<uint8_t> out;
  for (size_t r = 0; r < rows.size(); ++r) {
    const auto& row = rows[topDown ? r : rows.size() - 1 - r];
    std::vector<uint8_t> line;
    if (bits < 8) {
      uint32_t acc = 0;
      int n = 0;
      for (uint32_t v : row) {
        acc = (acc << bits) | v;
        if ((n += bits) == 8) line.push_back(uint8_t(acc)), acc = 0, n = 0;
      }
      if (n) line.push_back(uint8_t(acc << (8 - n)));
    } else {
      for (uint32_t v : row) Put(line, v, bits / 8);
    }
    while (line.size() % 4) line.push_back(0);
    out.insert(out.end(), line.begin(), line.end());
  }
  return out;
}

Bitmap32 Decode(const std::vector<uint8_t>& bytes) {
  TReadOnlyMemoryStream s(bytes.data(), bytes.size());
  return BmpDecode(s);
}

std::vector<std::vector<uint32_t>> Rows(const Bitmap32& b) {
  std::vector<std::vector<uint32_t>> r(size_t(b.Height()));
  for (int32_t y = 0; y < b.Height(); ++y)
    for (int32_t x = 0; x < b.Width(); ++x) r[size_t(y)].push_back(b.Pixel(x, y));
  return r;
}

// The same colours looked up through a palette (indices beyond it are black).
std::vector<std::vector<uint32_t>> Lookup(const std::vector<std::vector<uint32_t>>& idx,
                                          const std::vector<uint32_t>& pal, size_t used) {
  auto out = idx;
  for (auto& row : out)
    for (uint32_t& v : row) v = v < std::min(used, pal.size()) ? pal[v] : 0u;
  return out;
}

uint32_t Expand(uint32_t v, int bits) { return uint32_t(std::lround(v * 255.0 / ((1 << bits) - 1))); }

TEST(PlatformBmp, KindsTable) {
  std::vector<uint32_t> pal;
  for (uint32_t i = 0; i < 256; ++i) pal.push_back((i * 0x010305u + 0x203040u) & 0xFFFFFFu);
  const std::vector<std::vector<uint32_t>> idx1 = {{1, 0, 1, 1, 0}, {0, 0, 1, 0, 1}, {1, 1, 1, 0, 0}};
  const std::vector<std::vector<uint32_t>> idx4 = {{15, 0, 7, 8, 1}, {2, 3, 4, 5, 6}, {9, 10, 11, 12, 13}};
  const std::vector<std::vector<uint32_t>> idx8 = {{255, 0, 128, 4, 1}, {2, 3, 4, 0, 1}, {17, 200, 3, 3, 2}};

  // 16-bit 5-5-5 words and what they decode to.
  std::vector<std::vector<uint32_t>> w555(3), e555(3), w565(3), e565(3), w1555(3), e1555(3);
  for (uint32_t y = 0; y < 3; ++y)
    for (uint32_t x = 0; x < 5; ++x) {
      const uint32_t r = (x * 7 + y) & 31, g = (x * 3 + y * 11) & 31, b = (31 - x * 5) & 31, g6 = (x * 13 + y) & 63;
      w555[y].push_back((r << 10) | (g << 5) | b);
      e555[y].push_back((Expand(r, 5) << 16) | (Expand(g, 5) << 8) | Expand(b, 5));
      w565[y].push_back((r << 11) | (g6 << 5) | b);
      e565[y].push_back((Expand(r, 5) << 16) | (Expand(g6, 6) << 8) | Expand(b, 5));
      const uint32_t a = (x + y) & 1;
      w1555[y].push_back((a << 15) | (r << 10) | (g << 5) | b);
      e1555[y].push_back((a ? 0xFF000000u : 0u) | e555[y].back());
    }
  // 24 and 32 bits.
  std::vector<std::vector<uint32_t>> rgb(3), argb(3), abgr(3), rgbOnly(3);
  for (uint32_t y = 0; y < 3; ++y)
    for (uint32_t x = 0; x < 5; ++x) {
      const uint32_t r = x * 50, g = y * 100, b = 255 - x * 40, a = (x * 60 + y * 7) & 0xFF;
      rgb[y].push_back((r << 16) | (g << 8) | b);
      argb[y].push_back((a << 24) | (r << 16) | (g << 8) | b);
      abgr[y].push_back((a << 24) | (b << 16) | (g << 8) | r);  // stored with red in the low byte
      rgbOnly[y].push_back((r << 16) | (g << 8) | b);
    }

  struct Case {
    BmpLayout layout;
    std::vector<std::vector<uint32_t>> expected;
  };
  std::vector<Case> cases;
  auto add = [&](BmpLayout s, const std::vector<std::vector<uint32_t>>& stored, const std::vector<std::vector<uint32_t>>& want) {
    s.data = Pack(stored, s.bits, s.height < 0);
    cases.push_back({s, want});
  };
  const std::vector<uint32_t> pal2(pal.begin(), pal.begin() + 2), pal16(pal.begin(), pal.begin() + 16);
  add({"1 bit", 40, 1, 0, 5, 3, pal2}, idx1, Lookup(idx1, pal, 2));
  add({"4 bits top-down", 40, 4, 0, 5, -3, pal16}, idx4, Lookup(idx4, pal, 16));
  add({"8 bits", 40, 8, 0, 5, 3, pal}, idx8, Lookup(idx8, pal, 256));
  add({"8 bits, 3 colours used", 40, 8, 0, 5, 3, {pal[0], pal[1], pal[2]}, 3}, idx8, Lookup(idx8, pal, 3));
  add({"8 bits, core header", 12, 8, 0, 5, 3, pal}, idx8, Lookup(idx8, pal, 256));
  add({"24 bits, core header", 12, 24, 0, 5, 3}, rgb, rgb);
  add({"16 bits 5-5-5", 40, 16, 0, 5, 3}, w555, e555);
  add({"16 bits 5-6-5 bit fields", 40, 16, 3, 5, 3, {}, 0, {0xF800, 0x07E0, 0x001F, 0}}, w565, e565);
  add({"16 bits 1-5-5-5, V4 header", 108, 16, 3, 5, -3, {}, 0, {0x7C00, 0x03E0, 0x001F, 0x8000}}, w1555, e1555);
  add({"24 bits", 40, 24, 0, 5, 3}, rgb, rgb);
  add({"24 bits top-down", 40, 24, 0, 5, -3}, rgb, rgb);
  add({"32 bits, alpha byte kept", 40, 32, 0, 5, 3}, argb, argb);
  add({"32 bits, bit fields without alpha", 40, 32, 3, 5, 3, {}, 0, {0xFF, 0xFF00, 0xFF0000, 0}}, abgr, rgbOnly);
  add({"32 bits, alpha bit fields", 40, 32, 6, 5, 3, {}, 0, {0xFF, 0xFF00, 0xFF0000, 0xFF000000}}, abgr, argb);
  add({"32 bits, 52-byte header", 52, 32, 3, 5, 3, {}, 0, {0xFF, 0xFF00, 0xFF0000, 0}}, abgr, rgbOnly);
  add({"32 bits, 56-byte header", 56, 32, 3, 5, 3, {}, 0, {0xFF, 0xFF00, 0xFF0000, 0xFF000000}}, abgr, argb);
  add({"32 bits, V5 header", 124, 32, 3, 5, -3, {}, 0, {0xFF, 0xFF00, 0xFF0000, 0xFF000000}}, abgr, argb);
  add({"32 bits, V5 header without bit fields", 124, 32, 0, 5, 3, {}, 0, {0xFF, 0xFF00, 0xFF0000, 0xFF000000}}, argb,
      argb);

  for (const Case& c : cases) {
    const Bitmap32 b = Decode(WriteBmp(c.layout));
    EXPECT_EQ(Rows(b), c.expected) << c.layout.name;
  }
}

TEST(PlatformBmp, RunLengthEncoded) {
  std::vector<uint32_t> pal;
  for (uint32_t i = 0; i < 16; ++i) pal.push_back(0x100000u * i + 0x0101u * (i + 1));
  auto P = [&](int i) { return i < 0 ? 0u : pal[size_t(i)]; };  // -1: left untouched

  BmpLayout rle8{"rle8", 40, 8, 1, 5, 3, pal};
  rle8.data = {
      2, 1, 0, 3, 2, 3, 2, 0, 0, 0,  // bottom row: run of 1s, absolute 2 3 2 (padded), end of line
      0, 2, 3, 0, 2, 4, 0, 0,        // middle row: move right 3, run of 4s, end of line
      5, 3, 0, 1,                    // top row: run of 3s, end of bitmap
      9, 9,                          // never read
  };
  EXPECT_EQ(Rows(Decode(WriteBmp(rle8))), (std::vector<std::vector<uint32_t>>{
                                              {P(3), P(3), P(3), P(3), P(3)},
                                              {P(-1), P(-1), P(-1), P(4), P(4)},
                                              {P(1), P(1), P(2), P(3), P(2)}}));

  BmpLayout rle4{"rle4", 40, 4, 2, 5, 3, pal};
  rle4.data = {
      5, 0x12, 0, 0,                 // bottom row: 1 2 1 2 1
      0, 3, 0x34, 0x50, 2, 0x66, 0, 0,  // middle row: absolute 3 4 5 (two bytes), run 6 6
      4, 0x78, 0, 1,                 // top row: 7 8 7 8, end of bitmap
  };
  EXPECT_EQ(Rows(Decode(WriteBmp(rle4))), (std::vector<std::vector<uint32_t>>{
                                              {P(7), P(8), P(7), P(8), P(-1)},
                                              {P(3), P(4), P(5), P(6), P(6)},
                                              {P(1), P(2), P(1), P(2), P(1)}}));

  // Runs past the row's end, moves past the picture, an absolute run cut
  // off by the end of the file: clipped, no crash.
  BmpLayout wild{"wild", 40, 8, 1, 5, 3, pal};
  wild.data = {255, 1, 0, 0, 0, 2, 255, 255, 3, 5, 0, 1};
  const auto rows = Rows(Decode(WriteBmp(wild)));
  EXPECT_EQ(rows[2], (std::vector<uint32_t>(5, P(1))));
  EXPECT_EQ(rows[1], (std::vector<uint32_t>(5, 0u)));
  EXPECT_EQ(rows[0], (std::vector<uint32_t>(5, 0u)));
  wild.data = {0, 255, 1, 2, 3};
  EXPECT_EQ(Rows(Decode(WriteBmp(wild)))[2], (std::vector<uint32_t>{P(1), P(2), P(3), 0, 0}));
}

TEST(PlatformBmp, TruncatedDataKeepsWhatIsThere) {
  std::vector<std::vector<uint32_t>> rgb = {{1, 2, 3, 4, 5}, {6, 7, 8, 9, 10}, {11, 12, 13, 14, 15}};
  BmpLayout s{"cut", 40, 24, 0, 5, 3};
  s.data = Pack(rgb, 24, false);
  s.data.resize(16 + 7);  // the bottom row (16 bytes with padding) and two pixels of the next
  EXPECT_EQ(Rows(Decode(WriteBmp(s))), (std::vector<std::vector<uint32_t>>{
                                           {0, 0, 0, 0, 0}, {6, 7, 0, 0, 0}, {11, 12, 13, 14, 15}}));
  // Pixel data offset beyond the end of the file: an empty picture of the right size.
  std::vector<uint8_t> file = WriteBmp(s);
  file[10] = 0xFF, file[11] = 0xFF;
  const Bitmap32 b = Decode(file);
  EXPECT_EQ(b.Width(), 5);
  EXPECT_EQ(Rows(b)[0], std::vector<uint32_t>(5, 0u));
  // A palette count far beyond the file is cut to what is there.
  BmpLayout p{"palette", 40, 8, 0, 2, 1, {0x112233, 0x445566}, 1000000000};
  p.data = {1, 0, 0, 0};
  EXPECT_EQ(Rows(Decode(WriteBmp(p)))[0], (std::vector<uint32_t>{0x445566, 0x112233}));
}

TEST(PlatformBmp, NonsenseHeadersRaise) {
  auto layout = [](auto change) {
    BmpLayout s{"x", 40, 24, 0, 5, 3};
    s.data.assign(48, 0x7F);
    change(s);
    return WriteBmp(s);
  };
  struct Case {
    std::string name;
    std::vector<uint8_t> file;
    bool outOfResources;
  };
  std::vector<Case> cases = {
      {"zero width", layout([](BmpLayout& s) { s.width = 0; }), false},
      {"negative width", layout([](BmpLayout& s) { s.width = -5; }), false},
      {"zero height", layout([](BmpLayout& s) { s.height = 0; }), false},
      {"lowest height", layout([](BmpLayout& s) { s.height = INT32_MIN; }), true},
      {"bit count 7", layout([](BmpLayout& s) { s.bits = 7; }), false},
      {"embedded JPEG", layout([](BmpLayout& s) { s.compression = 4; }), false},
      {"RLE8 at 24 bits", layout([](BmpLayout& s) { s.compression = 1; }), false},
      {"bit fields at 24 bits", layout([](BmpLayout& s) { s.compression = 3; }), false},
      {"header size 20", layout([](BmpLayout& s) { s.headerSize = 20; }), false},
      {"beyond the pixel limit", layout([](BmpLayout& s) { s.width = 1 << 20, s.height = 1 << 9; }), true},
      {"far beyond the data", layout([](BmpLayout& s) { s.width = 30000, s.height = 30000 / 4; }), true},
      {"RLE far beyond the data", layout([](BmpLayout& s) { s.bits = 8, s.compression = 1, s.width = 8000, s.height = 8000; }),
       true},
  };
  std::vector<uint8_t> good = layout([](BmpLayout&) {});
  cases.push_back({"not BM", good, false});
  cases.back().file[1] = 'N';
  cases.push_back({"cut in the header", std::vector<uint8_t>(good.begin(), good.begin() + 30), false});
  cases.push_back({"file header only", std::vector<uint8_t>(good.begin(), good.begin() + 14), false});
  for (const Case& c : cases) {
    if (c.outOfResources) {
      EXPECT_THROW(Decode(c.file), EOutOfResources) << c.name;
    } else {
      EXPECT_THROW(Decode(c.file), Exception) << c.name;
    }
  }
}

}  // namespace
}  // namespace zan
