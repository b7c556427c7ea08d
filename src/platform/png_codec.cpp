// PNG through libpng. libpng reports errors by calling our error function,
// which must not return; it longjmps to the setjmp of a small function that
// holds no object with a destructor, and only that function's caller raises
// the C++ exception. The stream callbacks catch whatever the stream raises
// and report it through png_error, so no C++ exception crosses libpng.
#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/codecs.h"

namespace zan {

int PngImage::Channels() const {
  switch (colorType) {
    case kGrey:
    case kPalette:
      return 1;
    case kGreyAlpha:
      return 2;
    case kRGB:
      return 3;
    case kRGBA:
      return 4;
    default:
      return 0;
  }
}

void PngImage::Allocate() {
  CheckPixelLimit(width, height);
  samples.assign(static_cast<size_t>(width) * static_cast<size_t>(height) * static_cast<size_t>(Channels()), 0);
}

namespace {

// Largest side libpng accepts from a file, and the largest ancillary chunk it
// may allocate (text, ICC profiles, ...).
constexpr png_uint_32 kMaxSide = 1u << 24;
constexpr png_alloc_size_t kMaxChunkBytes = 8u << 20;
// A deflated row of 1-bit samples can describe at most about 8 x 1032 pixels
// per byte; beyond kFreePixels a picture must be backed by that much data.
constexpr int64_t kPixelsPerByte = 16384;

struct PngState {
  png_structp png = nullptr;
  png_infop info = nullptr;
  TStream* stream = nullptr;
  char message[256] = "";
};

void OnError(png_structp png, png_const_charp msg) {
  auto* st = static_cast<PngState*>(png_get_error_ptr(png));
  std::snprintf(st->message, sizeof st->message, "%s", msg ? msg : "PNG error");
  png_longjmp(png, 1);
}

void OnWarning(png_structp, png_const_charp) {}

void OnRead(png_structp png, png_bytep data, size_t length) {
  auto* st = static_cast<PngState*>(png_get_io_ptr(png));
  int64_t n = 0;
  bool failed = false;
  try {
    n = st->stream->Read(data, static_cast<int64_t>(length));
  } catch (...) {
    failed = true;
  }
  if (failed || n != static_cast<int64_t>(length)) png_error(png, "Read error: PNG data ends early");
}

void OnWrite(png_structp png, png_bytep data, size_t length) {
  auto* st = static_cast<PngState*>(png_get_io_ptr(png));
  bool failed = false;
  try {
    st->stream->WriteBuffer(data, static_cast<int64_t>(length));
  } catch (...) {
    failed = true;
  }
  if (failed) png_error(png, "Write error");
}

void OnFlush(png_structp) {}

[[noreturn]] void Raise(const PngState& st) {
  throw Exception(std::string("PNG error: ") + (st.message[0] ? st.message : "unknown"));
}

// What the header says, read before any sample is allocated.
struct PngHeader {
  png_uint_32 width, height;
  int bitDepth, colorType, interlace;
};

bool ReadInfoImpl(PngState& st, PngHeader& h) {
  if (setjmp(png_jmpbuf(st.png))) return false;
  png_set_user_limits(st.png, kMaxSide, kMaxSide);
  png_set_chunk_malloc_max(st.png, kMaxChunkBytes);
  png_set_chunk_cache_max(st.png, 1000);
  png_read_info(st.png, st.info);
  png_get_IHDR(st.png, st.info, &h.width, &h.height, &h.bitDepth, &h.colorType, &h.interlace, nullptr, nullptr);
  return true;
}

// Sets up the transformations and copies palette and transparency.
bool ReadTablesImpl(PngState& st, const PngHeader& h, PngImage& img) {
  if (setjmp(png_jmpbuf(st.png))) return false;
  png_structp png = st.png;
  png_infop info = st.info;
  if (h.bitDepth == 16) png_set_strip_16(png);
  if (h.bitDepth < 8) png_set_packing(png);  // one sample per byte, values unscaled
  png_set_interlace_handling(png);

  if (h.colorType == PNG_COLOR_TYPE_PALETTE) {
    png_colorp pal = nullptr;
    int count = 0;
    if (png_get_PLTE(png, info, &pal, &count) & PNG_INFO_PLTE) {
      img.palette.resize(static_cast<size_t>(count));
      for (int i = 0; i < count; ++i) img.palette[i] = PngColor{pal[i].red, pal[i].green, pal[i].blue};
    }
  }
  if (png_get_valid(png, info, PNG_INFO_tRNS)) {
    png_bytep alpha = nullptr;
    int count = 0;
    png_color_16p colour = nullptr;
    png_get_tRNS(png, info, &alpha, &count, &colour);
    const int shift = h.bitDepth == 16 ? 8 : 0;  // samples lose their low byte
    if (h.colorType == PNG_COLOR_TYPE_PALETTE) {
      if (alpha && count > 0) img.paletteAlpha.assign(alpha, alpha + count);
    } else if (colour && h.colorType == PNG_COLOR_TYPE_GRAY) {
      img.hasTransparentColor = true;
      img.transparentGrey = static_cast<uint16_t>(colour->gray >> shift);
    } else if (colour && h.colorType == PNG_COLOR_TYPE_RGB) {
      img.hasTransparentColor = true;
      img.transparentRgb = PngColor{static_cast<uint8_t>(colour->red >> shift),
                                    static_cast<uint8_t>(colour->green >> shift),
                                    static_cast<uint8_t>(colour->blue >> shift)};
    }
  }
  png_read_update_info(png, info);
  return true;
}

bool ReadRowsImpl(PngState& st, png_bytepp rows) {
  if (setjmp(png_jmpbuf(st.png))) return false;
  png_read_image(st.png, rows);
  return true;
}

bool ReadEndImpl(PngState& st) {
  if (setjmp(png_jmpbuf(st.png))) return false;
  png_read_end(st.png, nullptr);
  return true;
}

}  // namespace

PngImage PngRead(TStream& stream) {
  PngState st;
  st.stream = &stream;
  const int64_t sourceBytes = stream.Remaining();
  st.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &st, OnError, OnWarning);
  if (!st.png) throw EOutOfResources("PNG error: cannot create reader");
  struct Cleanup {
    PngState& s;
    ~Cleanup() { png_destroy_read_struct(&s.png, s.info ? &s.info : nullptr, nullptr); }
  } cleanup{st};
  st.info = png_create_info_struct(st.png);
  if (!st.info) throw EOutOfResources("PNG error: cannot create reader");
  png_set_read_fn(st.png, &st, OnRead);

