// Writes the sample files of samples/: one small file per kind we read, all
// made here from drawn pictures so that the project owns every byte.
//   build/linux/zan_make_samples samples
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "meta/utils.h"
#include "platform/codecs.h"

namespace {

using zan::Bitmap32;
using zan::PngImage;
using zan::TMemoryStream;

// A sunset over hills: smooth gradients and a few hard edges.
Bitmap32 Landscape(int32_t w, int32_t h) {
  Bitmap32 b(w, h);
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) {
      const double fx = double(x) / w, fy = double(y) / h;
      const double hill = 0.65 + 0.08 * std::sin(fx * 9.0) + 0.05 * std::sin(fx * 23.0 + 1.0);
      const double sun = std::hypot(fx - 0.7, fy - 0.35);
      uint32_t r, g, bl;
      if (fy > hill) {
        r = uint32_t(30 + 40 * fy);
        g = uint32_t(90 + 80 * (1 - fy));
        bl = 40;
      } else if (sun < 0.08) {
        r = 255;
        g = 230;
        bl = 120;
      } else {
        r = uint32_t(255 * (0.4 + 0.6 * fy));
        g = uint32_t(120 + 90 * fy);
        bl = uint32_t(200 * (1 - fy) + 40);
      }
      b.SetPixel(x, y, 0xFF000000u | (std::min(r, 255u) << 16) | (std::min(g, 255u) << 8) | std::min(bl, 255u));
    }
  }
  return b;
}

void Save(const std::string& dir, const std::string& name, TMemoryStream& s) {
  std::ofstream(dir + "/" + name, std::ios::binary)
      .write(reinterpret_cast<const char*>(s.Memory()), static_cast<std::streamsize>(s.GetSize()));
  std::printf("%s/%s (%lld bytes)\n", dir.c_str(), name.c_str(), static_cast<long long>(s.GetSize()));
}

void Bmp(const std::string& dir) {
  const Bitmap32 pic = Landscape(200, 150);
  TMemoryStream s;
  zan::WriteBitmapHeaders(s, pic.Width(), pic.Height(), 24, false);
  std::vector<uint8_t> row(size_t(zan::BitmapRowSize(pic.Width(), 24)));
  for (int32_t y = pic.Height() - 1; y >= 0; --y) {
    for (int32_t x = 0; x < pic.Width(); ++x) {
      const uint32_t c = pic.Pixel(x, y);
      row[size_t(x) * 3] = uint8_t(c);
      row[size_t(x) * 3 + 1] = uint8_t(c >> 8);
      row[size_t(x) * 3 + 2] = uint8_t(c >> 16);
    }
    s.WriteBuffer(row.data(), int64_t(row.size()));
  }
  Save(dir, "landscape.bmp", s);
}

void Jpeg(const std::string& dir) {
  TMemoryStream s;
  zan::JpegEncode(s, Landscape(1600, 1200), 85);
  Save(dir, "landscape.jpg", s);
}

void PngAlpha(const std::string& dir) {
  // A soft-edged disc on a transparent background.
  PngImage png;
  png.width = png.height = 160;
  png.colorType = PngImage::kRGBA;
  png.Allocate();
  for (int32_t y = 0; y < 160; ++y)
    for (int32_t x = 0; x < 160; ++x) {
      const double d = std::hypot(x - 79.5, y - 79.5);
      uint8_t* p = png.PixelPtr(x, y);
      p[0] = uint8_t(40 + x);
      p[1] = uint8_t(200 - y);
      p[2] = 220;
      p[3] = uint8_t(std::clamp(255.0 * (70.0 - d) / 6.0, 0.0, 255.0));
    }
  TMemoryStream s;
  zan::PngWrite(s, png, 9);
  Save(dir, "disc-alpha.png", s);
}

void PngPalette(const std::string& dir) {
  // A 4-bit palette image whose index 0 is transparent.
  PngImage png;
  png.width = 96;
  png.height = 64;
  png.colorType = PngImage::kPalette;
  png.bitDepth = 4;
  for (int i = 0; i < 16; ++i) png.palette.push_back({uint8_t(i * 16), uint8_t(255 - i * 12), uint8_t(i * 7)});
  png.paletteAlpha = {0};
  png.Allocate();
  for (int32_t y = 0; y < png.height; ++y)
    for (int32_t x = 0; x < png.width; ++x)
      *png.PixelPtr(x, y) = ((x / 8 + y / 8) & 1) ? uint8_t(1 + (x + y) % 15) : 0;
  TMemoryStream s;
  zan::PngWrite(s, png, 9);
  Save(dir, "checker-trns.png", s);
}

void Gif(const std::string& dir) {
  // A ring with a transparent centre and corners.
  const int32_t w = 80, h = 80;
  std::vector<uint8_t> idx(size_t(w) * h);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      const double d = std::hypot(x - 39.5, y - 39.5);
      idx[size_t(y) * w + x] = (d > 20 && d < 36) ? uint8_t(1 + (x / 10) % 3) : 0;
    }
  TMemoryStream s;
  zan::GifEncode(s, w, h, idx, {{0, 0, 0}, {220, 40, 40}, {40, 160, 40}, {40, 40, 220}}, 0);
  Save(dir, "ring.gif", s);
}

