// zan_make_inputs: writes the extra inputs of the parity test into a folder:
// kinds the committed samples do not cover (metafiles, more BMP and PNG
// layouts). Each is drawn here, so the project owns every byte.
//   zan_make_inputs OUTDIR
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/codecs.h"
#include "platform/stream.h"

namespace {

using Bytes = std::vector<uint8_t>;

void U8(Bytes& b, uint32_t v) { b.push_back(static_cast<uint8_t>(v)); }
void U16(Bytes& b, uint32_t v) {
  U8(b, v);
  U8(b, v >> 8);
}
void U32(Bytes& b, uint32_t v) {
  U16(b, v);
  U16(b, v >> 16);
}
void Put32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

bool Save(const std::string& dir, const std::string& name, const Bytes& bytes) {
  const std::string path = dir + "\\" + name;
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

// A placeable WMF, 192 x 96 pixels at 96 dpi (1440 units per inch): a red
// rectangle and a blue ellipse with the corners left untouched.
Bytes Wmf() {
  Bytes r;  // the records after the 18-byte metafile header
  auto record = [&](uint16_t function, std::vector<uint16_t> params) {
    U32(r, 3 + uint32_t(params.size()));
    U16(r, function);
    for (uint16_t p : params) U16(r, p);
  };
  record(0x020B, {0, 0});        // SetWindowOrg (y, x)
  record(0x020C, {1440, 2880});  // SetWindowExt (y, x)
  record(0x02FA, {5, 0, 0, 0, 0});                  // CreatePenIndirect: PS_NULL
  record(0x012D, {0});                              // SelectObject 0
  record(0x02FC, {0, 0x00FF & 0xD0, 0x0020, 0});    // CreateBrushIndirect: solid, RGB(0xD0, 0, 0x20)
  record(0x012D, {1});                              // SelectObject 1
  record(0x041B, {1300, 1400, 140, 140});           // Rectangle (bottom, right, top, left)
  record(0x01F0, {1});                              // DeleteObject 1
  record(0x02FC, {0, 0x4000, 0x00E0, 0});           // CreateBrushIndirect: solid, RGB(0, 0x40, 0xE0)
  record(0x012D, {1});                              // SelectObject 1
  record(0x0418, {1400, 2800, 40, 1500});           // Ellipse (bottom, right, top, left)
  record(0x0000, {});                               // EOF
  Bytes b;
  U32(b, 0x9AC6CDD7);  // placeable key
  U16(b, 0);           // handle
  U16(b, 0);
  U16(b, 0);
  U16(b, 2880);
  U16(b, 1440);        // bounding box
  U16(b, 1440);        // units per inch
  U32(b, 0);           // reserved
  uint16_t sum = 0;
  for (size_t i = 0; i < 20; i += 2) sum ^= static_cast<uint16_t>(b[i] | (b[i + 1] << 8));
  U16(b, sum);
  // The metafile header: memory metafile, 9 words, version 3.0.
  U16(b, 1);
  U16(b, 9);
  U16(b, 0x0300);
  U32(b, uint32_t((18 + r.size()) / 2));
  U16(b, 2);   // objects
  U32(b, 8);   // largest record in words
  U16(b, 0);
  b.insert(b.end(), r.begin(), r.end());
  return b;
}

// An EMF, 160 x 120 pixels: a green ellipse and an orange rectangle.
Bytes Emf() {
  Bytes b;
  U32(b, 1);   // EMR_HEADER
  U32(b, 88);
  for (uint32_t v : {0u, 0u, 159u, 119u}) U32(b, v);        // bounds, device pixels, inclusive
  for (uint32_t v : {0u, 0u, 4233u, 3175u}) U32(b, v);      // frame, .01 mm, inclusive
  U32(b, 0x464D4520);  // " EMF"
  U32(b, 0x10000);
  U32(b, 0);           // total bytes, set below
  U32(b, 0);           // records, set below
  U16(b, 2);           // handles
  U16(b, 0);
  U32(b, 0);
  U32(b, 0);
  U32(b, 0);
  U32(b, 1024);        // reference device: 1024 x 768 pixels,
  U32(b, 768);
  U32(b, 271);         // 271 x 203 mm (96 dpi)
  U32(b, 203);
  uint32_t records = 1;
  auto record = [&](uint32_t type, std::vector<uint32_t> params) {
    U32(b, type);
    U32(b, 8 + 4 * uint32_t(params.size()));
    for (uint32_t p : params) U32(b, p);
    ++records;
  };
  record(37, {0x80000008u});               // SelectObject NULL_PEN
  record(39, {1, 0, 0x0030B040u, 0});      // CreateBrushIndirect 1: solid RGB(0x40, 0xB0, 0x30)
  record(37, {1});                         // SelectObject 1
  record(42, {10, 10, 100, 110});          // Ellipse
  record(40, {1});                         // DeleteObject 1
  record(39, {1, 0, 0x000080FFu, 0});      // CreateBrushIndirect 1: solid RGB(0xFF, 0x80, 0)
  record(37, {1});
  record(43, {90, 40, 150, 100});          // Rectangle
  record(14, {0, 16, 20});                 // EOF
  Put32(b, 48, uint32_t(b.size()));
  Put32(b, 52, records);
  return b;
}

// BMP file and info headers (40 bytes), bottom-up rows.
Bytes BmpHeaders(int32_t w, int32_t h, uint16_t bits, uint32_t compression, uint32_t colors, uint32_t imageSize) {
  Bytes b;
  const uint32_t offset = 14 + 40 + colors * 4;
  U16(b, 0x4D42);
  U32(b, offset + imageSize);
  U32(b, 0);
  U32(b, offset);
  U32(b, 40);
  U32(b, uint32_t(w));
  U32(b, uint32_t(h));
  U16(b, 1);
  U16(b, bits);
  U32(b, compression);
  U32(b, imageSize);
  U32(b, 3780);
  U32(b, 3780);
  U32(b, colors);
  U32(b, 0);
  return b;
}

uint8_t Wave(int x, int y) { return static_cast<uint8_t>(128 + 127 * std::sin(x * 0.11) * std::cos(y * 0.07)); }

Bytes Bmp8() {
  const int w = 150, h = 90, stride = (w + 3) & ~3;
  Bytes b = BmpHeaders(w, h, 8, 0, 256, uint32_t(stride * h));
  for (int i = 0; i < 256; ++i) {
    U8(b, 255 - i);
    U8(b, i / 2);
    U8(b, i);
    U8(b, 0);
  }
  for (int y = h - 1; y >= 0; --y)
    for (int x = 0; x < stride; ++x) U8(b, x < w ? Wave(x, y) : 0);
  return b;
}

// 32 bits per pixel whose alpha bytes are all 0: drawn opaque all the same.
Bytes Bmp32ZeroAlpha() {
  const int w = 120, h = 80;
  Bytes b = BmpHeaders(w, h, 32, 0, 0, uint32_t(w * h * 4));
  for (int y = h - 1; y >= 0; --y)
    for (int x = 0; x < w; ++x) {
      U8(b, Wave(x, y));
      U8(b, uint8_t(x * 2));
      U8(b, uint8_t(y * 3));
      U8(b, 0);
    }
  return b;
}

// RLE8: runs of palette indices, one end-of-line per row.
Bytes BmpRle8() {
  const int w = 96, h = 64;
  Bytes data;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; x += 16) {
      U8(data, 16);
      U8(data, uint8_t(((x / 16) + y / 8) % 4));
    }
    U8(data, 0);
    U8(data, 0);
  }
  U8(data, 0);
  U8(data, 1);
  Bytes b = BmpHeaders(w, h, 8, 1, 4, uint32_t(data.size()));
  const uint8_t palette[4][3] = {{20, 20, 200}, {30, 200, 30}, {220, 60, 10}, {240, 240, 240}};
  for (const auto& c : palette) {
    U8(b, c[0]);
    U8(b, c[1]);
    U8(b, c[2]);
    U8(b, 0);
  }
  b.insert(b.end(), data.begin(), data.end());
  return b;
}

