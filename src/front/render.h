// The last step of every thumbnail: orientation, Lanczos fitting into the
// box, and the bitmap handle for the host (transparent or on white).
#pragma once

#include <cstdint>

#include "front/graphic.h"
#include "platform/bitmap32.h"
#include "platform/gdi.h"

namespace zan {

// The host's default parameter block, copied whole.
inline constexpr int kDefaultParamsSize = 272;
void SetDefaultParams(const void* block);
// High part of the host's plug-in interface version (0 before the host told us).
int32_t HostInterfaceVersionHigh();

// True when the host takes bitmaps with alpha (interface version 2 or more)
// and the system can blend them (probed once).
bool CanUseAlphaBlend();

struct ThumbSize {
  int32_t width = 0;
  int32_t height = 0;
  bool operator==(const ThumbSize&) const = default;
};

// The largest size of the picture's aspect that fits the box, touching it
// in at least one direction.
ThumbSize CalcThumbnailSize(int32_t width, int32_t height, int32_t maxWidth, int32_t maxHeight);

// Applies an orientation code (1..8 as the EXIF Orientation tag) in place.
void ApplyOrientation(Bitmap32& bitmap, int32_t orientation);

// Fits the graphic into the box; 0 for empty graphics. Raises on failure.
ZanHBITMAP GraphicToThumbnail(const Graphic& graphic, int32_t boxWidth, int32_t boxHeight, int32_t orientation,
                              bool enlarge);
// Fits a 32-bit bitmap (already upright) into the box; 0 when it is empty.
ZanHBITMAP Bitmap32ToThumbnail(const Bitmap32& bitmap, int32_t boxWidth, int32_t boxHeight, bool enlarge);

// Reads a bitmap handle back into a 32-bit bitmap (rows top-down).
Bitmap32 BitmapHandleToBitmap32(ZanHBITMAP handle);

}  // namespace zan