  PngHeader h{};
  if (!ReadInfoImpl(st, h)) Raise(st);
  PngImage img;
  img.width = static_cast<int32_t>(h.width);
  img.height = static_cast<int32_t>(h.height);
  img.colorType = h.colorType;
  img.bitDepth = h.bitDepth == 16 ? 8 : h.bitDepth;
  CheckPixelBudget(img.width, img.height, sourceBytes, kPixelsPerByte);
  if (!ReadTablesImpl(st, h, img)) Raise(st);
  if (img.Channels() == 0 || png_get_rowbytes(st.png, st.info) != static_cast<size_t>(img.width) * img.Channels())
    throw Exception("PNG error: unexpected row layout");
  img.Allocate();
  std::vector<png_bytep> rows(static_cast<size_t>(img.height));
  for (int32_t y = 0; y < img.height; ++y) rows[y] = img.PixelPtr(0, y);
  if (!ReadRowsImpl(st, rows.data())) Raise(st);
  // The chunks after the image data matter only for where the stream ends;
  // a file that stops after its pixels is still a good picture.
  ReadEndImpl(st);
  return img;
}

namespace {

bool WriteImpl(PngState& st, const PngImage& image, int level, png_bytepp rows) {
  if (setjmp(png_jmpbuf(st.png))) return false;
  png_structp png = st.png;
  png_infop info = st.info;
  png_set_compression_level(png, level);
  png_set_IHDR(png, info, static_cast<png_uint_32>(image.width), static_cast<png_uint_32>(image.height),
               image.bitDepth, image.colorType, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  // Up to 256 entries; libpng keeps its own copies of palette and tRNS.
  png_color pal[256];
  if (image.colorType == PngImage::kPalette) {
    const size_t n = image.palette.size() < 256 ? image.palette.size() : 256;
    for (size_t i = 0; i < n; ++i) pal[i] = png_color{image.palette[i].r, image.palette[i].g, image.palette[i].b};
    png_set_PLTE(png, info, pal, static_cast<int>(n));
    if (!image.paletteAlpha.empty()) {
      png_byte alpha[256];
      const size_t na = image.paletteAlpha.size() < n ? image.paletteAlpha.size() : n;
      for (size_t i = 0; i < na; ++i) alpha[i] = image.paletteAlpha[i];
      png_set_tRNS(png, info, alpha, static_cast<int>(na), nullptr);
    }
  } else if (image.hasTransparentColor &&
             (image.colorType == PngImage::kGrey || image.colorType == PngImage::kRGB)) {
    png_color_16 c{};
    c.gray = image.transparentGrey;
    c.red = image.transparentRgb.r;
    c.green = image.transparentRgb.g;
    c.blue = image.transparentRgb.b;
    png_set_tRNS(png, info, nullptr, 0, &c);
  }
  png_write_info(png, info);
  if (image.bitDepth < 8) png_set_packing(png);  // our samples are one per byte
  png_write_image(png, rows);
  png_write_end(png, info);
  return true;
}

}  // namespace

void PngWrite(TStream& stream, const PngImage& image, int level) {
  const int ch = image.Channels();
  if (image.width <= 0 || image.height <= 0 || ch == 0) throw Exception("PNG error: invalid image");
  if (image.bitDepth != 1 && image.bitDepth != 2 && image.bitDepth != 4 && image.bitDepth != 8)
    throw Exception("PNG error: unsupported bit depth");
  CheckPixelLimit(image.width, image.height);
  if (image.samples.size() < static_cast<size_t>(image.width) * image.height * ch)
    throw Exception("PNG error: too few samples");
  if (level < 0) level = 0;
  if (level > 9) level = 9;

  PngState st;
  st.stream = &stream;
  st.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &st, OnError, OnWarning);
  if (!st.png) throw EOutOfResources("PNG error: cannot create writer");
  struct Cleanup {
    PngState& s;
    ~Cleanup() { png_destroy_write_struct(&s.png, s.info ? &s.info : nullptr); }
  } cleanup{st};
  st.info = png_create_info_struct(st.png);
  if (!st.info) throw EOutOfResources("PNG error: cannot create writer");
  png_set_write_fn(st.png, &st, OnWrite, OnFlush);

  std::vector<png_bytep> rows(static_cast<size_t>(image.height));
  for (int32_t y = 0; y < image.height; ++y) rows[y] = const_cast<png_bytep>(image.PixelPtr(0, y));
  if (!WriteImpl(st, image, level, rows.data())) Raise(st);
}

}  // namespace zan
