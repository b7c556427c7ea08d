// Our own BMP reader: file header, core or info header (40, 52, 56, 108 or
// 124 bytes), palette, then uncompressed rows, bit fields or RLE4/RLE8.
// Every count and offset from the file is checked against the data present;
// rows the file does not hold stay zero.
#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/codecs.h"

namespace zan {

namespace {

constexpr uint32_t kBiRgb = 0, kBiRle8 = 1, kBiRle4 = 2, kBiBitfields = 3, kBiAlphaBitfields = 6;
// Pixels per byte of pixel data allowed beyond kFreePixels: a 1-bit row packs
// 8, an RLE8 run about 128; only a file cut down to a stub comes near.
constexpr int64_t kPixelsPerByte = 1024;

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Le32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

// One colour mask of a bit-field image, scaled to 8 bits.
struct Channel {
  uint32_t mask = 0;
  int shift = 0;
  uint32_t max = 0;

  explicit Channel(uint32_t m = 0) : mask(m) {
    if (m) {
      shift = std::countr_zero(m);
      max = m >> shift;
    }
  }
  uint32_t Get(uint32_t px) const {
    if (!max) return 0;
    const uint64_t v = (px & mask) >> shift;
    return static_cast<uint32_t>((v * 255 + max / 2) / max);
  }
};

struct Masks {
  Channel r, g, b, a;
  uint32_t Pixel(uint32_t px) const { return (a.Get(px) << 24) | (r.Get(px) << 16) | (g.Get(px) << 8) | b.Get(px); }
};

// Buffered byte reader for the RLE data; -1 at the end.
class ByteReader {
 public:
  explicit ByteReader(TStream& s) : s_(s) {}
  int Next() {
    if (pos_ == len_) {
      len_ = static_cast<size_t>(std::max<int64_t>(0, s_.Read(buf_.data(), static_cast<int64_t>(buf_.size()))));
      pos_ = 0;
      if (len_ == 0) return -1;
    }
    return buf_[pos_++];
  }

