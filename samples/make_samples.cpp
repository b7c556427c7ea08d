// Writes the sample files of samples/: one small file per kind we read, all
// made here from drawn pictures so that the project owns every byte.
//   build/linux/zan_make_samples samples
#include <algorithm>
#include <cmath>
#include <cstdio>
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

}  // namespace

int main(int argc, char** argv) {
  const std::string dir = argc > 1 ? argv[1] : "samples";
  try {
    Bmp(dir);
    Jpeg(dir);
    PngAlpha(dir);
    PngPalette(dir);
    Gif(dir);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make_samples: %s\n", e.what());
    return 1;
  }
  return 0;
}
