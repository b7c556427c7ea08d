// Where later format units plug into the front end. Each hook is empty until
// the unit that provides it is registered at module load; an empty hook
// means that source or decoder is simply not tried.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/codecs.h"
#include "platform/gdi.h"
#include "platform/stream.h"

namespace zan {

// The thumbnail cache as the pipeline uses it.
class ThumbnailCache {
 public:
  virtual ~ThumbnailCache() = default;
  // A new copy of the cached bitmap for (name, box), or null.
  virtual ZanHBITMAP FindItem(const std::u16string& name, int32_t width, int32_t height) = 0;
  // Stores a copy of the bitmap (the caller keeps the given handle).
  virtual void AddItem(const std::u16string& name, int32_t width, int32_t height, ZanHBITMAP bitmap) = 0;
};

class TzanMetaFile;
class TzanMetaFileClass;

struct FrontHooks {
  // Orientation code of a JPEG from its own EXIF data (0 when it has none).
  // The stream is at the JPEG's first byte; may raise; the caller restores
  // the position.
  int32_t (*jpegOrientation)(TStream& stream) = nullptr;
  // Orientation code of a parsed file's main image (0 when it has none);
  // previews whose node records no orientation take it. May raise.
  int32_t (*mainImageOrientation)(TzanMetaFile& file) = nullptr;
  // Icon and cursor files: reads the icon at the stream's position, chooses
  // the image for the box and makes a PNG image of it. Raises on failure;
  // false when the file holds no image.
  bool (*iconToPng)(TStream& stream, int32_t boxWidth, int32_t boxHeight, PngImage& out) = nullptr;
  // Audio files: the first attached picture of a tag at the stream's start.
  ZanHBITMAP (*audioTagPicture)(TStream& stream, int32_t boxWidth, int32_t boxHeight) = nullptr;
  // Compound documents: their stored previews.
  ZanHBITMAP (*documentPreview)(TStream& stream, int32_t boxWidth, int32_t boxHeight) = nullptr;
  // File classes whose previews keep their size when smaller than the box
  // (animated-cursor frames); every other class's previews are enlarged.
  std::vector<const TzanMetaFileClass*> noEnlargeClasses;
  // The thumbnail cache and the minimum time per generated thumbnail (ms).
  ThumbnailCache* cache = nullptr;
  uint32_t minCreateTime = 0;
};

FrontHooks& Hooks();

}  // namespace zan
