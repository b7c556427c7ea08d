// Plain images: which decoder reads a stream, and decoding it (JPEG at the
// smallest DCT scale that still covers the box) into a thumbnail.
#pragma once

#include <cstdint>

#include "front/graphic.h"
#include "platform/gdi.h"
#include "platform/stream.h"

namespace zan {

// The decoder for the stream at its position, by its first bytes; the
// position is restored. Raises when fewer than 4 bytes remain.
GraphicKind GetGraphicClass(TStream& stream);

// Decodes the image at the stream's position into a thumbnail; null when it
// is not an image we read or cannot be decoded. Never raises.
ZanHBITMAP StreamToThumbnail(TStream& stream, int32_t boxWidth, int32_t boxHeight, int32_t orientation,
                             bool enlarge);

// The JPEG path of StreamToThumbnail; may raise.
ZanHBITMAP JpegToThumbnail(TStream& stream, int32_t boxWidth, int32_t boxHeight, int32_t orientation,
                           bool enlarge);

// The DCT scale divisor (8, 4, 2 or 1) for a JPEG of width x height in the box.
int JpegScaleFor(int32_t width, int32_t height, int32_t boxWidth, int32_t boxHeight);

}  // namespace zan
