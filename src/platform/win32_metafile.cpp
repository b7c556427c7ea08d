// Metafile rendering on Windows, by the system's GDI: a placeable WMF goes
// through its 22-byte header into an enhanced metafile (SetWinMetaFileBits),
// an EMF is taken as it is; either is played into a 32-bit DIB section at
// its natural size. Pixels the rendering does not touch end transparent
// black (alpha 0), all others opaque.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/codecs.h"
#include "platform/win32_util.h"

namespace zan {

namespace {

constexpr uint32_t kPlaceableKey = 0x9AC6CDD7;  // D7 CD C6 9A
constexpr int64_t kPlaceableHeaderSize = 22;
constexpr int64_t kWmfHeaderSize = 18;
constexpr int64_t kEmfHeaderSize = 88;
// Metafiles are vector pictures of a few KB to a few MB; more is refused.
constexpr int64_t kMaxMetafileBytes = int64_t(64) << 20;

uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
int16_t S16(const uint8_t* p) { return static_cast<int16_t>(U16(p)); }
uint32_t U32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

// Owns an enhanced-metafile handle.
struct EnhMetaFile {
  HENHMETAFILE handle = nullptr;
  ~EnhMetaFile() {
    if (handle != nullptr) DeleteEnhMetaFile(handle);
  }
};

HENHMETAFILE LoadMetafile(const std::vector<uint8_t>& bytes) {
  const int64_t size = static_cast<int64_t>(bytes.size());
  if (size >= kPlaceableHeaderSize + kWmfHeaderSize && U32(bytes.data()) == kPlaceableKey) {
    // The picture's extent in .01 mm from the bounding box and units per inch.
    const int inch = U16(bytes.data() + 14);
    if (inch == 0) return nullptr;
    const int w = std::abs(int(S16(bytes.data() + 10)) - S16(bytes.data() + 6));
    const int h = std::abs(int(S16(bytes.data() + 12)) - S16(bytes.data() + 8));
    METAFILEPICT picture{};
    picture.mm = MM_ANISOTROPIC;
    picture.xExt = MulDiv(w, 2540, inch);
    picture.yExt = MulDiv(h, 2540, inch);
    return SetWinMetaFileBits(static_cast<UINT>(size - kPlaceableHeaderSize), bytes.data() + kPlaceableHeaderSize,
                              nullptr, &picture);
  }
  if (size >= kEmfHeaderSize && U32(bytes.data()) == EMR_HEADER) {
    // The header's own length of the metafile must lie within the bytes.
    const uint32_t declared = U32(bytes.data() + 48);
    if (declared < kEmfHeaderSize || declared > static_cast<uint64_t>(size)) return nullptr;
    return SetEnhMetaFileBits(declared, bytes.data());
  }
  return nullptr;
}

// Plays the metafile onto a background of the given colour; false when GDI
// refuses. The DIB section is created top-down, so its memory holds the rows
// in order.
bool Play(HENHMETAFILE emf, int32_t width, int32_t height, uint32_t background, std::vector<uint32_t>& out) {
  BITMAPINFO bi = zan::win32::TopDown32(width, height);
  void* bits = nullptr;
  HBITMAP bmp = CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (bmp == nullptr || bits == nullptr) {
    if (bmp != nullptr) DeleteObject(bmp);
    return false;
  }
  const size_t n = size_t(width) * size_t(height);
  auto* pixels = static_cast<uint32_t*>(bits);
  for (size_t i = 0; i < n; ++i) pixels[i] = background;
  bool ok = false;
  if (HDC dc = CreateCompatibleDC(nullptr)) {
    HGDIOBJ old = SelectObject(dc, bmp);
    RECT r{0, 0, width, height};
    ok = old != nullptr && PlayEnhMetaFile(dc, emf, &r) != 0;
    if (old != nullptr) SelectObject(dc, old);
    DeleteDC(dc);
  }
  GdiFlush();
  if (ok) out.assign(pixels, pixels + n);
  DeleteObject(bmp);
  return ok;
}

}  // namespace

Bitmap32 MetafileRender(TStream& stream) {
  int32_t width = 0, height = 0;
  if (!MetafileSize(stream, width, height) || width <= 0 || height <= 0) return Bitmap32();
  CheckPixelLimit(width, height);
  const int64_t size = stream.Remaining();
  if (size > kMaxMetafileBytes) throw EOutOfResources("Metafile too large");
  std::vector<uint8_t> bytes(static_cast<size_t>(size));
  stream.ReadBuffer(bytes.data(), size);

  EnhMetaFile emf;
  emf.handle = LoadMetafile(bytes);
  if (emf.handle == nullptr) return Bitmap32();

  // Played twice, on black and on white: a pixel the rendering touched comes
  // out the same on both, one it left alone shows the background. This holds
  // whatever the records write into the alpha byte.
  std::vector<uint32_t> onBlack, onWhite;
  if (!Play(emf.handle, width, height, 0x00000000u, onBlack) ||
      !Play(emf.handle, width, height, 0x00FFFFFFu, onWhite)) {
    return Bitmap32();
  }
  Bitmap32 out(width, height);
  uint32_t* dst = out.Bits();
  for (size_t i = 0, n = onBlack.size(); i < n; ++i) {
    const uint32_t a = onBlack[i] & 0x00FFFFFFu, b = onWhite[i] & 0x00FFFFFFu;
    dst[i] = a == b ? (a | 0xFF000000u) : 0u;
  }
  return out;
}

}  // namespace zan
