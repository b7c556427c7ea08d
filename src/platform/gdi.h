// A small stand-in for the GDI bitmap calls a host uses: 32-bit DIB sections
// and device-compatible bitmaps behind opaque handles. The functions carry C
// linkage and are exported from the shared module, so a host written against
// the Windows shape (handle in, GetObject/GetDIBits-like reads, DeleteObject)
// works unchanged.
#pragma once

#include <cstdint>

#if defined(_WIN32)
#define ZAN_STDCALL __stdcall
#define ZAN_EXPORT
#else
#define ZAN_STDCALL
#define ZAN_EXPORT __attribute__((visibility("default")))
#endif

extern "C" {

typedef void* ZanHBITMAP;

enum ZanBitmapKind {
  ZAN_BITMAP_NONE = 0,
  ZAN_BITMAP_DIB_SECTION = 1,  // 32-bit DIB section: carries alpha
  ZAN_BITMAP_DEVICE = 2        // device-compatible bitmap: opaque
};

typedef struct ZanBitmapInfo {
  int32_t kind;  // ZanBitmapKind
  int32_t width;
  int32_t height;
  int32_t bitsPerPixel;
} ZanBitmapInfo;

// Creates a 32-bit top-down DIB section, zero-filled; *bits (when not null)
// receives its pixel memory (rows of 4 x width bytes, B G R A).
ZAN_EXPORT ZanHBITMAP ZAN_STDCALL zanGdiCreateDIBSection32(int32_t width, int32_t height, void** bits);
// Creates a device-compatible bitmap (opaque, black until filled).
ZAN_EXPORT ZanHBITMAP ZAN_STDCALL zanGdiCreateCompatibleBitmap(int32_t width, int32_t height);
// Fills a rectangle [left, right) x [top, bottom) with 0x00RRGGBB (alpha of
// a DIB section becomes 0 as GDI does; device bitmaps stay opaque).
ZAN_EXPORT int32_t ZAN_STDCALL zanGdiFillRect(ZanHBITMAP bmp, int32_t left, int32_t top, int32_t right,
                                              int32_t bottom, uint32_t rgb);
// Describes a bitmap; 0 on an invalid handle.
ZAN_EXPORT int32_t ZAN_STDCALL zanGdiGetObject(ZanHBITMAP bmp, ZanBitmapInfo* info);
// Copies rows [startRow, startRow + rows) as 32-bit top-down pixels into out
// (4 x width bytes per row). Returns the number of rows copied, 0 on error.
ZAN_EXPORT int32_t ZAN_STDCALL zanGdiGetDIBits32(ZanHBITMAP bmp, int32_t startRow, int32_t rows, void* out);
// Deletes a bitmap; non-zero on success.
ZAN_EXPORT int32_t ZAN_STDCALL zanGdiDeleteObject(ZanHBITMAP bmp);
// Number of live bitmaps (a leak check for tests and the unload report).
ZAN_EXPORT int32_t ZAN_STDCALL zanGdiLiveObjects(void);

}  // extern "C"

namespace zan {
// Copies a whole top-down 32-bit picture of the bitmap's size into it,
// opaquely (for a device bitmap the alpha byte is dropped). False on an
// invalid handle. Internal to the core: hosts never write into our bitmaps.
bool GdiSetBits32(ZanHBITMAP bmp, const uint32_t* pixels);
// Called when the module is unloaded: on platforms where our stand-in holds
// the bitmaps, every one still alive is freed with its table (nothing can
// reach them once the module's code is gone). With real GDI, nothing.
void GdiShutdown();
}  // namespace zan
