// Limits on the memory a preview built from file data may take.
#pragma once

#include <cstdint>

#include "platform/stream.h"

namespace zan {

// Previews up to this many bytes are always allowed.
inline constexpr int64_t kFreePreviewBytes = int64_t(16) << 20;

// Raises EOutOfResources when a preview of `bytes` bytes would be out of
// proportion to the `sourceBytes` that fill it (more than four bytes of
// preview per source byte above kFreePreviewBytes). Keeps a tiny hostile
// header from claiming a huge zero-filled picture.
inline void CheckPreviewBudget(int64_t bytes, int64_t sourceBytes) {
  if (bytes < 0) throw EOutOfResources("Preview too large");
  if (bytes <= kFreePreviewBytes) return;
  if (sourceBytes > 0 && bytes / 4 <= sourceBytes) return;
  throw EOutOfResources("Preview too large for its data");
}

}  // namespace zan
