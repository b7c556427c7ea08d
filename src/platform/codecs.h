// Image codecs behind our own interfaces: JPEG (libjpeg-turbo), PNG (libpng),
// GIF (giflib) and BMP (ours). Every decoder reads one image from a stream at
// its position and raises zan::Exception on malformed input; none allocates
// more than the image's declared size allows (capped by kMaxPixels).
#pragma once

#include <cstdint>
#include <vector>

#include "platform/bitmap32.h"
#include "platform/stream.h"

namespace zan {

// ---- JPEG -------------------------------------------------------------------

struct JpegHeader {
  int32_t width = 0;
  int32_t height = 0;
  int32_t components = 0;
};

// Reads only the markers up to the frame header: no pixel data.
JpegHeader JpegReadHeader(TStream& stream);

// Decodes at 1/scale of full size (scale 1, 2, 4 or 8) into an opaque
// bitmap (alpha 255). The stream is left after the bytes the decoder used.
// *endedEarly (when given) tells whether the entropy-coded data ended before
// the image was complete; the missing part is then grey as the codec fills it.
Bitmap32 JpegDecode(TStream& stream, int scale, bool* endedEarly = nullptr);

// How JpegEncode stores the picture.
enum class JpegColor {
  YCbCr,      // the usual three components
  Grey,       // one luminance component
  Cmyk,       // four components of ink, no Adobe marker
  AdobeCmyk,  // four components, inverted as Adobe applications write them
  AdobeYcck,  // the same transformed to YCCK
};

// Encodes an opaque picture as a JPEG (quality 1..100; sequential or
// progressive), for tests, samples and benchmarks.
void JpegEncode(TStream& stream, const Bitmap32& image, int quality, JpegColor color = JpegColor::YCbCr,
                bool progressive = false);

// ---- PNG --------------------------------------------------------------------

struct PngColor {
  uint8_t r = 0, g = 0, b = 0;
  bool operator==(const PngColor&) const = default;
};

// Our in-memory PNG model: the header's colour type and bit depth, the
// palette and transparency, and the samples one per byte (palette indices,
// grey levels at the stored bit depth, or 8-bit channels). 16-bit images are
// reduced to 8 bits when read.
struct PngImage {
  static constexpr int kGrey = 0, kRGB = 2, kPalette = 3, kGreyAlpha = 4, kRGBA = 6;

  int32_t width = 0;
  int32_t height = 0;
  int colorType = kRGB;
  int bitDepth = 8;
  std::vector<PngColor> palette;      // colour type 3
  std::vector<uint8_t> paletteAlpha;  // tRNS of a palette image, may be shorter than the palette
  bool hasTransparentColor = false;   // tRNS of a grey or RGB image
  uint16_t transparentGrey = 0;       // at the stored bit depth
  PngColor transparentRgb;
  std::vector<uint8_t> samples;       // height x width x Channels() bytes

  int Channels() const;
  uint8_t* PixelPtr(int32_t x, int32_t y) {
    return samples.data() + (static_cast<size_t>(y) * width + x) * Channels();
  }
  const uint8_t* PixelPtr(int32_t x, int32_t y) const {
    return samples.data() + (static_cast<size_t>(y) * width + x) * Channels();
  }
  // Allocates the samples for the current size and colour type (zeroed).
  void Allocate();
};

PngImage PngRead(TStream& stream);
// Writes the image as a PNG file (compression level 0..9).
void PngWrite(TStream& stream, const PngImage& image, int level);

// ---- GIF --------------------------------------------------------------------

// The first frame drawn on a canvas of the logical screen size: painted
// pixels opaque, everything else (transparent index, outside the frame)
// transparent black. The bitmap has the blend draw mode.
Bitmap32 GifDecodeFirstFrame(TStream& stream);

// Writes a one-frame GIF of width x height palette indices; transparentIndex
// -1 for none. For tests and samples.
void GifEncode(TStream& stream, int32_t width, int32_t height, const std::vector<uint8_t>& indices,
               const std::vector<PngColor>& palette, int transparentIndex);

// ---- BMP --------------------------------------------------------------------

// A BMP file (core or info header; 1/4/8/16/24/32 bits; bit fields; RLE4
// and RLE8; top-down or bottom-up) into 32-bit pixels with the alpha bytes
// as stored (0 where the format has none).
Bitmap32 BmpDecode(TStream& stream);

// ---- Metafiles --------------------------------------------------------------

// Natural size of a placeable WMF or an EMF from its header; false when the
// header cannot be read.
bool MetafileSize(TStream& stream, int32_t& width, int32_t& height);
// Renders a metafile at its natural size; an empty bitmap when no renderer
// is available on this platform.
Bitmap32 MetafileRender(TStream& stream);

}  // namespace zan
