// The registered-format source: find the file class, parse the file, and
// try its embedded previews, the one whose area is closest to the box first.
#pragma once

#include <cstdint>
#include <vector>

#include "meta/meta.h"
#include "platform/gdi.h"
#include "platform/stream.h"

namespace zan {

// Null when no class claims the stream or no preview decodes. Never raises.
ZanHBITMAP RegisteredFileToThumbnail(TStream& stream, int32_t boxWidth, int32_t boxHeight);
ZanHBITMAP MetaFileToThumbnail(TzanMetaFile& file, int32_t boxWidth, int32_t boxHeight, bool enlarge);
// The best remaining preview index, or -2 when none is left.
int32_t FindBestThumbnail(TzanMetaObject& node, int32_t boxWidth, int32_t boxHeight,
                          const std::vector<int32_t>& excluded);
// |1 - box area / preview area|; a preview of unknown size counts as a perfect match.
double ThumbnailMetric(int32_t boxWidth, int32_t boxHeight, TSize size);
// Whether previews of this file class are enlarged to the box when smaller.
bool EnlargesPreviews(const TzanMetaFileClass& fileClass);

}  // namespace zan
