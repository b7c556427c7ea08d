#include "meta/utils.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "platform/system.h"

namespace zan {

uint32_t SwapWord(uint32_t value) { return ((value & 0xFFu) << 8) | ((value >> 8) & 0xFFu); }

uint32_t SwapLong(uint32_t value) {
  return ((value & 0xFFu) << 24) | ((value & 0xFF00u) << 8) | ((value >> 8) & 0xFF00u) | (value >> 24);
}

uint64_t SwapInt64(uint64_t value) {
  return (uint64_t(SwapLong(static_cast<uint32_t>(value))) << 32) | SwapLong(static_cast<uint32_t>(value >> 32));
}

std::string IntToText(int32_t value, int32_t minDigits) {
  const int64_t v = value;
  std::string text = std::to_string(v < 0 ? -v : v);
  if (minDigits > 0 && text.size() < static_cast<size_t>(minDigits))
    text.insert(0, static_cast<size_t>(minDigits) - text.size(), '0');
  if (v < 0) text.insert(0, 1, '-');
  return text;
}

namespace {

// x in fixed-point notation with exactly `digits` decimals and a "." as the
// point. The value is first taken to 18 significant digits (all an extended
// float holds), then rounded half away from zero in decimal, so that 0.125
// with two decimals reads 0.13 as a person would write it.
std::string FixedText(long double x, int digits) {
  if (std::isnan(x)) return "NAN";
  if (std::isinf(x)) return x < 0 ? "-INF" : "INF";

  constexpr int kSignificant = 18;
  std::string sig;  // significant digits, the first one not 0 (or empty for 0)
  int intDigits = 0;  // how many of them stand before the point
  if (x != 0) {
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, std::fabs(x), std::chars_format::scientific, kSignificant - 1);
    const std::string_view sci(buf, static_cast<size_t>(res.ptr - buf));  // d.ddd…e±xx
    const size_t e = sci.find('e');
    for (size_t i = 0; i < e; ++i)
      if (sci[i] != '.') sig += sci[i];
    int exponent = 0;
    const char* expBegin = sci.data() + e + 1;
    if (*expBegin == '+') ++expBegin;
    std::from_chars(expBegin, sci.data() + sci.size(), exponent);
    intDigits = exponent + 1;

    const int keep = intDigits + digits;  // significant digits that survive
    if (keep < 0) {
      sig.clear();
    } else if (keep < static_cast<int>(sig.size())) {
      const bool up = sig[static_cast<size_t>(keep)] >= '5';
      sig.resize(static_cast<size_t>(keep));
      if (up) {
        int i = keep - 1;
        while (i >= 0 && sig[static_cast<size_t>(i)] == '9') sig[static_cast<size_t>(i--)] = '0';
        if (i >= 0) {
          ++sig[static_cast<size_t>(i)];
        } else {
          sig.insert(0, 1, '1');
          ++intDigits;
        }
      }
    }
  }

  // Digit k of the number, counted from the first significant one.
  auto digitAt = [&](int k) { return k >= 0 && k < static_cast<int>(sig.size()) ? sig[static_cast<size_t>(k)] : '0'; };
  std::string text;
  if (intDigits <= 0 || sig.empty()) {
    text = "0";
  } else {
    for (int k = 0; k < intDigits; ++k) text += digitAt(k);
  }
  if (digits > 0) {
    text += '.';
    for (int k = 0; k < digits; ++k) text += digitAt(intDigits + k);
  }
  const bool zero = sig.find_first_not_of('0') == std::string::npos;
  if (x < 0 && !zero) text.insert(0, 1, '-');
  return text;
}

}  // namespace

std::string FloatToText(int32_t digits, bool keepTrailingZeros, long double value) {
  std::string text = FixedText(value, std::max(digits, 0));
  const size_t point = text.find('.');
  if (point == std::string::npos) return text;
  if (!keepTrailingZeros)
    while (text.back() == '0') text.pop_back();
  if (text.back() == '.') {
    text.pop_back();
    return text;
  }
  text[point] = LocaleDecimalSeparator();
  return text;
}

