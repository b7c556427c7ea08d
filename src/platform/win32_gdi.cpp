// The GDI calls behind the zanGdi* functions on Windows: real 32-bit DIB
// sections and device-compatible bitmaps, read back with GetDIBits. The
// module hands these handles to the host, which reads and deletes them with
// the system's own calls.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/bitmap32.h"
#include "platform/gdi.h"
#include "platform/win32_util.h"

namespace {

// Bitmaps made here and not yet deleted here (the host deletes the ones it
// receives with DeleteObject, which this count cannot see).
int32_t g_live = 0;

HBITMAP Bmp(ZanHBITMAP h) { return static_cast<HBITMAP>(h); }

bool SizeAllowed(int32_t width, int32_t height) {
  return width > 0 && height > 0 && uint64_t(width) * uint64_t(height) <= zan::kMaxPixels;
}


bool IsBitmap(ZanHBITMAP h) { return h != nullptr && GetObjectType(static_cast<HGDIOBJ>(h)) == OBJ_BITMAP; }

// Size and kind of a bitmap: a DIB section answers with its DIBSECTION,
// a device-dependent bitmap with its BITMAP only.
bool Describe(ZanHBITMAP h, ZanBitmapInfo& info) {
  if (!IsBitmap(h)) return false;
  DIBSECTION ds{};
  const int n = GetObjectW(static_cast<HGDIOBJ>(h), sizeof ds, &ds);
  if (n != static_cast<int>(sizeof(DIBSECTION)) && n != static_cast<int>(sizeof(BITMAP))) return false;
  info.kind = n == static_cast<int>(sizeof(DIBSECTION)) ? ZAN_BITMAP_DIB_SECTION : ZAN_BITMAP_DEVICE;
  info.width = ds.dsBm.bmWidth;
  // Wine reports a top-down DIB section's height as positive: never trust the sign.
  info.height = std::abs(ds.dsBm.bmHeight);
  info.bitsPerPixel = ds.dsBm.bmBitsPixel;
  return info.width > 0 && info.height > 0;
}

// The whole bitmap as 32-bit top-down pixels, read through a memory DC.
bool ReadAll(ZanHBITMAP h, const ZanBitmapInfo& info, uint32_t* out) {
  HDC dc = CreateCompatibleDC(nullptr);
  if (dc == nullptr) return false;
  BITMAPINFO bi = zan::win32::TopDown32(info.width, info.height);
  const int rows = GetDIBits(dc, Bmp(h), 0, static_cast<UINT>(info.height), out, &bi, DIB_RGB_COLORS);
  DeleteDC(dc);
  if (rows != info.height) return false;
  if (info.kind == ZAN_BITMAP_DEVICE) {
    // A device bitmap has no alpha channel: its fourth byte reads as 0.
    for (size_t i = 0, n = size_t(info.width) * size_t(info.height); i < n; ++i) out[i] &= 0x00FFFFFFu;
  }
  return true;
}

}  // namespace

extern "C" {

ZanHBITMAP ZAN_STDCALL zanGdiCreateDIBSection32(int32_t width, int32_t height, void** bits) {
  if (bits != nullptr) *bits = nullptr;
  if (!SizeAllowed(width, height)) return nullptr;
  BITMAPINFO bi = zan::win32::TopDown32(width, height);
  void* memory = nullptr;
  // The section's memory comes zero-filled from the system.
  HBITMAP h = CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &memory, nullptr, 0);
  if (h == nullptr || memory == nullptr) {
    if (h != nullptr) DeleteObject(h);
    return nullptr;
  }
  ++g_live;
  if (bits != nullptr) *bits = memory;
  return h;
}

ZanHBITMAP ZAN_STDCALL zanGdiCreateCompatibleBitmap(int32_t width, int32_t height) {
  if (!SizeAllowed(width, height)) return nullptr;
  HDC screen = GetDC(nullptr);
  if (screen == nullptr) return nullptr;
  HBITMAP h = CreateCompatibleBitmap(screen, width, height);
  ReleaseDC(nullptr, screen);
  if (h == nullptr) return nullptr;
  ++g_live;
  return h;
}

