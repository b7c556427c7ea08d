#include "front/decode.h"

#include <cstring>

#include "front/hooks.h"
#include "front/render.h"

namespace zan {

FrontHooks& Hooks() {
  static FrontHooks hooks;
  return hooks;
}

GraphicKind GetGraphicClass(TStream& stream) {
  PositionGuard guard(stream);
  uint8_t b[4];
  stream.ReadBuffer(b, 4);
  if (b[0] == 0x42 && b[1] == 0x4D) return GraphicKind::Bitmap;
  if (b[0] == 0xFF && b[1] == 0xD8 && b[2] == 0xFF) return GraphicKind::Jpeg;
  static const uint8_t kIcon[4] = {0, 0, 1, 0}, kCursor[4] = {0, 0, 2, 0}, kGif[4] = {'G', 'I', 'F', '8'},
                       kPng[4] = {0x89, 'P', 'N', 'G'}, kWmf[4] = {0xD7, 0xCD, 0xC6, 0x9A};
  if (std::memcmp(b, kIcon, 4) == 0 || std::memcmp(b, kCursor, 4) == 0) return GraphicKind::Icon;
  if (std::memcmp(b, kGif, 4) == 0) return GraphicKind::Gif;
  if (std::memcmp(b, kPng, 4) == 0) return GraphicKind::Png;
  if (std::memcmp(b, kWmf, 4) == 0) return GraphicKind::Metafile;
  // An enhanced metafile carries " EMF" at offset 40 of its header.
  stream.SetPosition(guard.Saved() + 40);
  uint8_t e[4];
  if (stream.Read(e, 4) == 4 && std::memcmp(e, " EMF", 4) == 0) return GraphicKind::Metafile;
  return GraphicKind::None;
}

int JpegScaleFor(int32_t width, int32_t height, int32_t boxWidth, int32_t boxHeight) {
  int e = 8;
  while (e > 1 && (width / e < boxWidth || height / e < boxHeight)) e /= 2;
  return e;
}

ZanHBITMAP JpegToThumbnail(TStream& stream, int32_t boxWidth, int32_t boxHeight, int32_t orientation,
                           bool enlarge) {
  const int64_t start = stream.Position();
  if (orientation == 0 && Hooks().jpegOrientation != nullptr) {
    try {
      orientation = Hooks().jpegOrientation(stream);
    } catch (...) {
      orientation = 0;  // a JPEG whose EXIF cannot be read is still shown, unturned
    }
    stream.SetPosition(start);
  }
  const JpegHeader header = JpegReadHeader(stream);
  const int scale = JpegScaleFor(header.width, header.height, boxWidth, boxHeight);
  stream.SetPosition(start);
  Graphic graphic;
  graphic.kind = GraphicKind::Jpeg;
  graphic.bitmap = JpegDecode(stream, scale);
  return GraphicToThumbnail(graphic, boxWidth, boxHeight, orientation, enlarge);
}

ZanHBITMAP StreamToThumbnail(TStream& stream, int32_t boxWidth, int32_t boxHeight, int32_t orientation,
                             bool enlarge) {
  try {
    const GraphicKind kind = GetGraphicClass(stream);
    Graphic graphic;
    graphic.kind = kind;
    switch (kind) {
      case GraphicKind::None:
        return nullptr;
      case GraphicKind::Jpeg:
        return JpegToThumbnail(stream, boxWidth, boxHeight, orientation, enlarge);
      case GraphicKind::Bitmap:
        graphic.bitmap = BmpDecode(stream);
        break;
      case GraphicKind::Gif:
        graphic.bitmap = GifDecodeFirstFrame(stream);
        break;
      case GraphicKind::Png:
        graphic.png = PngRead(stream);
        break;
      case GraphicKind::Icon:
        if (Hooks().iconToPng == nullptr || !Hooks().iconToPng(stream, boxWidth, boxHeight, graphic.png))
          return nullptr;
        break;
      case GraphicKind::Metafile:
        graphic.bitmap = MetafileRender(stream);
        break;
    }
    return GraphicToThumbnail(graphic, boxWidth, boxHeight, orientation, enlarge);
  } catch (...) {
    return nullptr;
  }
}

}  // namespace zan
