#include "icon/icon_fixtures.h"

#include "meta/utils.h"
#include "platform/stream.h"

namespace zan::test {

namespace {

void PutU16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}

void PutU32(std::vector<uint8_t>& out, uint32_t v) {
  PutU16(out, v & 0xFFFF);
  PutU16(out, v >> 16);
}

}  // namespace

std::vector<uint8_t> MakeDib(const DibSpec& dib) {
  const int32_t w = dib.width, h = dib.height, bits = dib.bitCount;
  std::vector<uint8_t> out;
  PutU32(out, 40);
  PutU32(out, static_cast<uint32_t>(w));
  PutU32(out, static_cast<uint32_t>(dib.headerHeight.value_or(2 * h)));
  PutU16(out, 1);
  PutU16(out, dib.headerBitCount.value_or(static_cast<uint16_t>(bits)));
  out.resize(out.size() + 24, 0);
  const int32_t colors = BitmapPaletteSize(bits);
  for (int32_t i = 0; i < colors; ++i) {
    const uint32_t c = size_t(i) < dib.palette.size() ? dib.palette[size_t(i)] : 0;
    out.insert(out.end(), {uint8_t(c), uint8_t(c >> 8), uint8_t(c >> 16), 0});
  }
  const size_t colorRow = static_cast<size_t>(BitmapRowSize(w, bits));
  const size_t maskRow = static_cast<size_t>(BitmapRowSize(w, 1));
  std::vector<uint8_t> color(colorRow * static_cast<size_t>(h), 0), mask(maskRow * static_cast<size_t>(h), 0);
  for (int32_t y = 0; y < h; ++y) {
    uint8_t* c = color.data() + static_cast<size_t>(h - 1 - y) * colorRow;  // bottom-up
    uint8_t* m = mask.data() + static_cast<size_t>(h - 1 - y) * maskRow;
    for (int32_t x = 0; x < w; ++x) {
      const size_t i = static_cast<size_t>(y) * w + x;
      const uint32_t v = i < dib.pixels.size() ? dib.pixels[i] : 0;
      if (bits <= 8) {
        const int bit = x * bits;
        c[bit / 8] = static_cast<uint8_t>(c[bit / 8] | (v << (8 - bits - bit % 8)));
      } else {
        const int bytes = bits / 8;
        for (int k = 0; k < bytes; ++k) c[bytes * x + k] = static_cast<uint8_t>(v >> (8 * k));
      }
      if (i < dib.mask.size() && dib.mask[i]) m[x / 8] = static_cast<uint8_t>(m[x / 8] | (0x80 >> (x % 8)));
    }
  }
  out.insert(out.end(), color.begin(), color.end());
  out.insert(out.end(), mask.begin(), mask.end());
  return out;
}

DibSpec SolidDib(int32_t width, int32_t height, int32_t bitCount, uint32_t value, std::vector<uint32_t> palette) {
  DibSpec d;
  d.width = width;
  d.height = height;
  d.bitCount = bitCount;
  d.pixels.assign(static_cast<size_t>(width) * height, value);
  d.palette = std::move(palette);
  return d;
}

std::vector<uint8_t> MakeIco(const std::vector<IcoEntry>& entries, uint16_t type, std::optional<uint16_t> count) {
  std::vector<uint8_t> out;
  PutU16(out, 0);
  PutU16(out, type);
  PutU16(out, count.value_or(static_cast<uint16_t>(entries.size())));
  uint32_t offset = static_cast<uint32_t>(6 + 16 * entries.size());
  for (const IcoEntry& e : entries) {
    out.insert(out.end(), {16, 16, 0, 0});  // size and colour count bytes are not read
    PutU16(out, e.planesOrHotX);
    PutU16(out, e.bitsOrHotY);
    PutU32(out, e.size.value_or(static_cast<uint32_t>(e.data.size())));
    PutU32(out, e.offset.value_or(offset));
    offset += static_cast<uint32_t>(e.data.size());
  }
  for (const IcoEntry& e : entries) out.insert(out.end(), e.data.begin(), e.data.end());
  return out;
}

std::vector<uint8_t> PngBytes(const PngImage& png) {
  TMemoryStream s;
  PngWrite(s, png, 6);
  return std::vector<uint8_t>(s.Memory(), s.Memory() + s.Size());
}

PngImage RgbaPng(int32_t width, int32_t height, uint32_t (*pixel)(int32_t x, int32_t y)) {
  PngImage png;
  png.width = width;
  png.height = height;
  png.colorType = PngImage::kRGBA;
  png.bitDepth = 8;
  png.Allocate();
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x) {
      const uint32_t c = pixel(x, y);
      uint8_t* p = png.PixelPtr(x, y);
      p[0] = uint8_t(c >> 16), p[1] = uint8_t(c >> 8), p[2] = uint8_t(c), p[3] = uint8_t(c >> 24);
    }
  return png;
}

}  // namespace zan::test