Bytes Png(const zan::PngImage& image) {
  zan::TMemoryStream s;
  zan::PngWrite(s, image, 6);
  return Bytes(s.Memory(), s.Memory() + s.Size());
}

Bytes PngGrey4() {
  zan::PngImage p;
  p.width = 100;
  p.height = 70;
  p.colorType = zan::PngImage::kGrey;
  p.bitDepth = 4;
  p.Allocate();
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x) *p.PixelPtr(x, y) = uint8_t(Wave(x, y) >> 4);
  return Png(p);
}

// A palette with partial alpha in its transparency chunk.
Bytes PngPaletteAlpha() {
  zan::PngImage p;
  p.width = 90;
  p.height = 90;
  p.colorType = zan::PngImage::kPalette;
  p.bitDepth = 8;
  for (int i = 0; i < 16; ++i) {
    p.palette.push_back({uint8_t(i * 16), uint8_t(255 - i * 16), 128});
    p.paletteAlpha.push_back(uint8_t(i * 17));
  }
  p.Allocate();
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x) *p.PixelPtr(x, y) = uint8_t((x / 6 + y / 6) % 16);
  return Png(p);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: zan_make_inputs OUTDIR\n", stderr);
    return 2;
  }
  const std::string dir = argv[1];
  const std::pair<const char*, Bytes> files[] = {
      {"shapes.wmf", Wmf()},          {"shapes.emf", Emf()},
      {"wave-8bit.bmp", Bmp8()},      {"wave-32bit-zero-alpha.bmp", Bmp32ZeroAlpha()},
      {"bands-rle8.bmp", BmpRle8()},  {"wave-grey4.png", PngGrey4()},
      {"tiles-palette-alpha.png", PngPaletteAlpha()},
  };
  for (const auto& [name, bytes] : files) {
    if (!Save(dir, name, bytes)) {
      std::fprintf(stderr, "zan_make_inputs: cannot write %s\\%s\n", dir.c_str(), name);
      return 2;
    }
  }
  return 0;
}