 private:
  TStream& s_;
  std::array<uint8_t, 65536> buf_{};
  size_t pos_ = 0, len_ = 0;
};

struct Header {
  int32_t width = 0;
  int64_t rows = 0;
  bool topDown = false;
  int bits = 0;
  uint32_t compression = kBiRgb;
  Masks masks;
  bool useMasks = false;
  std::vector<uint32_t> palette;  // 0x00RRGGBB
};

void DecodeRle(TStream& stream, const Header& h, Bitmap32& out) {
  auto reader = std::make_unique<ByteReader>(stream);
  const bool rle4 = h.compression == kBiRle4;
  const int64_t width = h.width, rows = h.rows;
  int64_t x = 0, row = 0;  // row counted in file order
  auto colour = [&](int index) -> uint32_t {
    return static_cast<size_t>(index) < h.palette.size() ? h.palette[static_cast<size_t>(index)] : 0u;
  };
  auto put = [&](int64_t px, uint32_t c) {
    if (px >= 0 && px < width && row < rows) {
      const int64_t y = h.topDown ? row : rows - 1 - row;
      out.Row(static_cast<int32_t>(y))[px] = c;
    }
  };
  while (row < rows) {
    const int count = reader->Next();
    const int value = reader->Next();
    if (count < 0 || value < 0) return;
    if (count > 0) {
      // An encoded run; pixels beyond the row are dropped.
      const int64_t n = std::min<int64_t>(count, std::max<int64_t>(0, width - x));
      if (rle4) {
        const uint32_t c0 = colour(value >> 4), c1 = colour(value & 15);
        for (int64_t i = 0; i < n; ++i) put(x + i, (i & 1) ? c1 : c0);
      } else {
        const uint32_t c = colour(value);
        for (int64_t i = 0; i < n; ++i) put(x + i, c);
      }
      x += count;
      continue;
    }
    switch (value) {
      case 0:  // end of line
        x = 0;
        ++row;
        break;
      case 1:  // end of bitmap
        return;
      case 2: {  // delta: move right and down
        const int dx = reader->Next(), dy = reader->Next();
        if (dx < 0 || dy < 0) return;
        x += dx;
        row += dy;
        break;
      }
      default: {  // absolute run of value pixels, padded to a 16-bit boundary
        const int n = value;
        const int bytes = rle4 ? (n + 1) / 2 : n;
        for (int i = 0; i < bytes; ++i) {
          const int b = reader->Next();
          if (b < 0) return;
          if (rle4) {
            put(x++, colour(b >> 4));
            if (2 * i + 1 < n) put(x++, colour(b & 15));
          } else {
            put(x++, colour(b));
          }
        }
        if (bytes & 1) {
          if (reader->Next() < 0) return;
        }
        break;
      }
    }
  }
}

void DecodeRows(TStream& stream, const Header& h, Bitmap32& out) {
  const uint64_t stride = ((static_cast<uint64_t>(h.width) * h.bits + 31) / 32) * 4;
  std::vector<uint8_t> line(static_cast<size_t>(stride));
  const int32_t width = h.width;
  for (int64_t i = 0; i < h.rows; ++i) {
    const int64_t got = stream.Read(line.data(), static_cast<int64_t>(stride));
    if (got <= 0) return;
    // Only the pixels whose bytes are all present.
    const int64_t avail = std::min<int64_t>(width, got * 8 / h.bits);
    const int64_t y = h.topDown ? i : h.rows - 1 - i;
    uint32_t* dst = out.Row(static_cast<int32_t>(y));
    const uint8_t* p = line.data();
    switch (h.bits) {
      case 1:
      case 4:
      case 8: {
        const int bits = h.bits, perByte = 8 / bits;
        const unsigned mask = (1u << bits) - 1;
        for (int64_t x = 0; x < avail; ++x) {
          const unsigned shift = static_cast<unsigned>(8 - bits * (1 + x % perByte));
          const size_t index = (p[x / perByte] >> shift) & mask;
          dst[x] = index < h.palette.size() ? h.palette[index] : 0u;
        }
        break;
      }
      case 16:
        for (int64_t x = 0; x < avail; ++x) dst[x] = h.masks.Pixel(Le16(p + 2 * x));
        break;
      case 24:
        for (int64_t x = 0; x < avail; ++x)
          dst[x] = (uint32_t(p[3 * x + 2]) << 16) | (uint32_t(p[3 * x + 1]) << 8) | p[3 * x];
        break;
      case 32:
        if (h.useMasks) {
          for (int64_t x = 0; x < avail; ++x) dst[x] = h.masks.Pixel(Le32(p + 4 * x));
        } else {
          for (int64_t x = 0; x < avail; ++x) dst[x] = Le32(p + 4 * x);  // alpha byte as stored
        }
        break;
    }
    if (got < static_cast<int64_t>(stride)) return;
  }
}

}  // namespace

Bitmap32 BmpDecode(TStream& stream) {
  const int64_t start = stream.Position();
  uint8_t fh[14];
  stream.ReadBuffer(fh, sizeof fh);
  if (fh[0] != 'B' || fh[1] != 'M') throw Exception("Not a BMP file");
  const uint32_t dataOffset = Le32(fh + 10);

  uint8_t ih[124] = {};
  stream.ReadBuffer(ih, 4);
  const uint32_t headerSize = Le32(ih);
  const bool core = headerSize == 12;
  if (!core && headerSize != 40 && headerSize != 52 && headerSize != 56 && headerSize != 108 && headerSize != 124)
    throw Exception("BMP: unsupported header size");
  stream.ReadBuffer(ih + 4, headerSize - 4);

  Header h;
  int64_t height = 0;
  if (core) {
    h.width = Le16(ih + 4);
    height = Le16(ih + 6);
    h.bits = Le16(ih + 10);
  } else {
    h.width = static_cast<int32_t>(Le32(ih + 4));
    height = static_cast<int32_t>(Le32(ih + 8));
    h.bits = Le16(ih + 14);
    h.compression = Le32(ih + 16);
  }
  if (h.width <= 0 || height == 0) throw Exception("BMP: invalid size");
  h.topDown = height < 0;
  h.rows = height < 0 ? -height : height;
  if (h.bits != 1 && h.bits != 4 && h.bits != 8 && h.bits != 16 && h.bits != 24 && h.bits != 32)
    throw Exception("BMP: unsupported bit count");
  switch (h.compression) {
    case kBiRgb:
      break;
    case kBiRle8:
      if (h.bits != 8) throw Exception("BMP: RLE8 needs 8 bits");
      break;
    case kBiRle4:
      if (h.bits != 4) throw Exception("BMP: RLE4 needs 4 bits");
      break;
    case kBiBitfields:
    case kBiAlphaBitfields:
      if (h.bits != 16 && h.bits != 32) throw Exception("BMP: bit fields need 16 or 32 bits");
      break;
    default:
      throw Exception("BMP: unsupported compression");
  }
  CheckPixelLimit(h.width, h.rows);

  // Colour masks: after a 40-byte header, or inside the larger ones.
  if (h.compression == kBiBitfields || h.compression == kBiAlphaBitfields) {
    uint32_t m[4] = {0, 0, 0, 0};
    if (headerSize == 40) {
      const int n = h.compression == kBiAlphaBitfields ? 4 : 3;
      uint8_t buf[16];
      stream.ReadBuffer(buf, 4 * n);
      for (int i = 0; i < n; ++i) m[i] = Le32(buf + 4 * i);
    } else {
      for (int i = 0; i < 3; ++i) m[i] = Le32(ih + 40 + 4 * i);
      if (headerSize >= 56) m[3] = Le32(ih + 52);
    }
    h.masks = Masks{Channel(m[0]), Channel(m[1]), Channel(m[2]), Channel(m[3])};
    h.useMasks = true;
  } else if (h.bits == 16) {
    h.masks = Masks{Channel(0x7C00), Channel(0x03E0), Channel(0x001F), Channel(0)};  // 5-5-5
  }

  // Palette: clrUsed entries or 2^bits, at most 256 and at most what is there.
  if (h.bits <= 8) {
    const uint32_t clrUsed = core ? 0 : Le32(ih + 32);
    uint32_t count = clrUsed ? clrUsed : (1u << h.bits);
    count = std::min<uint32_t>(count, 256);
    const int entry = core ? 3 : 4;
    count = static_cast<uint32_t>(std::min<int64_t>(count, stream.Remaining() / entry));
    std::vector<uint8_t> raw(static_cast<size_t>(count) * entry);
    stream.ReadBuffer(raw.data(), static_cast<int64_t>(raw.size()));
    h.palette.resize(count);
    for (uint32_t i = 0; i < count; ++i) {
      const uint8_t* e = raw.data() + static_cast<size_t>(i) * entry;
      h.palette[i] = (uint32_t(e[2]) << 16) | (uint32_t(e[1]) << 8) | e[0];
    }
  }

  // Pixel data: at the offset from the file header (right here when it is 0).
  if (dataOffset != 0) stream.SetPosition(ClampSeek(start, dataOffset));
  CheckPixelBudget(h.width, h.rows, stream.Remaining(), kPixelsPerByte);

  Bitmap32 out(h.width, static_cast<int32_t>(h.rows));
  if (h.compression == kBiRle4 || h.compression == kBiRle8)
    DecodeRle(stream, h, out);
  else
    DecodeRows(stream, h, out);
  return out;
}

}  // namespace zan
