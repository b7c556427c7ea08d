// GIF through giflib 5: the first frame only, read record by record so that
// nothing after the first image is touched. giflib reports errors by return
// code, so the stream callbacks only have to keep exceptions inside.
#include <gif_lib.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/codecs.h"

namespace zan {

namespace {

// LZW packs at most a few thousand pixels into a byte; beyond kFreePixels the
// canvas must be backed by data in that proportion.
constexpr int64_t kPixelsPerByte = 4096;

int ReadFn(GifFileType* gif, GifByteType* buf, int len) {
  auto* stream = static_cast<TStream*>(gif->UserData);
  if (len <= 0) return 0;
  try {
    return static_cast<int>(stream->Read(buf, len));
  } catch (...) {
    return 0;  // giflib sees a short read and fails the call
  }
}

int WriteFn(GifFileType* gif, const GifByteType* buf, int len) {
  auto* stream = static_cast<TStream*>(gif->UserData);
  if (len <= 0) return 0;
  try {
    return static_cast<int>(stream->Write(buf, len));
  } catch (...) {
    return 0;
  }
}

[[noreturn]] void Raise(const char* what, int code) {
  const char* detail = GifErrorString(code);
  throw Exception(std::string("GIF error: ") + what + (detail ? std::string(" (") + detail + ")" : std::string()));
}

struct DecoderHolder {
  GifFileType* gif = nullptr;
  ~DecoderHolder() {
    if (gif) {
      int err = 0;
      DGifCloseFile(gif, &err);
    }
  }
};

}  // namespace

Bitmap32 GifDecodeFirstFrame(TStream& stream) {
  const int64_t sourceBytes = stream.Remaining();
  int err = 0;
  DecoderHolder h;
  h.gif = DGifOpen(&stream, ReadFn, &err);
  if (!h.gif) Raise("cannot read the header", err);
  GifFileType* gif = h.gif;

  int transparent = -1;  // from the graphic control extension before the image
  for (;;) {
    GifRecordType type = UNDEFINED_RECORD_TYPE;
    if (DGifGetRecordType(gif, &type) == GIF_ERROR) Raise("cannot read a record", gif->Error);
    if (type == TERMINATE_RECORD_TYPE) throw Exception("GIF error: no image");
    if (type == EXTENSION_RECORD_TYPE) {
      int code = 0;
      GifByteType* ext = nullptr;
      if (DGifGetExtension(gif, &code, &ext) == GIF_ERROR) Raise("cannot read an extension", gif->Error);
      if (code == GRAPHICS_EXT_FUNC_CODE && ext && ext[0] == 4) {
        GraphicsControlBlock gcb{};
        if (DGifExtensionToGCB(ext[0], ext + 1, &gcb) == GIF_OK) transparent = gcb.TransparentColor;
      }
      while (ext) {
        if (DGifGetExtensionNext(gif, &ext) == GIF_ERROR) Raise("cannot read an extension", gif->Error);
      }
      continue;
    }
    if (type != IMAGE_DESC_RECORD_TYPE) continue;

    if (DGifGetImageDesc(gif) == GIF_ERROR) Raise("cannot read the image descriptor", gif->Error);
    const GifImageDesc& d = gif->Image;
    const ColorMapObject* map = d.ColorMap ? d.ColorMap : gif->SColorMap;
    if (!map || !map->Colors || map->ColorCount <= 0) throw Exception("GIF error: no colour map");
    if (d.Width <= 0 || d.Height <= 0) throw Exception("GIF error: empty image");

    // The canvas is the logical screen; a screen too small for the frame
    // gives way to the frame, which then sits at the origin.
    int32_t cw = gif->SWidth, ch = gif->SHeight, left = d.Left, top = d.Top;
    if (cw <= 0 || ch <= 0 || cw < d.Width || ch < d.Height) {
      cw = d.Width;
      ch = d.Height;
      left = 0;
      top = 0;
    }
    CheckPixelBudget(cw, ch, sourceBytes, kPixelsPerByte);

    // Colours as opaque pixels; the transparent index and indices beyond the
    // map stay transparent black.
    uint32_t colours[256] = {};
    const int count = std::min(map->ColorCount, 256);
    for (int i = 0; i < count; ++i) {
      const GifColorType& c = map->Colors[i];
      colours[i] = 0xFF000000u | (uint32_t(c.Red) << 16) | (uint32_t(c.Green) << 8) | c.Blue;
    }
    if (transparent >= 0 && transparent < 256) colours[transparent] = 0;

    Bitmap32 out(cw, ch);
    out.SetDrawMode(DrawMode::Blend);
    std::vector<GifPixelType> line(static_cast<size_t>(d.Width));
    // Row order: straight, or the four interlace passes.
    static const int kStart[4] = {0, 4, 2, 1}, kStep[4] = {8, 8, 4, 2};
    const int passes = d.Interlace ? 4 : 1;
    int rowsRead = 0;
    bool stop = false;
    for (int p = 0; p < passes && !stop; ++p) {
      const int start = d.Interlace ? kStart[p] : 0, step = d.Interlace ? kStep[p] : 1;
      for (int r = start; r < d.Height; r += step) {
        if (DGifGetLine(gif, line.data(), d.Width) == GIF_ERROR) {
          // A cut-off file keeps the rows it has; one without any raises.
          if (rowsRead == 0) Raise("cannot read the image data", gif->Error);
          stop = true;
          break;
        }
        ++rowsRead;
        const int64_t y = int64_t(top) + r;
        if (y < 0 || y >= ch) continue;
        uint32_t* row = out.Row(static_cast<int32_t>(y));
        const int64_t x0 = std::max<int64_t>(0, -int64_t(left));
        const int64_t x1 = std::min<int64_t>(d.Width, int64_t(cw) - left);
        for (int64_t x = x0; x < x1; ++x) row[left + x] = colours[line[static_cast<size_t>(x)]];
      }
    }
    return out;
  }
}

void GifEncode(TStream& stream, int32_t width, int32_t height, const std::vector<uint8_t>& indices,
               const std::vector<PngColor>& palette, int transparentIndex) {
  if (width <= 0 || height <= 0 || width > 65535 || height > 65535) throw Exception("GIF error: invalid size");
  if (indices.size() < static_cast<size_t>(width) * height) throw Exception("GIF error: too few pixels");
  if (palette.empty() || palette.size() > 256) throw Exception("GIF error: invalid palette");
  // giflib wants a power of two of at least 2 colours.
  int mapSize = 2;
  while (mapSize < static_cast<int>(palette.size())) mapSize *= 2;
  std::vector<GifColorType> colours(static_cast<size_t>(mapSize), GifColorType{0, 0, 0});
  for (size_t i = 0; i < palette.size(); ++i) colours[i] = GifColorType{palette[i].r, palette[i].g, palette[i].b};
  ColorMapObject* map = GifMakeMapObject(mapSize, colours.data());
  if (!map) throw EOutOfResources("GIF error: out of memory");

  int err = 0;
  GifFileType* gif = EGifOpen(&stream, WriteFn, &err);
  if (!gif) {
    GifFreeMapObject(map);
    Raise("cannot start writing", err);
  }
  bool ok = true;
  EGifSetGifVersion(gif, true);
  ok = ok && EGifPutScreenDesc(gif, width, height, GifBitSize(mapSize), 0, map) == GIF_OK;
  if (ok && transparentIndex >= 0) {
    GraphicsControlBlock gcb{};
    gcb.DisposalMode = DISPOSAL_UNSPECIFIED;
    gcb.DelayTime = 0;
    gcb.TransparentColor = transparentIndex;
    GifByteType ext[4];
    const size_t n = EGifGCBToExtension(&gcb, ext);
    ok = EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, static_cast<int>(n), ext) == GIF_OK;
  }
  ok = ok && EGifPutImageDesc(gif, 0, 0, width, height, false, nullptr) == GIF_OK;
  for (int32_t y = 0; ok && y < height; ++y) {
    auto* row = const_cast<GifPixelType*>(indices.data() + static_cast<size_t>(y) * width);
    ok = EGifPutLine(gif, row, width) == GIF_OK;
  }
  const int code = gif->Error;
  const bool closed = EGifCloseFile(gif, &err) == GIF_OK;
  GifFreeMapObject(map);
  if (!ok) Raise("cannot write", code);
  if (!closed) Raise("cannot write", err);
}

}  // namespace zan
