// The GDI stand-in on POSIX systems: bitmaps are heap objects behind opaque
// handles, validated against a table of live objects so that a stale or
// foreign handle is refused instead of dereferenced.
#include <cstdint>
#include <cstring>
#include <new>
#include <unordered_set>
#include <vector>

#include "platform/bitmap32.h"
#include "platform/gdi.h"

namespace {

struct GdiBitmap {
  int32_t kind;
  int32_t width;
  int32_t height;
  std::vector<uint32_t> pixels;  // top-down, B G R A
};

// Created on first use, freed by GdiShutdown when the module unloads.
std::unordered_set<GdiBitmap*>* g_live = nullptr;

std::unordered_set<GdiBitmap*>& Live() {
  if (g_live == nullptr) g_live = new std::unordered_set<GdiBitmap*>();
  return *g_live;
}

GdiBitmap* Lookup(ZanHBITMAP h) {
  auto* b = static_cast<GdiBitmap*>(h);
  return (b != nullptr && Live().count(b) != 0) ? b : nullptr;
}

ZanHBITMAP Create(int32_t kind, int32_t width, int32_t height, uint32_t fill) {
  if (width <= 0 || height <= 0 || uint64_t(width) * uint64_t(height) > zan::kMaxPixels) return nullptr;
  try {
    auto* b = new GdiBitmap{kind, width, height, std::vector<uint32_t>(size_t(width) * size_t(height), fill)};
    Live().insert(b);
    return b;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

}  // namespace

extern "C" {

ZanHBITMAP ZAN_STDCALL zanGdiCreateDIBSection32(int32_t width, int32_t height, void** bits) {
  ZanHBITMAP h = Create(ZAN_BITMAP_DIB_SECTION, width, height, 0);
  if (bits != nullptr) *bits = h ? static_cast<GdiBitmap*>(h)->pixels.data() : nullptr;
  return h;
}

ZanHBITMAP ZAN_STDCALL zanGdiCreateCompatibleBitmap(int32_t width, int32_t height) {
  return Create(ZAN_BITMAP_DEVICE, width, height, 0xFF000000u);
}

int32_t ZAN_STDCALL zanGdiFillRect(ZanHBITMAP bmp, int32_t left, int32_t top, int32_t right, int32_t bottom,
                                   uint32_t rgb) {
  GdiBitmap* b = Lookup(bmp);
  if (b == nullptr) return 0;
  // Stored as B G R; GDI writes alpha 0 into DIB sections, device bitmaps stay opaque.
  const uint32_t color = (rgb & 0x0000FF00u) | ((rgb & 0xFFu) << 16) | ((rgb >> 16) & 0xFFu) |
                         (b->kind == ZAN_BITMAP_DEVICE ? 0xFF000000u : 0u);
  if (left < 0) left = 0;
  if (top < 0) top = 0;
  if (right > b->width) right = b->width;
  if (bottom > b->height) bottom = b->height;
  for (int32_t y = top; y < bottom; ++y) {
    uint32_t* row = b->pixels.data() + size_t(y) * size_t(b->width);
    for (int32_t x = left; x < right; ++x) row[x] = color;
  }
  return 1;
}

int32_t ZAN_STDCALL zanGdiGetObject(ZanHBITMAP bmp, ZanBitmapInfo* info) {
  GdiBitmap* b = Lookup(bmp);
  if (b == nullptr || info == nullptr) return 0;
  info->kind = b->kind;
  info->width = b->width;
  info->height = b->height;
  info->bitsPerPixel = 32;
  return static_cast<int32_t>(sizeof(ZanBitmapInfo));
}

int32_t ZAN_STDCALL zanGdiGetDIBits32(ZanHBITMAP bmp, int32_t startRow, int32_t rows, void* out) {
  GdiBitmap* b = Lookup(bmp);
  if (b == nullptr || out == nullptr || startRow < 0 || rows <= 0 || startRow >= b->height) return 0;
  if (rows > b->height - startRow) rows = b->height - startRow;
  auto* dst = static_cast<uint32_t*>(out);
  std::memcpy(dst, b->pixels.data() + size_t(startRow) * size_t(b->width),
              size_t(rows) * size_t(b->width) * sizeof(uint32_t));
  if (b->kind == ZAN_BITMAP_DEVICE) {
    // A device bitmap has no alpha channel: GDI reports its fourth byte as 0.
    for (size_t i = 0, n = size_t(rows) * size_t(b->width); i < n; ++i) dst[i] &= 0x00FFFFFFu;
  }
  return rows;
}

int32_t ZAN_STDCALL zanGdiDeleteObject(ZanHBITMAP bmp) {
  GdiBitmap* b = Lookup(bmp);
  if (b == nullptr) return 0;
  Live().erase(b);
  delete b;
  return 1;
}

int32_t ZAN_STDCALL zanGdiLiveObjects(void) { return static_cast<int32_t>(Live().size()); }

}  // extern "C"

namespace zan {

bool GdiSetBits32(ZanHBITMAP bmp, const uint32_t* pixels) {
  GdiBitmap* b = Lookup(bmp);
  if (b == nullptr || pixels == nullptr) return false;
  const size_t n = size_t(b->width) * size_t(b->height);
  if (b->kind == ZAN_BITMAP_DEVICE) {
    for (size_t i = 0; i < n; ++i) b->pixels[i] = pixels[i] | 0xFF000000u;
  } else {
    std::memcpy(b->pixels.data(), pixels, n * sizeof(uint32_t));
  }
  return true;
}

void GdiShutdown() {
  if (g_live == nullptr) return;
  for (GdiBitmap* b : *g_live) delete b;
  delete g_live;
  g_live = nullptr;
}

}  // namespace zan
