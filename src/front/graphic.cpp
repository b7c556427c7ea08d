#include "front/graphic.h"

#include <algorithm>

namespace zan {

int32_t Graphic::Width() const {
  switch (kind) {
    case GraphicKind::Png:
    case GraphicKind::Icon:
      return png.width;
    case GraphicKind::None:
      return 0;
    default:
      return bitmap.Width();
  }
}

int32_t Graphic::Height() const {
  switch (kind) {
    case GraphicKind::Png:
    case GraphicKind::Icon:
      return png.height;
    case GraphicKind::None:
      return 0;
    default:
      return bitmap.Height();
  }
}

Bitmap32 BitmapToBitmap32(const Bitmap32& bitmap, bool resetAlpha) {
  Bitmap32 out = bitmap;
  if (resetAlpha) {
    out.ResetAlpha();
    out.SetDrawMode(DrawMode::Opaque);
  } else {
    out.SetDrawMode(DrawMode::Blend);
  }
  return out;
}

namespace {

inline uint32_t Argb(uint8_t a, uint8_t r, uint8_t g, uint8_t b) {
  return (uint32_t(a) << 24) | (uint32_t(r) << 16) | (uint32_t(g) << 8) | uint32_t(b);
}

// Grey level of a sample stored at the given bit depth, as 8 bits.
inline uint8_t GreyLevel(uint8_t v, int bitDepth) {
  switch (bitDepth) {
    case 1:
      return v ? 255 : 0;
    case 2:
      return static_cast<uint8_t>(v * 85);
    case 4:
      return static_cast<uint8_t>(v * 17);
    default:
      return v;
  }
}

}  // namespace

Bitmap32 PngToBitmap32(const PngImage& png) {
  Bitmap32 out(png.width, png.height);
  const int ct = png.colorType;
  if (ct == PngImage::kGreyAlpha || ct == PngImage::kRGBA) {
    out.SetDrawMode(DrawMode::Blend);
    for (int32_t y = 0; y < png.height; ++y) {
      uint32_t* row = out.Row(y);
      for (int32_t x = 0; x < png.width; ++x) {
        const uint8_t* p = png.PixelPtr(x, y);
        row[x] = ct == PngImage::kRGBA ? Argb(p[3], p[0], p[1], p[2]) : Argb(p[1], p[0], p[0], p[0]);
      }
    }
    return out;
  }

  if (ct == PngImage::kPalette) {
    // Per-index alpha from the transparency chunk. When every entry is fully
    // opaque or fully transparent this is the single-transparent-colour case;
    // partial alpha is kept and the bitmap blends.
    uint32_t lut[256];
    bool anyTransparent = false, anyPartial = false;
    for (int i = 0; i < 256; ++i) {
      const PngColor c = i < static_cast<int>(png.palette.size()) ? png.palette[size_t(i)] : PngColor{};
      const uint8_t a = i < static_cast<int>(png.paletteAlpha.size()) ? png.paletteAlpha[size_t(i)] : 255;
      if (a == 0) {
        anyTransparent = true;
        lut[i] = 0;
      } else {
        if (a != 255) anyPartial = true;
        lut[i] = Argb(a, c.r, c.g, c.b);
      }
    }
    out.SetDrawMode(anyPartial ? DrawMode::Blend : anyTransparent ? DrawMode::Transparent : DrawMode::Opaque);
    for (int32_t y = 0; y < png.height; ++y) {
      uint32_t* row = out.Row(y);
      const uint8_t* p = png.PixelPtr(0, y);
      for (int32_t x = 0; x < png.width; ++x) row[x] = lut[p[x]];
    }
    return out;
  }

  for (int32_t y = 0; y < png.height; ++y) {
    uint32_t* row = out.Row(y);
    for (int32_t x = 0; x < png.width; ++x) {
      const uint8_t* p = png.PixelPtr(x, y);
      bool transparent = false;
      uint32_t c;
      if (ct == PngImage::kGrey) {
        transparent = png.hasTransparentColor && p[0] == png.transparentGrey;
        const uint8_t g = GreyLevel(p[0], png.bitDepth);
        c = Argb(255, g, g, g);
      } else {
        transparent = png.hasTransparentColor && p[0] == png.transparentRgb.r && p[1] == png.transparentRgb.g &&
                      p[2] == png.transparentRgb.b;
        c = Argb(255, p[0], p[1], p[2]);
      }
      if (transparent) c = 0;
      row[x] = c;
    }
  }
  out.SetDrawMode(png.hasTransparentColor ? DrawMode::Transparent : DrawMode::Opaque);
  return out;
}

Bitmap32 GraphicToBitmap32(const Graphic& graphic, bool resetAlpha) {
  switch (graphic.kind) {
    case GraphicKind::Bitmap:
      return BitmapToBitmap32(graphic.bitmap, resetAlpha);
    case GraphicKind::Jpeg:
      return BitmapToBitmap32(graphic.bitmap, true);
    case GraphicKind::Png:
    case GraphicKind::Icon:
      return PngToBitmap32(graphic.png);
    case GraphicKind::Gif: {
      Bitmap32 out = graphic.bitmap;
      out.SetDrawMode(DrawMode::Blend);
      return out;
    }
    case GraphicKind::Metafile: {
      // What the drawing did not touch has alpha 0. Blending keeps it out of
      // the result: transparent for hosts that take alpha, white for the
      // others (an opaque copy would paint it black there).
      Bitmap32 out = graphic.bitmap;
      out.SetDrawMode(DrawMode::Blend);
      return out;
    }
    case GraphicKind::None:
      break;
  }
  return Bitmap32();
}

PngImage Bitmap32ToPng(const Bitmap32& bitmap) {
  PngImage png;
  png.width = bitmap.Width();
  png.height = bitmap.Height();
  png.bitDepth = 8;
  const bool alpha = bitmap.GetDrawMode() == DrawMode::Blend;
  png.colorType = alpha ? PngImage::kRGBA : PngImage::kRGB;
  png.Allocate();
  for (int32_t y = 0; y < png.height; ++y) {
    const uint32_t* row = bitmap.Row(y);
    for (int32_t x = 0; x < png.width; ++x) {
      uint8_t* p = png.PixelPtr(x, y);
      const uint32_t c = row[x];
      p[0] = static_cast<uint8_t>(c >> 16);
      p[1] = static_cast<uint8_t>(c >> 8);
      p[2] = static_cast<uint8_t>(c);
      if (alpha) p[3] = static_cast<uint8_t>(c >> 24);
    }
  }
  return png;
}

void SaveBitmap32AsPng(const Bitmap32& bitmap, TStream& stream, int compressionLevel) {
  PngWrite(stream, Bitmap32ToPng(bitmap), std::clamp(compressionLevel, 0, 9));
}

}  // namespace zan