// ---- containers with embedded previews ----------------------------------

class Bytes {
 public:
  void U8(uint32_t v) { b_.push_back(uint8_t(v)); }
  void U16LE(uint32_t v) { U8(v), U8(v >> 8); }
  void U32LE(uint32_t v) { U16LE(v & 0xFFFF), U16LE(v >> 16); }
  void U16BE(uint32_t v) { U8(v >> 8), U8(v); }
  void U32BE(uint32_t v) { U16BE(v >> 16), U16BE(v & 0xFFFF); }
  void Raw(const void* p, size_t n) {
    const auto* c = static_cast<const uint8_t*>(p);
    b_.insert(b_.end(), c, c + n);
  }
  void Raw(TMemoryStream& s) { Raw(s.Memory(), size_t(s.GetSize())); }
  void Text(const char* t) { Raw(t, std::strlen(t)); }
  size_t Size() const { return b_.size(); }
  void Put32LEAt(size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b_[at + size_t(i)] = uint8_t(v >> (8 * i));
  }
  void Save(const std::string& dir, const std::string& name) {
    TMemoryStream s;
    s.WriteBuffer(b_.data(), int64_t(b_.size()));
    ::Save(dir, name, s);
  }
  std::vector<uint8_t>& Data() { return b_; }

 private:
  std::vector<uint8_t> b_;
};

TMemoryStream JpegOf(const Bitmap32& picture, int quality) {
  TMemoryStream s;
  zan::JpegEncode(s, picture, quality);
  return s;
}

// A little-endian TIFF block: IFD0 empty but for its orientation, IFD1
// naming a JPEG thumbnail by tags 513/514.
std::vector<uint8_t> ExifTiff(TMemoryStream& thumb, uint32_t orientation) {
  Bytes t;
  t.Text("II");
  t.U16LE(42);
  t.U32LE(8);
  t.U16LE(1);  // IFD0: orientation
  t.U16LE(274), t.U16LE(3), t.U32LE(1), t.U32LE(orientation);
  t.U32LE(8 + 2 + 12 + 4);  // IFD1 follows
  const uint32_t ifd1 = 8 + 2 + 12 + 4;
  t.U16LE(2);
  const uint32_t data = ifd1 + 2 + 2 * 12 + 4;
  t.U16LE(513), t.U16LE(4), t.U32LE(1), t.U32LE(data);
  t.U16LE(514), t.U16LE(4), t.U32LE(1), t.U32LE(uint32_t(thumb.GetSize()));
  t.U32LE(0);
  t.Raw(thumb);
  return t.Data();
}

// A camera-style JPEG: a 3000x2000 picture with a 160x120 Exif thumbnail.
void CameraJpeg(const std::string& dir) {
  TMemoryStream thumb = JpegOf(Landscape(160, 120), 85);
  const std::vector<uint8_t> tiff = ExifTiff(thumb, 1);
  TMemoryStream main = JpegOf(Landscape(3000, 2000), 80);
  Bytes f;
  f.Raw(main.Memory(), 2);  // SOI
  f.U16BE(0xFFE1);
  f.U16BE(uint32_t(2 + 6 + tiff.size()));
  f.Raw("Exif\0\0", 6);
  f.Raw(tiff.data(), tiff.size());
  f.Raw(main.Memory() + 2, size_t(main.GetSize() - 2));
  f.Save(dir, "camera-exif.jpg");
}

// A TIFF file: a 300x200 RGB main image in one uncompressed strip (IFD0)
// and a 160x107 JPEG thumbnail (IFD1).
void Tiff(const std::string& dir) {
  const Bitmap32 pic = Landscape(300, 200);
  TMemoryStream thumb = JpegOf(Landscape(160, 107), 85);
  Bytes t;
  t.Text("II");
  t.U16LE(42);
  t.U32LE(8);
  const uint16_t n0 = 9;
  const uint32_t ifd0End = 8 + 2 + n0 * 12 + 4;
  const uint32_t bitsAt = ifd0End;  // three SHORTs
  const uint32_t ifd1 = bitsAt + 6;
  const uint32_t ifd1End = ifd1 + 2 + 2 * 12 + 4;
  const uint32_t thumbAt = ifd1End;
  const uint32_t stripAt = thumbAt + uint32_t(thumb.GetSize());
  const uint32_t stripBytes = 300 * 200 * 3;
  auto entry = [&](uint32_t tag, uint32_t type, uint32_t count, uint32_t value) {
    t.U16LE(tag), t.U16LE(type), t.U32LE(count), t.U32LE(value);
  };
  t.U16LE(n0);
  entry(256, 3, 1, 300);
  entry(257, 3, 1, 200);
  entry(258, 3, 3, bitsAt);
  entry(259, 3, 1, 1);
  entry(262, 3, 1, 2);
  entry(273, 4, 1, stripAt);
  entry(277, 3, 1, 3);
  entry(278, 3, 1, 200);
  entry(279, 4, 1, stripBytes);
  t.U32LE(ifd1);
  t.U16LE(8), t.U16LE(8), t.U16LE(8);
  t.U16LE(2);
  entry(513, 4, 1, thumbAt);
  entry(514, 4, 1, uint32_t(thumb.GetSize()));
  t.U32LE(0);
  t.Raw(thumb);
  for (int32_t y = 0; y < 200; ++y)
    for (int32_t x = 0; x < 300; ++x) {
      const uint32_t c = pic.Pixel(x, y);
      t.U8(c >> 16), t.U8(c >> 8), t.U8(c);
    }
  t.Save(dir, "two-images.tif");
}