namespace {

// The row size in 64 bits; 15-bit pixels occupy 16 bits.
int64_t RowSize64(int64_t width, int64_t bitCount) {
  const int64_t bits = bitCount == 15 ? 16 : bitCount;
  return ((width * bits + 31) / 32) * 4;
}

void PutU16LE(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

void PutU32LE(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

// Writes count zero bytes without allocating them all at once.
void WriteZeros(TStream& stream, int64_t count) {
  static const uint8_t zeros[65536] = {};
  while (count > 0) {
    const int64_t n = std::min<int64_t>(count, sizeof zeros);
    stream.WriteBuffer(zeros, n);
    count -= n;
  }
}

void WriteFileHeader(TStream& stream, uint32_t fileSize, uint32_t pixelOffset) {
  uint8_t h[14] = {'B', 'M'};
  PutU32LE(h + 2, fileSize);
  PutU32LE(h + 10, pixelOffset);
  stream.WriteBuffer(h, sizeof h);
}

}  // namespace

int32_t BitmapRowSize(int32_t width, int32_t bitCount) {
  const int64_t row = RowSize64(width, bitCount);
  if (row > INT32_MAX || row < INT32_MIN) throw EOutOfResources("Bitmap row too large");
  return static_cast<int32_t>(row);
}

int32_t BitmapPaletteSize(int32_t bitCount) { return bitCount >= 1 && bitCount <= 8 ? 1 << bitCount : 0; }

int32_t WriteBitmapHeaders(TStream& stream, int32_t width, int32_t height, int32_t bitCount, bool zeroFill) {
  const int64_t row = RowSize64(width, bitCount);
  const int64_t colors = BitmapPaletteSize(bitCount);
  const int64_t rows = height < 0 ? -int64_t(height) : int64_t(height);
  // The file header holds 32-bit sizes and the result is 32-bit: refuse
  // anything that would not fit before writing a byte.
  const int64_t limit = INT32_MAX - 54 - 4 * 256;
  if (row < 0 || (row > 0 && rows > limit / row)) throw EOutOfResources("Bitmap too large");
  const int64_t image = row * rows;
  const int64_t body = 4 * colors + image;

  const int64_t start = stream.Position();
  WriteFileHeader(stream, static_cast<uint32_t>(54 + body), static_cast<uint32_t>(54 + 4 * colors));

  uint8_t info[40] = {};
  PutU32LE(info + 0, 40);
  PutU32LE(info + 4, static_cast<uint32_t>(width));
  PutU32LE(info + 8, static_cast<uint32_t>(height));
  PutU16LE(info + 12, 1);
  PutU16LE(info + 14, static_cast<uint32_t>(bitCount));
  PutU32LE(info + 20, static_cast<uint32_t>(image));
  PutU32LE(info + 32, static_cast<uint32_t>(colors));
  PutU32LE(info + 36, static_cast<uint32_t>(colors));
  stream.WriteBuffer(info, sizeof info);

  if (zeroFill) {
    WriteZeros(stream, body);
    stream.SetPosition(start + 54);
  }
  return static_cast<int32_t>(image);
}

void DibToBitmapFile(TStream& source, TStream& target) {
  uint8_t info[40];
  source.ReadBuffer(info, sizeof info);
  const uint32_t headerSize = GetU32LE(info);
  if (headerSize < 40) return;  // the 12-byte core form and junk
  source.Skip(-40);

  const auto width = static_cast<int32_t>(GetU32LE(info + 4));
  const auto heightField = static_cast<int32_t>(GetU32LE(info + 8));
  const uint16_t bits = GetU16LE(info + 14);
  const uint32_t compression = GetU32LE(info + 16);

  // All sizes in 64 bits, saturating: the header is not to be trusted.
  const int64_t height = heightField < 0 ? -int64_t(heightField) : int64_t(heightField);
  const int64_t paletteBytes = bits <= 8 ? int64_t(4) << bits : 0;
  const int64_t row = std::max<int64_t>(0, ((int64_t(width) * bits + 31) / 32) * 4);
  constexpr int64_t kMax = std::numeric_limits<int64_t>::max() / 4;
  const int64_t image = row != 0 && height > kMax / row ? kMax : row * height;
  const int64_t prefix = int64_t(headerSize) + paletteBytes;

  // The file header's 32-bit fields take the sizes modulo 2^32, as they
  // would be stored by any writer of such a header.
  WriteFileHeader(target, static_cast<uint32_t>(14 + prefix + image), static_cast<uint32_t>(14 + prefix));

  if (heightField >= 0 || compression != 0) {
    // Bottom-up or compressed: header, palette and pixels as they are.
    target.CopyFrom(source, std::min(prefix + image, source.Remaining()));
    return;
  }

  // Top-down: the header says bottom-up and the rows are stored reversed.
  PutU32LE(info + 8, 0u - static_cast<uint32_t>(heightField));
  source.Skip(40);
  target.WriteBuffer(info, sizeof info);
  target.CopyFrom(source, headerSize - 40);
  target.CopyFrom(source, paletteBytes);
  if (image == 0) return;

  // Only the rows the source really holds are buffered: k whole rows and
  // the start of the next one.
  const int64_t available = source.Remaining();
  const int64_t wholeRows = std::min(height, available / row);
  const int64_t partial = wholeRows < height ? std::min(row, available - wholeRows * row) : 0;
  const int64_t readBytes = wholeRows * row + partial;
  std::vector<uint8_t> rows(static_cast<size_t>(readBytes));
  source.ReadBuffer(rows.data(), readBytes);

  const bool complete = wholeRows == height;
  // A short source leaves the missing rows zero. They come first in the
  // file (the rows are reversed), so they are written only while they do
  // not outweigh the rows read: the output stays in proportion to the input.
  if (!complete && image - readBytes > readBytes) throw EReadError("Stream read error");

  for (int64_t fileRow = 0; fileRow < height; ++fileRow) {
    const int64_t sourceRow = height - 1 - fileRow;
    if (sourceRow < wholeRows) {
      target.WriteBuffer(rows.data() + sourceRow * row, row);
    } else if (sourceRow == wholeRows && partial > 0) {
      target.WriteBuffer(rows.data() + sourceRow * row, partial);
      WriteZeros(target, row - partial);
    } else {
      WriteZeros(target, row);
    }
  }
  if (!complete) throw EReadError("Stream read error");
}

}  // namespace zan
