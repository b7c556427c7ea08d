#include "front/render.h"

#include <cmath>
#include <cstring>
#include <optional>

#include "platform/system.h"

namespace zan {

namespace {

uint8_t g_defaultParams[kDefaultParamsSize] = {};
std::optional<bool> g_alphaProbe;  // the system probe runs once per process

}  // namespace

void SetDefaultParams(const void* block) {
  if (block != nullptr) std::memcpy(g_defaultParams, block, sizeof g_defaultParams);
}

int32_t HostInterfaceVersionHigh() {
  int32_t v;
  std::memcpy(&v, g_defaultParams + 8, sizeof v);  // size, version low, version high
  return v;
}

bool CanUseAlphaBlend() {
  if (HostInterfaceVersionHigh() < 2) return false;
  if (!g_alphaProbe) g_alphaProbe = SystemHasAlphaBlend();
  return *g_alphaProbe;
}

ThumbSize CalcThumbnailSize(int32_t width, int32_t height, int32_t maxWidth, int32_t maxHeight) {
  if (width == 0 || height == 0) return {0, 0};
  // nearbyint rounds halves to even under the default rounding mode.
  int64_t w = maxWidth;
  int64_t h = static_cast<int64_t>(std::nearbyint(double(w) * double(height) / double(width)));
  if (h > maxHeight) {
    h = maxHeight;
    w = static_cast<int64_t>(std::nearbyint(double(h) * double(width) / double(height)));
  }
  if (w == 0) w = 1;
  if (h == 0) h = 1;
  return {static_cast<int32_t>(w), static_cast<int32_t>(h)};
}

void ApplyOrientation(Bitmap32& bitmap, int32_t orientation) {
  switch (orientation) {
    case 2:
      bitmap.FlipHorz();
      break;
    case 3:
      bitmap.Rotate180();
      break;
    case 4:
      bitmap.FlipVert();
      break;
    case 5:
      bitmap.FlipHorz();
      bitmap.Rotate270();
      break;
    case 6:
      bitmap.Rotate90();
      break;
    case 7:
      bitmap.FlipHorz();
      bitmap.Rotate90();
      break;
    case 8:
      bitmap.Rotate270();
      break;
    default:
      break;
  }
}

ZanHBITMAP GraphicToThumbnail(const Graphic& graphic, int32_t boxWidth, int32_t boxHeight, int32_t orientation,
                              bool enlarge) {
  if (graphic.Empty()) return nullptr;
  Bitmap32 bitmap = GraphicToBitmap32(graphic, true);
  ApplyOrientation(bitmap, orientation);
  bitmap.SetResampler(Resampler::Lanczos);
  return Bitmap32ToThumbnail(bitmap, boxWidth, boxHeight, enlarge);
}

ZanHBITMAP Bitmap32ToThumbnail(const Bitmap32& bitmap, int32_t boxWidth, int32_t boxHeight, bool enlarge) {
  if (bitmap.Empty()) return nullptr;
  ThumbSize size{bitmap.Width(), bitmap.Height()};
  if (bitmap.Width() > boxWidth || bitmap.Height() > boxHeight || enlarge) {
    size = CalcThumbnailSize(bitmap.Width(), bitmap.Height(), boxWidth, boxHeight);
  }
  const bool alpha = CanUseAlphaBlend();
  Bitmap32 canvas(size.width, size.height);
  canvas.Clear(alpha ? 0x00000000u : 0xFFFFFFFFu);
  bitmap.DrawTo(canvas);

  const size_t rowBytes = size_t(size.width) * 4;
  if (alpha) {
    void* bits = nullptr;
    ZanHBITMAP h = zanGdiCreateDIBSection32(size.width, size.height, &bits);
    if (h == nullptr || bits == nullptr) throw EOutOfResources("Cannot create DIB section");
    for (int32_t y = 0; y < size.height; ++y)
      std::memcpy(static_cast<uint8_t*>(bits) + rowBytes * size_t(y), canvas.Row(y), rowBytes);
    return h;
  }
  ZanHBITMAP h = zanGdiCreateCompatibleBitmap(size.width, size.height);
  if (h == nullptr) throw EOutOfResources("Cannot create bitmap");
  zanGdiFillRect(h, 0, 0, size.width, size.height, 0x00FFFFFFu);
  if (!GdiSetBits32(h, canvas.Bits())) {
    zanGdiDeleteObject(h);
    throw Exception("Cannot copy into bitmap");
  }
  return h;
}

Bitmap32 BitmapHandleToBitmap32(ZanHBITMAP handle) {
  Bitmap32 out;
  if (handle == nullptr) return out;
  ZanBitmapInfo info{};
  if (zanGdiGetObject(handle, &info) == 0) throw Exception("Invalid bitmap handle");
  out.SetSize(info.width, info.height);
  if (zanGdiGetDIBits32(handle, 0, info.height, out.Bits()) != info.height)
    throw Exception("Cannot read bitmap bits");
  return out;
}

}  // namespace zan
