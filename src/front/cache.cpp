#include "front/cache.h"

#include <algorithm>
#include <new>

#include "front/settings.h"
#include "platform/system.h"

namespace zan {

ZanHBITMAP CopyBitmapHandle(ZanHBITMAP bitmap) {
  ZanBitmapInfo info{};
  if (zanGdiGetObject(bitmap, &info) == 0 || info.width <= 0 || info.height <= 0) return nullptr;
  try {
    std::vector<uint32_t> pixels(size_t(info.width) * size_t(info.height));
    if (zanGdiGetDIBits32(bitmap, 0, info.height, pixels.data()) != info.height) return nullptr;
    // The copy keeps the kind: a DIB section carries alpha, a device bitmap
    // is opaque (its pixels read back with alpha 0 and are made opaque again).
    ZanHBITMAP copy = info.kind == ZAN_BITMAP_DEVICE ? zanGdiCreateCompatibleBitmap(info.width, info.height)
                                                     : zanGdiCreateDIBSection32(info.width, info.height, nullptr);
    if (copy == nullptr) return nullptr;
    if (!GdiSetBits32(copy, pixels.data())) {
      zanGdiDeleteObject(copy);
      return nullptr;
    }
    return copy;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

std::optional<int64_t> GetFileLastWriteTime(const std::u16string& fileName) { return FileLastWriteTime(fileName); }

// ---- entries ---------------------------------------------------------------------

TzanPictorCacheItem::TzanPictorCacheItem(TzanPictorCache* AOwner, const std::u16string& AFileName, ZanHBITMAP ABitmap)
    : FOwner(AOwner),
      FFileName(AFileName),
      FBitmap(CopyBitmapHandle(ABitmap)),
      FLastWriteTime(GetFileLastWriteTime(AFileName)) {}

TzanPictorCacheItem::~TzanPictorCacheItem() {
  if (FBitmap != nullptr) zanGdiDeleteObject(FBitmap);
}

bool TzanPictorCacheItem::IsValid() const {
  // A time that could not be read matches nothing, so an entry made while
  // the file could not be queried never answers for it.
  const std::optional<int64_t> now = GetFileLastWriteTime(FFileName);
  return FLastWriteTime.has_value() && now.has_value() && *now == *FLastWriteTime;
}

// ---- the cache -------------------------------------------------------------------

TzanPictorCache::TzanPictorCache(int32_t maxItems) : FMaxItems(maxItems) {}

TzanPictorCache::~TzanPictorCache() { Clear(); }

void TzanPictorCache::Clear() {
  while (!FList.empty()) FList.pop_back();
}

void TzanPictorCache::CheckBox(int32_t AMaxWidth, int32_t AMaxHeight) {
  if (AMaxWidth == FMaxWidth && AMaxHeight == FMaxHeight) return;
  Clear();
  FMaxWidth = AMaxWidth;
  FMaxHeight = AMaxHeight;
}

ZanHBITMAP TzanPictorCache::FindItem(const std::u16string& AFileName, int32_t AMaxWidth, int32_t AMaxHeight) {
  CheckBox(AMaxWidth, AMaxHeight);
  // The newest entry for the name decides; older ones are not looked at.
  for (size_t i = FList.size(); i-- > 0;) {
    if (!SameFileName(FList[i]->FileName(), AFileName)) continue;
    if (FList[i]->IsValid()) return CopyBitmapHandle(FList[i]->Bitmap());
    FList.erase(FList.begin() + static_cast<std::ptrdiff_t>(i));
    return nullptr;
  }
  return nullptr;
}

void TzanPictorCache::AddItem(const std::u16string& AFileName, int32_t AMaxWidth, int32_t AMaxHeight,
                              ZanHBITMAP ABitmap) {
  CheckBox(AMaxWidth, AMaxHeight);
  if (FMaxItems <= 0) return;  // nothing is kept; skip the copy
  auto item = std::make_unique<TzanPictorCacheItem>(this, AFileName, ABitmap);
  // An entry without its bitmap (the copy failed) could only ever miss.
  if (item->Bitmap() == nullptr) return;
  FList.push_back(std::move(item));
  const auto excess = static_cast<int64_t>(FList.size()) - FMaxItems;
  if (excess > 0) FList.erase(FList.begin(), FList.begin() + static_cast<std::ptrdiff_t>(excess));
}

// ---- the module's cache ----------------------------------------------------------

namespace {

std::unique_ptr<TzanPictorCache>& ModuleCache() {
  static std::unique_ptr<TzanPictorCache> cache;
  return cache;
}

}  // namespace

void RegisterCacheUnit() {
  UnregisterCacheUnit();
  LoadSettings();
  ModuleCache() = std::make_unique<TzanPictorCache>(Settings().MaxCacheItem);
  Hooks().cache = ModuleCache().get();
  Hooks().minCreateTime = static_cast<uint32_t>(std::max(Settings().MinCreateTime, 0));
}

void UnregisterCacheUnit() {
  if (Hooks().cache == ModuleCache().get()) {
    Hooks().cache = nullptr;
    Hooks().minCreateTime = 0;
  }
  ModuleCache().reset();
}

}  // namespace zan
