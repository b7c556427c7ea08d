#include "front/choice.h"

#include <algorithm>
#include <cmath>

#include "front/decode.h"
#include "front/hooks.h"

namespace zan {

bool EnlargesPreviews(const TzanMetaFileClass& fileClass) {
  const auto& list = Hooks().noEnlargeClasses;
  return std::find(list.begin(), list.end(), &fileClass) == list.end();
}

double ThumbnailMetric(int32_t boxWidth, int32_t boxHeight, TSize size) {
  if (size.cx == 0 || size.cy == 0) size = {boxWidth, boxHeight};
  // Products in 64 bits: a hostile header's sizes must not overflow.
  const double box = double(int64_t(boxWidth) * int64_t(boxHeight));
  const double area = double(int64_t(size.cx) * int64_t(size.cy));
  if (area == 0) return box == 0 ? 0.0 : HUGE_VAL;
  return std::fabs(1.0 - box / area);
}

int32_t FindBestThumbnail(TzanMetaObject& node, int32_t boxWidth, int32_t boxHeight,
                          const std::vector<int32_t>& excluded) {
  int32_t best = -2;
  double bestMetric = 0;
  const int32_t count = node.GetThumbnailCount();
  for (int32_t i = 0; i < count; ++i) {
    if (std::find(excluded.begin(), excluded.end(), i) != excluded.end()) continue;
    TSize size;
    try {
      size = node.GetThumbnailSize(i);
    } catch (...) {
      continue;
    }
    const double metric = ThumbnailMetric(boxWidth, boxHeight, size);
    if (best < 0 || metric < bestMetric) {
      best = i;
      bestMetric = metric;
    }
  }
  return best;
}

namespace {

// The orientation of the file's main image; 0 when it has none or it
// cannot be read.
int32_t MainImageOrientation(TzanMetaFile& file) {
  if (Hooks().mainImageOrientation == nullptr) return 0;
  try {
    return Hooks().mainImageOrientation(file);
  } catch (...) {
    return 0;
  }
}

}  // namespace

ZanHBITMAP MetaFileToThumbnail(TzanMetaFile& file, int32_t boxWidth, int32_t boxHeight, bool enlarge) {
  std::vector<int32_t> excluded;
  // Cameras record the orientation once, for the main image, and store
  // their thumbnails turned the same way: a preview whose node records no
  // orientation of its own takes the main image's.
  int32_t mainOrientation = -1;  // not looked up yet
  for (;;) {
    const int32_t i = FindBestThumbnail(file, boxWidth, boxHeight, excluded);
    if (i < 0) return nullptr;
    ZanHBITMAP bitmap = nullptr;
    try {
      const uint8_t* data = file.GetThumbnailData(i);
      const uint32_t size = file.GetThumbnailDataSize(i);
      if (data != nullptr && size != 0) {
        // The preview's bytes stay where they are: a read-only view is all
        // the decoders need, so nothing is copied.
        TReadOnlyMemoryStream stream(data, size);
        int32_t orientation = file.GetThumbnailRotateMirror(i);
        if (orientation == 0) {
          if (mainOrientation < 0) mainOrientation = MainImageOrientation(file);
          orientation = mainOrientation;
        }
        bitmap = StreamToThumbnail(stream, boxWidth, boxHeight, orientation, enlarge);
      }
    } catch (...) {
      bitmap = nullptr;
    }
    if (bitmap != nullptr) return bitmap;
    excluded.push_back(i);
  }
}

ZanHBITMAP RegisteredFileToThumbnail(TStream& stream, int32_t boxWidth, int32_t boxHeight) {
  try {
    const TzanMetaFileClass* cls = FindMetaFileClass(stream);
    if (cls == nullptr) return nullptr;
    std::unique_ptr<TzanMetaFile> file = cls->Create();
    file->SetDefThumbnailSize({boxWidth, boxHeight});
    file->LoadFromStream(stream);
    return MetaFileToThumbnail(*file, boxWidth, boxHeight, EnlargesPreviews(*cls));
  } catch (...) {
    return nullptr;
  }
}

}  // namespace zan