// A Photoshop document: a 240x160 RGB image with a JPEG thumbnail resource.
void Psd(const std::string& dir) {
  const int32_t w = 240, h = 160;
  const Bitmap32 pic = Landscape(w, h);
  TMemoryStream thumb = JpegOf(Landscape(160, 107), 85);
  Bytes p;
  p.Text("8BPS");
  p.U16BE(1);
  p.Raw("\0\0\0\0\0\0", 6);
  p.U16BE(3), p.U32BE(h), p.U32BE(w), p.U16BE(8), p.U16BE(3);
  p.U32BE(0);  // no colour-mode data
  const size_t thumbBlock = 28 + size_t(thumb.GetSize());
  const size_t padded = thumbBlock + (thumbBlock & 1);
  p.U32BE(uint32_t(4 + 2 + 2 + 4 + padded));
  p.Text("8BIM");
  p.U16BE(1036);
  p.U16BE(0);  // empty name, padded
  p.U32BE(uint32_t(thumbBlock));
  p.U32BE(1);  // JPEG RGB
  p.U32BE(160), p.U32BE(107), p.U32BE(160 * 3), p.U32BE(160 * 3 * 107), p.U32BE(uint32_t(thumb.GetSize()));
  p.U16BE(24), p.U16BE(1);
  p.Raw(thumb);
  if (thumbBlock & 1) p.U8(0);
  p.U32BE(0);  // no layers
  p.U16BE(0);  // raw image data, planar
  for (int ch = 2; ch >= 0; --ch)
    for (int32_t y = 0; y < h; ++y)
      for (int32_t x = 0; x < w; ++x) p.U8(pic.Pixel(x, y) >> (8 * ch));
  p.Save(dir, "document.psd");
}

// An icon (16x16 and 48x48, 32 bits with alpha) or a cursor (32x32 with a
// hot spot): a disc of colour on a transparent ground.
void IconFile(const std::string& dir, const std::string& name, bool cursor, const std::vector<int32_t>& sizes) {
  Bytes f;
  f.U16LE(0), f.U16LE(cursor ? 2 : 1), f.U16LE(uint32_t(sizes.size()));
  std::vector<size_t> entryAt;
  for (int32_t s : sizes) {
    f.U8(uint32_t(s)), f.U8(uint32_t(s)), f.U8(0), f.U8(0);
    if (cursor) f.U16LE(uint32_t(s / 4)), f.U16LE(uint32_t(s / 4));  // hot spot
    else f.U16LE(1), f.U16LE(32);
    entryAt.push_back(f.Size());
    f.U32LE(0), f.U32LE(0);  // size and offset, filled in below
  }
  for (size_t i = 0; i < sizes.size(); ++i) {
    const int32_t s = sizes[i];
    const size_t start = f.Size();
    f.U32LE(40), f.U32LE(uint32_t(s)), f.U32LE(uint32_t(2 * s)), f.U16LE(1), f.U16LE(32);
    for (int k = 0; k < 6; ++k) f.U32LE(0);
    for (int32_t y = s - 1; y >= 0; --y)
      for (int32_t x = 0; x < s; ++x) {
        const double d = std::hypot(x - (s - 1) / 2.0, y - (s - 1) / 2.0) / (s / 2.0);
        const uint32_t a = uint32_t(std::clamp((1.0 - d) * 4.0, 0.0, 1.0) * 255);
        f.U8(200), f.U8(uint32_t(60 + 150 * x / s)), f.U8(uint32_t(220 - 150 * y / s)), f.U8(a);
      }
    const int32_t maskRow = ((s + 31) / 32) * 4;
    for (int32_t k = 0; k < maskRow * s; ++k) f.U8(0);
    f.Put32LEAt(entryAt[i], uint32_t(f.Size() - start));
    f.Put32LEAt(entryAt[i] + 4, uint32_t(start));
  }
  f.Save(dir, name);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string dir = argc > 1 ? argv[1] : "samples";
  try {
    Bmp(dir);
    Jpeg(dir);
    PngAlpha(dir);
    PngPalette(dir);
    Gif(dir);
    CameraJpeg(dir);
    Tiff(dir);
    Psd(dir);
    IconFile(dir, "disc.ico", false, {16, 48});
    IconFile(dir, "pointer.cur", true, {32});
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make_samples: %s\n", e.what());
    return 1;
  }
  return 0;
}
