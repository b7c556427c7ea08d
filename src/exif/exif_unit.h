// Registration of the EXIF and TIFF unit, and the front end's orientation
// look-ups it provides.
#pragma once

#include <cstdint>

#include "meta/meta.h"
#include "platform/stream.h"

namespace zan {

// Registers the Photoshop-resources entry class (tag 34377) with the EXIF
// entry-class list, TzanTiffIIFile and TzanTiffMMFile with the file
// registry, the Exif segment class with the JPEG segment registry, and the
// front end's orientation hooks.
void RegisterExifUnit();

// The orientation code of the JPEG at the stream's position: the IFD0 tag
// 274 of its first Exif segment that has one, else 0. May raise; the
// position is not restored.
int32_t JpegExifOrientation(TStream& AStream);

// The orientation code of a parsed file's main image: the IFD0 tag 274 of
// its first Exif segment that has one, or of its TIFF structure; 0 when it
// has none.
int32_t MainImageOrientation(TzanMetaFile& AFile);

}  // namespace zan
