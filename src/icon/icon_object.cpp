// One image of an icon or cursor file: reading it (DIB or PNG), its pixels,
// and its conversions to and from our PNG image model.
#include <algorithm>
#include <cstring>
#include <string>

#include "icon/icon.h"
#include "meta/utils.h"

namespace zan {

namespace {

constexpr uint8_t kPngSignature[4] = {0x89, 'P', 'N', 'G'};

// Bytes an image object keeps besides its pixel rows (palette, fields).
constexpr int64_t kObjectOverhead = static_cast<int64_t>(sizeof(TzanIconObject));

bool ValidBitCount(int32_t bitCount) {
  switch (bitCount) {
    case 1:
    case 4:
    case 8:
    case 16:
    case 24:
    case 32:
      return true;
    default:
      return false;
  }
}

// Bytes of one DIB row, without the 32-bit limit of BitmapRowSize.
int64_t RowBytes(int64_t width, int64_t bitCount) { return ((width * bitCount + 31) / 32) * 4; }

// Memory kept for the rows of a width x height image at the bit count.
int64_t RowsMemory(int64_t width, int64_t height, int64_t bitCount) {
  return (RowBytes(width, bitCount) + RowBytes(width, 1)) * height;
}

uint8_t GreyLevel(uint32_t value, int bitDepth) {
  const uint32_t top = (1u << bitDepth) - 1;
  return static_cast<uint8_t>(top == 0 ? 0 : value * 255 / top);
}

uint8_t Red(uint32_t rgba) { return static_cast<uint8_t>(rgba); }
uint8_t Green(uint32_t rgba) { return static_cast<uint8_t>(rgba >> 8); }
uint8_t Blue(uint32_t rgba) { return static_cast<uint8_t>(rgba >> 16); }
uint8_t Alpha(uint32_t rgba) { return static_cast<uint8_t>(rgba >> 24); }

bool SameRgb(const TzanIconPaletteEntry& e, uint8_t r, uint8_t g, uint8_t b) {
  return e.red == r && e.green == g && e.blue == b;
}

// The first of the first `count` palette entries with that colour, else 0.
int FirstEqualEntry(const TzanIconPalette& palette, int count, uint8_t r, uint8_t g, uint8_t b) {
  for (int i = 0; i < count; ++i)
    if (SameRgb(palette[size_t(i)], r, g, b)) return i;
  return 0;
}

}  // namespace

TzanIconObject::TzanIconObject() { ++IconLiveCount().iconObjects; }

TzanIconObject::TzanIconObject(int32_t width, int32_t height, int32_t bitCount) {
  ++IconLiveCount().iconObjects;
  if (bitCount == 15) bitCount = 16;
  if (!ValidBitCount(bitCount)) {
    --IconLiveCount().iconObjects;  // the destructor does not run for a failed constructor
    throw Exception("Icon image: unsupported bit count " + std::to_string(bitCount));
  }
  try {
    Allocate(width, height, bitCount);
  } catch (...) {
    --IconLiveCount().iconObjects;
    throw;
  }
}

TzanIconObject::~TzanIconObject() { --IconLiveCount().iconObjects; }

void TzanIconObject::Allocate(int32_t width, int32_t height, int32_t bitCount) {
  if (width <= 0 || height <= 0) throw Exception("Icon image: invalid size");
  CheckPixelLimit(width, height);
  FWidth = width;
  FHeight = height;
  FBitCount = bitCount;
  FColorData.assign(static_cast<size_t>(BitmapRowSize(width, bitCount)) * static_cast<size_t>(height), 0);
  FMaskData.assign(static_cast<size_t>(BitmapRowSize(width, 1)) * static_cast<size_t>(height), 0);
}

void TzanIconObject::Clear() {
  FColorData = {};
  FMaskData = {};
  FPNGStream = {};
  FWidth = 0;
  FHeight = 0;
  FBitCount = 0;
}

bool TzanIconObject::Empty() const { return FWidth == 0 || FHeight == 0 || FColorData.empty(); }

int64_t TzanIconObject::MemorySize() const {
  return kObjectOverhead + static_cast<int64_t>(FColorData.size() + FMaskData.size() + FPNGStream.size());
}

// ---- Reading -----------------------------------------------------------------

void TzanIconObject::LoadFromStream(TStream& stream, int32_t index) {
  const int64_t start = stream.Position();
  uint8_t header[6];
  stream.ReadBuffer(header, sizeof header);
  FType = GetU16LE(header + 2) == 2 ? TzanIconType::itCursor : TzanIconType::itIcon;
  if (index < 0) throw Exception("Icon image: invalid index");
  stream.SetPosition(start + 6 + 16 * int64_t(index));
  LoadEntryFromStream(stream, start);
}

void TzanIconObject::LoadEntryFromStream(TStream& stream, int64_t fileStart, int64_t memoryLimit) {
  uint8_t entry[16];
  stream.ReadBuffer(entry, sizeof entry);
  if (FType == TzanIconType::itCursor) {
    FXHotSpot = GetU16LE(entry + 4);
    FYHotSpot = GetU16LE(entry + 6);
  }
  const int64_t dataPos = fileStart + GetU32LE(entry + 12);
  if (dataPos >= stream.Size()) throw EReadError("Icon image lies outside the file");
  stream.SetPosition(dataPos);
  LoadImageFromStream(stream, memoryLimit);
}

void TzanIconObject::LoadImageFromStream(TStream& stream, int64_t memoryLimit) {
  Clear();
  const int64_t start = stream.Position();
  uint8_t sig[4];
  stream.ReadBuffer(sig, sizeof sig);
  stream.SetPosition(start);

  if (std::memcmp(sig, kPngSignature, 4) == 0) {
    // Signature (8), chunk length (4), "IHDR", width, height: enough to
    // know what the decoded image would keep before decoding it.
    uint8_t head[24];
    stream.ReadBuffer(head, sizeof head);
    stream.SetPosition(start);
    if (std::memcmp(head + 12, "IHDR", 4) == 0) {
      const int64_t w = GetU32BE(head + 16), h = GetU32BE(head + 20);
      constexpr int64_t kMaxSide = int64_t(1) << 24;  // beyond it the decoder refuses anyway
      if (w > kMaxSide || h > kMaxSide || kObjectOverhead + RowsMemory(w, h, 32) > memoryLimit)
        throw EOutOfResources("Icon image: too large for the file");
    }
    const PngImage png = PngRead(stream);
    const int64_t end = stream.Position();
    AssignPNGObject(png);
    if (end > start) {
      FPNGStream.resize(static_cast<size_t>(end - start));
      stream.SetPosition(start);
      stream.ReadBuffer(FPNGStream.data(), end - start);
    }
    return;
  }

  // A DIB without file header. The header height counts colour and mask
  // rows together, so it must be even.
  uint8_t info[40];
  stream.ReadBuffer(info, sizeof info);
  const int32_t width = static_cast<int32_t>(GetU32LE(info + 4));
  const int32_t doubleHeight = static_cast<int32_t>(GetU32LE(info + 8));
  int32_t bitCount = GetU16LE(info + 14);
  if (bitCount == 15) bitCount = 16;
  if (!ValidBitCount(bitCount)) throw Exception("Icon image: unsupported bit count " + std::to_string(bitCount));
  if (width <= 0 || doubleHeight <= 0 || doubleHeight % 2 != 0) throw Exception("Icon image: invalid size");
  const int32_t height = doubleHeight / 2;

  // Everything the image needs must be in the stream before any of it is
  // allocated.
  const int64_t paletteBytes = 4 * int64_t(BitmapPaletteSize(bitCount));
  const int64_t rowPair = RowBytes(width, bitCount) + RowBytes(width, 1);
  const int64_t remaining = stream.Remaining() - paletteBytes;
  if (remaining < 0 || rowPair > remaining / height) throw EReadError("Icon image data ends early");
  if (kObjectOverhead + rowPair * height > memoryLimit) throw EOutOfResources("Icon image: too large for the file");

  Allocate(width, height, bitCount);
  uint8_t palette[4 * 256];
  stream.ReadBuffer(palette, paletteBytes);
  for (int64_t i = 0; i < paletteBytes / 4; ++i)
    FColorPalette[size_t(i)] =
        TzanIconPaletteEntry{palette[4 * i], palette[4 * i + 1], palette[4 * i + 2], palette[4 * i + 3]};
  stream.ReadBuffer(FColorData.data(), static_cast<int64_t>(FColorData.size()));
  stream.ReadBuffer(FMaskData.data(), static_cast<int64_t>(FMaskData.size()));
}

// ---- Pixels ------------------------------------------------------------------

uint32_t TzanIconObject::GetPixelColor(int32_t x, int32_t y) const {
  if (x < 0 || y < 0 || x >= FWidth || y >= FHeight || Empty()) return 0;
  const size_t row = static_cast<size_t>(FHeight - 1 - y);  // rows are stored bottom-up
  const uint8_t* mask = FMaskData.data() + row * static_cast<size_t>(BitmapRowSize(FWidth, 1));
  const uint8_t alpha = (mask[x / 8] >> (7 - x % 8)) & 1 ? 0 : 255;
  const uint8_t* color = FColorData.data() + row * static_cast<size_t>(BitmapRowSize(FWidth, FBitCount));
  switch (FBitCount) {
    case 1:
    case 4:
    case 8: {
      const int64_t bit = int64_t(x) * FBitCount;
      const int shift = 8 - FBitCount - static_cast<int>(bit % 8);
      const int index = (color[bit / 8] >> shift) & ((1 << FBitCount) - 1);
      const TzanIconPaletteEntry& e = FColorPalette[size_t(index)];
      return IconRgba(e.red, e.green, e.blue, alpha);
    }
    case 16: {
      const uint16_t w = GetU16LE(color + 2 * x);
      return IconRgba(static_cast<uint8_t>(((w >> 10) & 31) * 8), static_cast<uint8_t>(((w >> 5) & 31) * 8),
                      static_cast<uint8_t>((w & 31) * 8), alpha);
    }
    case 24: {
      const uint8_t* p = color + 3 * x;
      return IconRgba(p[2], p[1], p[0], alpha);
    }
    case 32: {
      const uint8_t* p = color + 4 * x;
      return IconRgba(p[2], p[1], p[0], p[3]);  // the alpha bytes override the mask
    }
    default:
      return IconRgba(0, 0, 0, alpha);
  }
}

void TzanIconObject::SetPixelColor(int32_t x, int32_t y, uint32_t rgba) {
  if (x < 0 || y < 0 || x >= FWidth || y >= FHeight || Empty()) return;
  const size_t row = static_cast<size_t>(FHeight - 1 - y);
  uint8_t* mask = FMaskData.data() + row * static_cast<size_t>(BitmapRowSize(FWidth, 1));
  const uint8_t maskBit = static_cast<uint8_t>(0x80 >> (x % 8));
  if (Alpha(rgba) == 0)
    mask[x / 8] |= maskBit;
  else
    mask[x / 8] &= static_cast<uint8_t>(~maskBit);
  uint8_t* color = FColorData.data() + row * static_cast<size_t>(BitmapRowSize(FWidth, FBitCount));
  switch (FBitCount) {
    case 1:
    case 4:
    case 8: {
      const int index = FirstEqualEntry(FColorPalette, 1 << FBitCount, Red(rgba), Green(rgba), Blue(rgba));
      const int64_t bit = int64_t(x) * FBitCount;
      const int shift = 8 - FBitCount - static_cast<int>(bit % 8);
      const int fieldMask = ((1 << FBitCount) - 1) << shift;
      uint8_t& b = color[bit / 8];
      b = static_cast<uint8_t>((b & ~fieldMask) | (index << shift));
      break;
    }
    case 16: {
      const uint16_t w = static_cast<uint16_t>(((Red(rgba) >> 3) << 10) | ((Green(rgba) >> 3) << 5) | (Blue(rgba) >> 3));
      color[2 * x] = static_cast<uint8_t>(w);
      color[2 * x + 1] = static_cast<uint8_t>(w >> 8);
      break;
    }
    case 24:
      color[3 * x] = Blue(rgba);
      color[3 * x + 1] = Green(rgba);
      color[3 * x + 2] = Red(rgba);
      break;
    case 32:
      color[4 * x] = Blue(rgba);
      color[4 * x + 1] = Green(rgba);
      color[4 * x + 2] = Red(rgba);
      color[4 * x + 3] = Alpha(rgba);
      break;
    default:
      break;
  }
}

bool TzanIconObject::Opaque() const {
  for (int32_t y = 0; y < FHeight; ++y)
    for (int32_t x = 0; x < FWidth; ++x)
      if (Alpha(GetPixelColor(x, y)) != 255) return false;
  return true;
}

// ---- PNG conversions -----------------------------------------------------------

PngImage TzanIconObject::CreatePNGObject() const {
  PngImage png;
  if (Empty()) {
    png.width = 0;
    png.height = 0;
    return png;
  }
  png.width = FWidth;
  png.height = FHeight;
  png.bitDepth = 8;
  const bool opaque = Opaque();
  if (!opaque)
    png.colorType = PngImage::kRGBA;
  else if (FBitCount <= 8)
    png.colorType = PngImage::kPalette;
  else
    png.colorType = PngImage::kRGB;
  png.Allocate();

  if (png.colorType == PngImage::kPalette) {
    // Same depth and palette; every pixel names the first entry of its
    // colour (a palette may hold a colour twice).
    const int count = 1 << FBitCount;
    png.bitDepth = FBitCount;
    png.palette.resize(size_t(count));
    uint8_t firstEqual[256];
    for (int i = 0; i < count; ++i) {
      const TzanIconPaletteEntry& e = FColorPalette[size_t(i)];
      png.palette[size_t(i)] = PngColor{e.red, e.green, e.blue};
      firstEqual[i] = static_cast<uint8_t>(FirstEqualEntry(FColorPalette, i + 1, e.red, e.green, e.blue));
    }
    const int32_t rowSize = BitmapRowSize(FWidth, FBitCount);
    for (int32_t y = 0; y < FHeight; ++y) {
      const uint8_t* color = FColorData.data() + static_cast<size_t>(FHeight - 1 - y) * static_cast<size_t>(rowSize);
      uint8_t* out = png.PixelPtr(0, y);
      for (int32_t x = 0; x < FWidth; ++x) {
        const int64_t bit = int64_t(x) * FBitCount;
        const int shift = 8 - FBitCount - static_cast<int>(bit % 8);
        out[x] = firstEqual[(color[bit / 8] >> shift) & (count - 1)];
      }
    }
    return png;
  }

  const bool alpha = png.colorType == PngImage::kRGBA;
  for (int32_t y = 0; y < FHeight; ++y)
    for (int32_t x = 0; x < FWidth; ++x) {
      const uint32_t c = GetPixelColor(x, y);
      uint8_t* p = png.PixelPtr(x, y);
      p[0] = Red(c);
      p[1] = Green(c);
      p[2] = Blue(c);
      if (alpha) p[3] = Alpha(c);
    }
  return png;
}

// The PNG's depths as this image keeps them: 2 bits as 4 (16 bits were
// already reduced to 8 by the decoder). Grey images get their grey levels as
// palette; palette images their own palette, entries beyond it black. A
// transparent pixel is stored black with its mask bit set; when black is not
// in the palette the image moves to a depth whose extra entries are black.
// Palette images whose transparency holds partial alpha keep it at 32 bits.
void TzanIconObject::AssignPNGObject(const PngImage& png) {
  Clear();
  if (png.width <= 0 || png.height <= 0) return;
  const int channels = png.Channels();
  if (channels == 0 || png.samples.size() < static_cast<size_t>(png.width) * png.height * channels)
    throw Exception("Icon image: invalid PNG image");
  const int ct = png.colorType;
  const int depth = png.bitDepth == 2 ? 4 : png.bitDepth == 16 ? 8 : png.bitDepth;

  TzanIconPalette palette{};
  // Which source palette indices are transparent (alpha 0), and their alpha.
  uint8_t indexAlpha[256];
  std::fill(std::begin(indexAlpha), std::end(indexAlpha), uint8_t(255));
  bool hasTransparent = false, partialAlpha = false;
  int32_t bitCount = 24;
  switch (ct) {
    case PngImage::kRGB:
      bitCount = 24;
      hasTransparent = png.hasTransparentColor;
      break;
    case PngImage::kRGBA:
    case PngImage::kGreyAlpha:
      bitCount = 32;
      break;
    case PngImage::kGrey:
    case PngImage::kPalette: {
      if (ct == PngImage::kGrey) {
        const int levels = 1 << std::min(png.bitDepth, 8);
        for (int i = 0; i < levels; ++i) {
          const uint8_t g = GreyLevel(uint32_t(i), std::min(png.bitDepth, 8));
          palette[size_t(i)] = TzanIconPaletteEntry{g, g, g, 0};
        }
        hasTransparent = png.hasTransparentColor;
      } else {
        const size_t n = std::min<size_t>(png.palette.size(), 256);
        for (size_t i = 0; i < n; ++i)
          palette[i] = TzanIconPaletteEntry{png.palette[i].b, png.palette[i].g, png.palette[i].r, 0};
        const size_t na = std::min<size_t>(png.paletteAlpha.size(), 256);
        for (size_t i = 0; i < na; ++i) {
          indexAlpha[i] = png.paletteAlpha[i];
          if (indexAlpha[i] == 0) hasTransparent = true;
          if (indexAlpha[i] != 0 && indexAlpha[i] != 255) partialAlpha = true;
        }
      }
      bitCount = depth;
      if (partialAlpha) {
        bitCount = 32;
      } else if (hasTransparent) {
        bool black = false;
        for (int i = 0; i < (1 << depth) && !black; ++i) black = SameRgb(palette[size_t(i)], 0, 0, 0);
        if (!black) bitCount = 2 * depth <= 4 ? 4 : 2 * depth <= 8 ? 8 : 24;
      }
      break;
    }
    default:
      throw Exception("Icon image: unsupported PNG colour type");
  }

  FColorPalette = palette;
  Allocate(png.width, png.height, bitCount);

  // Palette index to store for each source colour index (palette and grey
  // images at 1 to 8 bits); the transparent black has its own.
  const bool indexed = bitCount <= 8;
  const int entries = indexed ? 1 << bitCount : 0;
  uint8_t storeIndex[256] = {};
  uint8_t blackIndex = 0;
  if (indexed) {
    for (int i = 0; i < 256; ++i) {
      const TzanIconPaletteEntry& e = palette[size_t(i)];
      storeIndex[i] = static_cast<uint8_t>(FirstEqualEntry(palette, entries, e.red, e.green, e.blue));
    }
    blackIndex = static_cast<uint8_t>(FirstEqualEntry(palette, entries, 0, 0, 0));
  }
  const int32_t colorRow = BitmapRowSize(FWidth, FBitCount);
  const int32_t maskRow = BitmapRowSize(FWidth, 1);

  for (int32_t y = 0; y < png.height; ++y) {
    const size_t row = static_cast<size_t>(FHeight - 1 - y);
    uint8_t* color = FColorData.data() + row * static_cast<size_t>(colorRow);
    uint8_t* mask = FMaskData.data() + row * static_cast<size_t>(maskRow);
    for (int32_t x = 0; x < png.width; ++x) {
      const uint8_t* p = png.PixelPtr(x, y);
      uint8_t r = 0, g = 0, b = 0, a = 255;
      int sourceIndex = -1;
      switch (ct) {
        case PngImage::kRGBA:
          r = p[0], g = p[1], b = p[2], a = p[3];
          break;
        case PngImage::kGreyAlpha:
          r = g = b = GreyLevel(p[0], std::min(png.bitDepth, 8)), a = p[1];
          break;
        case PngImage::kRGB:
          r = p[0], g = p[1], b = p[2];
          if (hasTransparent && png.transparentRgb == PngColor{r, g, b}) a = 0;
          break;
        case PngImage::kGrey:
          sourceIndex = p[0];
          if (hasTransparent && p[0] == png.transparentGrey) a = 0;
          break;
        default:  // palette
          sourceIndex = p[0];
          a = indexAlpha[p[0]];
          break;
      }
      if (sourceIndex >= 0) {
        const TzanIconPaletteEntry& e = palette[size_t(sourceIndex)];
        r = e.red, g = e.green, b = e.blue;
      }
      if (a == 0 && ct != PngImage::kRGBA && ct != PngImage::kGreyAlpha && !partialAlpha) r = g = b = 0;
      if (a == 0) mask[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
      switch (bitCount) {
        case 32:
          color[4 * x] = b, color[4 * x + 1] = g, color[4 * x + 2] = r, color[4 * x + 3] = a;
          break;
        case 24:
          color[3 * x] = b, color[3 * x + 1] = g, color[3 * x + 2] = r;
          break;
        default: {
          const uint8_t index = a == 0 ? blackIndex : storeIndex[sourceIndex];
          const int64_t bit = int64_t(x) * bitCount;
          const int shift = 8 - bitCount - static_cast<int>(bit % 8);
          color[bit / 8] = static_cast<uint8_t>(color[bit / 8] | (index << shift));
          break;
        }
      }
    }
  }
}

}  // namespace zan
