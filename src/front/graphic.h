// Decoded graphics of every kind the plain-image path reads, and their
// conversion to 32-bit bitmaps (and back to PNG images).
#pragma once

#include <cstdint>

#include "platform/bitmap32.h"
#include "platform/codecs.h"
#include "platform/stream.h"

namespace zan {

enum class GraphicKind { None, Bitmap, Jpeg, Icon, Gif, Png, Metafile };

// One decoded picture. Bitmap, JPEG, GIF and metafile graphics hold their
// pixels in `bitmap`; PNG graphics (and the image an icon chose) in `png`.
struct Graphic {
  GraphicKind kind = GraphicKind::None;
  Bitmap32 bitmap;
  PngImage png;

  int32_t Width() const;
  int32_t Height() const;
  bool Empty() const { return Width() == 0 || Height() == 0; }
};

// A new 32-bit bitmap of the graphic; see the conversions below for the
// alpha and draw mode each kind gets. Raises on failure.
Bitmap32 GraphicToBitmap32(const Graphic& graphic, bool resetAlpha);
// Pixels of a decoded bitmap: alpha reset to 255, or kept with the blend mode.
Bitmap32 BitmapToBitmap32(const Bitmap32& bitmap, bool resetAlpha);
Bitmap32 PngToBitmap32(const PngImage& png);

// A PNG image of the bitmap: RGBA when it has the blend draw mode, else RGB.
PngImage Bitmap32ToPng(const Bitmap32& bitmap);
void SaveBitmap32AsPng(const Bitmap32& bitmap, TStream& stream, int compressionLevel);

}  // namespace zan