int32_t ZAN_STDCALL zanGdiFillRect(ZanHBITMAP bmp, int32_t left, int32_t top, int32_t right, int32_t bottom,
                                   uint32_t rgb) {
  if (!IsBitmap(bmp)) return 0;
  HDC dc = CreateCompatibleDC(nullptr);
  if (dc == nullptr) return 0;
  HGDIOBJ old = SelectObject(dc, static_cast<HGDIOBJ>(bmp));
  // 0x00RRGGBB to a COLORREF (0x00BBGGRR).
  HBRUSH brush = CreateSolidBrush(RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF));
  RECT r{left, top, right, bottom};
  const bool ok = old != nullptr && brush != nullptr && FillRect(dc, &r, brush) != 0;
  if (old != nullptr) SelectObject(dc, old);
  if (brush != nullptr) DeleteObject(brush);
  DeleteDC(dc);
  return ok ? 1 : 0;
}

int32_t ZAN_STDCALL zanGdiGetObject(ZanHBITMAP bmp, ZanBitmapInfo* info) {
  if (info == nullptr) return 0;
  ZanBitmapInfo out{};
  if (!Describe(bmp, out)) return 0;
  *info = out;
  return static_cast<int32_t>(sizeof(ZanBitmapInfo));
}

int32_t ZAN_STDCALL zanGdiGetDIBits32(ZanHBITMAP bmp, int32_t startRow, int32_t rows, void* out) {
  ZanBitmapInfo info{};
  if (out == nullptr || startRow < 0 || rows <= 0 || !Describe(bmp, info) || startRow >= info.height) return 0;
  if (rows > info.height - startRow) rows = info.height - startRow;
  const size_t rowPixels = size_t(info.width);
  if (startRow == 0 && rows == info.height) return ReadAll(bmp, info, static_cast<uint32_t*>(out)) ? rows : 0;
  try {
    std::vector<uint32_t> all(rowPixels * size_t(info.height));
    if (!ReadAll(bmp, info, all.data())) return 0;
    std::memcpy(out, all.data() + rowPixels * size_t(startRow), rowPixels * size_t(rows) * sizeof(uint32_t));
    return rows;
  } catch (...) {
    return 0;
  }
}

int32_t ZAN_STDCALL zanGdiDeleteObject(ZanHBITMAP bmp) {
  if (!IsBitmap(bmp) || !DeleteObject(static_cast<HGDIOBJ>(bmp))) return 0;
  --g_live;
  return 1;
}

int32_t ZAN_STDCALL zanGdiLiveObjects(void) { return g_live; }

}  // extern "C"

namespace zan {

bool GdiSetBits32(ZanHBITMAP bmp, const uint32_t* pixels) {
  ZanBitmapInfo info{};
  if (pixels == nullptr || !Describe(bmp, info)) return false;
  const size_t n = size_t(info.width) * size_t(info.height);
  if (info.kind == ZAN_BITMAP_DIB_SECTION) {
    // Our DIB sections are top-down 32-bit: the rows go in as they are,
    // alpha included.
    DIBSECTION ds{};
    if (GetObjectW(static_cast<HGDIOBJ>(bmp), sizeof ds, &ds) != static_cast<int>(sizeof ds) ||
        ds.dsBm.bmBits == nullptr || ds.dsBm.bmBitsPixel != 32) {
      return false;
    }
    GdiFlush();
    if (ds.dsBmih.biHeight < 0 || ds.dsBm.bmHeight < 0) {
      std::memcpy(ds.dsBm.bmBits, pixels, n * sizeof(uint32_t));
    } else {
      // The header says bottom-up, which Wine also says of top-down
      // sections: write through GDI, which knows the true layout.
      HDC dc = CreateCompatibleDC(nullptr);
      if (dc == nullptr) return false;
      BITMAPINFO bi = zan::win32::TopDown32(info.width, info.height);
      const int rows = SetDIBits(dc, Bmp(bmp), 0, static_cast<UINT>(info.height), pixels, &bi, DIB_RGB_COLORS);
      DeleteDC(dc);
      return rows == info.height;
    }
    return true;
  }
  // A device bitmap: copied opaquely.
  try {
    std::vector<uint32_t> opaque(pixels, pixels + n);
    for (uint32_t& p : opaque) p |= 0xFF000000u;
    HDC dc = CreateCompatibleDC(nullptr);
    if (dc == nullptr) return false;
    BITMAPINFO bi = zan::win32::TopDown32(info.width, info.height);
    const int rows = SetDIBits(dc, Bmp(bmp), 0, static_cast<UINT>(info.height), opaque.data(), &bi, DIB_RGB_COLORS);
    DeleteDC(dc);
    return rows == info.height;
  } catch (...) {
    return false;
  }
}

// Real GDI owns the bitmaps: handles given to the host stay valid after the
// module is unloaded, so there is nothing to free here.
void GdiShutdown() {}

}  // namespace zan
