// Byte swaps, number texts and the BMP builders.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <numeric>
#include <string>
#include <vector>

#include "meta/utils.h"
#include "platform/codecs.h"
#include "platform/system.h"
#include "support/fixtures.h"

namespace zan {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(UtilsSwap, ReverseTheBytes) {
  EXPECT_EQ(SwapWord(0x1234u), 0x3412u);
  EXPECT_EQ(SwapWord(0xABCD1234u), 0x3412u);  // upper half dropped
  EXPECT_EQ(SwapWord(0x00FFu), 0xFF00u);

  uint8_t bytes[4] = {0x12, 0x34, 0x56, 0x78};
  uint32_t v;
  std::memcpy(&v, bytes, 4);
  v = SwapLong(v);
  std::memcpy(bytes, &v, 4);
  EXPECT_EQ(Bytes(bytes, bytes + 4), (Bytes{0x78, 0x56, 0x34, 0x12}));

  EXPECT_EQ(SwapLong(0x80000001u), 0x01000080u);
  EXPECT_EQ(SwapInt64(0x0102030405060708ull), 0x0807060504030201ull);
  EXPECT_EQ(SwapInt64(0xFF00000000000000ull), 0xFFull);
}

TEST(UtilsText, IntToText) {
  const struct {
    int32_t value, digits;
    const char* text;
  } cases[] = {
      {7, 3, "007"},      {-42, 0, "-42"},      {-42, 4, "-0042"},
      {0, 0, "0"},        {0, 2, "00"},         {12345, 2, "12345"},
      {5, -3, "5"},       {INT32_MIN, 0, "-2147483648"}, {INT32_MAX, 12, "002147483647"},
  };
  for (const auto& c : cases) EXPECT_EQ(IntToText(c.value, c.digits), c.text) << c.value << "/" << c.digits;
}

TEST(UtilsText, FloatToText) {
  // Expected texts are written with "."; the locale's separator replaces it.
  const char sep = LocaleDecimalSeparator();
  const struct {
    int32_t digits;
    bool keep;
    long double value;
    const char* text;
  } cases[] = {
      {3, false, 2.5L, "2.5"},
      {3, true, 2.5L, "2.500"},
      {2, false, 3.0L, "3"},
      {2, true, 3.0L, "3.00"},
      {0, true, 2.5L, "3"},  // no point at all
      {0, false, 1234.4L, "1234"},
      {2, false, 0.125L, "0.13"},  // halves round away from zero
      {2, false, -0.125L, "-0.13"},
      {2, false, 2.675L, "2.68"},
      {2, false, 9.995L, "10"},
      {2, true, 0.004L, "0.00"},
      {2, false, -0.004L, "0"},  // no sign on a zero
      {1, false, 0.06L, "0.1"},
      {4, false, 1.0L / 3.0L, "0.3333"},
      {2, false, -1.5L, "-1.5"},
      {3, false, 1e20L, "100000000000000000000"},
      {2, false, 123456.789L, "123456.79"},
      {2, false, 0.0L, "0"},
      {-2, true, 7.7L, "8"},  // negative digit counts act as 0
  };
  for (const auto& c : cases) {
    std::string expected = c.text;
    for (char& ch : expected)
      if (ch == '.') ch = sep;
    EXPECT_EQ(FloatToText(c.digits, c.keep, c.value), expected) << c.text;
  }
  EXPECT_EQ(FloatToText(2, false, std::numeric_limits<long double>::infinity()), "INF");
  EXPECT_EQ(FloatToText(2, false, std::nanl("")), "NAN");
  // Huge values are written out in full, without an exponent.
  EXPECT_EQ(FloatToText(1, false, 1e300L).size(), 301u);
}

TEST(UtilsBitmap, RowAndPaletteSizes) {
  const struct {
    int32_t width, bits, row;
  } rows[] = {{1, 24, 4}, {3, 24, 12}, {5, 1, 4}, {33, 1, 8}, {10, 15, 20}, {10, 16, 20}, {2, 32, 8}, {0, 24, 0}, {7, 4, 4}};
  for (const auto& r : rows) EXPECT_EQ(BitmapRowSize(r.width, r.bits), r.row) << r.width << "x" << r.bits;
  // No silent overflow for widths no bitmap can have.
  EXPECT_THROW(BitmapRowSize(INT32_MAX, 32), EOutOfResources);
  EXPECT_EQ(BitmapRowSize(INT32_MAX, 1), 268435456);

  const struct {
    int32_t bits, colors;
  } palettes[] = {{1, 2}, {4, 16}, {8, 256}, {16, 0}, {24, 0}, {0, 0}, {-1, 0}, {9, 0}};
  for (const auto& p : palettes) EXPECT_EQ(BitmapPaletteSize(p.bits), p.colors) << p.bits;
}

uint32_t U32(const Bytes& b, size_t at) { return GetU32LE(b.data() + at); }
uint16_t U16(const Bytes& b, size_t at) { return GetU16LE(b.data() + at); }

TEST(UtilsBitmap, WriteBitmapHeaders) {
  TMemoryStream s;
  EXPECT_EQ(WriteBitmapHeaders(s, 2, 2, 24, false), 16);
  Bytes b = test::StreamBytes(s);
  ASSERT_EQ(b.size(), 54u);
  EXPECT_EQ(b[0], 'B');
  EXPECT_EQ(b[1], 'M');
  EXPECT_EQ(U32(b, 2), 70u);  // file size
  EXPECT_EQ(U32(b, 6), 0u);   // reserved
  EXPECT_EQ(U32(b, 10), 54u);  // pixel offset
  EXPECT_EQ(U32(b, 14), 40u);
  EXPECT_EQ(U32(b, 18), 2u);
  EXPECT_EQ(U32(b, 22), 2u);
  EXPECT_EQ(U16(b, 26), 1u);
  EXPECT_EQ(U16(b, 28), 24u);
  EXPECT_EQ(U32(b, 30), 0u);   // no compression
  EXPECT_EQ(U32(b, 34), 16u);  // image size
  EXPECT_EQ(U32(b, 38), 0u);
  EXPECT_EQ(U32(b, 42), 0u);
  EXPECT_EQ(U32(b, 46), 0u);  // colours used
  EXPECT_EQ(U32(b, 50), 0u);

  // Zero-filled: the declared body is there and the caller continues at 54.
  TMemoryStream f;
  f.WriteBuffer("xyz", 3);  // headers need not start at 0
  EXPECT_EQ(WriteBitmapHeaders(f, 3, 1, 8, true), 4);
  EXPECT_EQ(f.GetSize(), 3 + 1082);
  EXPECT_EQ(f.Position(), 3 + 54);
  b = test::StreamBytes(f);
  b.erase(b.begin(), b.begin() + 3);
  EXPECT_EQ(U32(b, 2), 1082u);
  EXPECT_EQ(U32(b, 10), 1078u);
  EXPECT_EQ(U32(b, 46), 256u);
  EXPECT_EQ(U32(b, 50), 256u);
  EXPECT_TRUE(std::all_of(b.begin() + 54, b.end(), [](uint8_t x) { return x == 0; }));

  // A negative height stays negative; the image size uses its magnitude.
  TMemoryStream t;
  EXPECT_EQ(WriteBitmapHeaders(t, 1, -3, 32, false), 12);
  b = test::StreamBytes(t);
  EXPECT_EQ(static_cast<int32_t>(U32(b, 22)), -3);

  // Sizes beyond the 32-bit fields are refused before anything is written.
  TMemoryStream huge;
  EXPECT_THROW(WriteBitmapHeaders(huge, 65536, 65536, 32, true), EOutOfResources);
  EXPECT_THROW(WriteBitmapHeaders(huge, 100, INT32_MIN, 24, false), EOutOfResources);
  EXPECT_EQ(huge.GetSize(), 0);
}

// A packed DIB: 40-byte header, palette, then the given rows.
Bytes Dib(int32_t width, int32_t height, uint16_t bits, uint32_t compression, const Bytes& palette,
          const Bytes& pixels, uint32_t headerSize = 40) {
  Bytes b(headerSize, 0);
  auto put32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  put32(0, headerSize);
  put32(4, static_cast<uint32_t>(width));
  put32(8, static_cast<uint32_t>(height));
  b[12] = 1;
  b[14] = static_cast<uint8_t>(bits);
  put32(16, compression);
  b.insert(b.end(), palette.begin(), palette.end());
  b.insert(b.end(), pixels.begin(), pixels.end());
  return b;
}

Bytes ConvertDib(const Bytes& dib, bool expectThrow = false) {
  TMemoryStream src(dib.data(), dib.size());
  TMemoryStream out;
  if (expectThrow)
    EXPECT_THROW(DibToBitmapFile(src, out), EReadError);
  else
    DibToBitmapFile(src, out);
  return test::StreamBytes(out);
}

TEST(UtilsDib, TopDownRowsAreReversed) {
  // 2 x 2 at 32 bits, top-down: pixels 1 1 1 1 and 2 2 2 2 in the top row.
  const Bytes pixels = {1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4};
  const Bytes bmp = ConvertDib(Dib(2, -2, 32, 0, {}, pixels));
  ASSERT_EQ(bmp.size(), 14u + 40 + 16);
  EXPECT_EQ(U32(bmp, 2), 70u);
  EXPECT_EQ(U32(bmp, 10), 54u);
  EXPECT_EQ(static_cast<int32_t>(U32(bmp, 14 + 8)), 2);  // now bottom-up
  EXPECT_EQ(Bytes(bmp.begin() + 54, bmp.end()), (Bytes{3, 3, 3, 3, 4, 4, 4, 4, 1, 1, 1, 1, 2, 2, 2, 2}));

  // And the result decodes to the picture the DIB described.
  TMemoryStream s(bmp.data(), bmp.size());
  const Bitmap32 pic = BmpDecode(s);
  ASSERT_EQ(pic.Height(), 2);
  EXPECT_EQ(pic.Pixel(0, 0), 0x01010101u);  // top row from the DIB's first row
  EXPECT_EQ(pic.Pixel(1, 1), 0x04040404u);
}

TEST(UtilsDib, BottomUpAndCompressedAreCopied) {
  // 4 bits, 3 x 2: palette 64 bytes, rows of 4 bytes.
  Bytes palette(64);
  std::iota(palette.begin(), palette.end(), uint8_t(100));
  const Bytes pixels = {0x12, 0x30, 0, 0, 0x45, 0x60, 0, 0};
  const Bytes dib = Dib(3, 2, 4, 0, palette, pixels);
  const Bytes bmp = ConvertDib(dib);
  ASSERT_EQ(bmp.size(), 14u + 40 + 64 + 8);
  EXPECT_EQ(U32(bmp, 2), 126u);
  EXPECT_EQ(U32(bmp, 10), 118u);
  EXPECT_EQ(Bytes(bmp.begin() + 14, bmp.end()), dib);

  // Top-down but RLE-compressed: copied unchanged, including the height.
  const Bytes rle = Dib(2, -2, 8, 1, Bytes(1024, 9), {2, 1, 0, 1});
  const Bytes bmp2 = ConvertDib(rle);
  EXPECT_EQ(Bytes(bmp2.begin() + 14, bmp2.end()), rle);
}

TEST(UtilsDib, LargerHeaderIsKept) {
  // A 108-byte header, 24 bits, top-down, 1 x 2.
  const Bytes dib = Dib(1, -2, 24, 0, {}, {1, 2, 3, 0, 4, 5, 6, 0}, 108);
  const Bytes bmp = ConvertDib(dib);
  ASSERT_EQ(bmp.size(), 14u + 108 + 8);
  EXPECT_EQ(U32(bmp, 10), 122u);
  EXPECT_EQ(U32(bmp, 14), 108u);
  EXPECT_EQ(static_cast<int32_t>(U32(bmp, 22)), 2);
  EXPECT_EQ(Bytes(bmp.end() - 8, bmp.end()), (Bytes{4, 5, 6, 0, 1, 2, 3, 0}));
}

TEST(UtilsDib, SmallHeadersWriteNothing) {
  Bytes core = Dib(2, 2, 24, 0, {}, Bytes(16, 0));
  core[0] = 12;  // the core header form
  EXPECT_TRUE(ConvertDib(core).empty());

  TMemoryStream shortSrc("\x28\0\0\0", 4);
  TMemoryStream out;
  EXPECT_THROW(DibToBitmapFile(shortSrc, out), EReadError);
  EXPECT_EQ(out.GetSize(), 0);
}

TEST(UtilsDib, ShortSources) {
  // Bottom-up: whatever is left is copied.
  const Bytes full = Dib(4, 4, 8, 0, Bytes(1024, 7), Bytes(16, 5));
  const Bytes cut(full.begin(), full.end() - 6);
  const Bytes bmp = ConvertDib(cut);
  EXPECT_EQ(U32(bmp, 2), 14u + 40 + 1024 + 16);  // declares the full size
  EXPECT_EQ(bmp.size(), 14 + cut.size());

  // Top-down with three of four rows (and one byte more): the rows read are
  // written, the missing one stays zero, and the short read is passed on.
  const Bytes rows = {1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4};
  const Bytes td = Dib(4, -4, 8, 0, Bytes(1024, 7), Bytes(rows.begin(), rows.begin() + 13));
  const Bytes bmp2 = ConvertDib(td, true);
  ASSERT_EQ(bmp2.size(), 14u + 40 + 1024 + 16);
  EXPECT_EQ(Bytes(bmp2.end() - 16, bmp2.end()), (Bytes{4, 0, 0, 0, 3, 3, 3, 3, 2, 2, 2, 2, 1, 1, 1, 1}));
}

TEST(UtilsDib, HostileSizesAreBoundedByTheSource) {
  // Headers claiming enormous pictures over a few bytes of data: no huge
  // buffer, no overflow, no output out of proportion to the input.
  const struct {
    int32_t width, height;
    uint16_t bits;
  } cases[] = {
      {INT32_MAX, -INT32_MAX, 32},
      {65535, INT32_MIN, 24},
      {1, -INT32_MAX, 1},
      {INT32_MAX, -1, 0xFFFF},
      {-5, -3, 24},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.width << " x " << c.height << " x " << c.bits);
    const Bytes dib = Dib(c.width, c.height, c.bits, 0, {}, Bytes(64, 1));
    TMemoryStream src(dib.data(), dib.size());
    TMemoryStream out;
    try {
      DibToBitmapFile(src, out);
    } catch (const Exception&) {
    }
    EXPECT_LE(out.GetSize(), 14 + 2 * static_cast<int64_t>(dib.size()));
  }
  // The same over a bottom-up header: the copy stops at the source's end.
  const Bytes dib = Dib(INT32_MAX, INT32_MAX, 32, 0, {}, Bytes(64, 1));
  EXPECT_EQ(ConvertDib(dib).size(), 14 + dib.size());
}

}  // namespace
}  // namespace zan
