// The thumbnail cache: the thumbnails made most recently, for one box, each
// valid as long as its file's last-write time is unchanged.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "front/hooks.h"
#include "platform/gdi.h"

namespace zan {

// A new bitmap of the same kind (DIB section with alpha, or device bitmap),
// size and pixels; null when the handle is not a bitmap or memory runs out.
ZanHBITMAP CopyBitmapHandle(ZanHBITMAP bitmap);

// The file's last-write time with the platform's full resolution, or nothing
// when the file is gone or cannot be queried. The file is not opened.
std::optional<int64_t> GetFileLastWriteTime(const std::u16string& fileName);

class TzanPictorCache;

class TzanPictorCacheItem {
 public:
  // Keeps its own copy of the bitmap and the file's current last-write time.
  TzanPictorCacheItem(TzanPictorCache* AOwner, const std::u16string& AFileName, ZanHBITMAP ABitmap);
  // Deletes its bitmap.
  ~TzanPictorCacheItem();
  TzanPictorCacheItem(const TzanPictorCacheItem&) = delete;
  TzanPictorCacheItem& operator=(const TzanPictorCacheItem&) = delete;

  // The file still has the last-write time it had when the entry was made
  // (a file that cannot be queried, then or now, is never valid).
  bool IsValid() const;

  TzanPictorCache* Owner() const { return FOwner; }
  const std::u16string& FileName() const { return FFileName; }
  ZanHBITMAP Bitmap() const { return FBitmap; }
  std::optional<int64_t> LastWriteTime() const { return FLastWriteTime; }

 private:
  TzanPictorCache* FOwner;
  std::u16string FFileName;
  ZanHBITMAP FBitmap = nullptr;
  std::optional<int64_t> FLastWriteTime;
};

class TzanPictorCache : public ThumbnailCache {
 public:
  // maxItems: the most entries kept ("MaxCacheItem"; 0 or less keeps none).
  explicit TzanPictorCache(int32_t maxItems);
  // Deletes every cached bitmap.
  ~TzanPictorCache() override;
  TzanPictorCache(const TzanPictorCache&) = delete;
  TzanPictorCache& operator=(const TzanPictorCache&) = delete;

  // A new copy of the newest entry for the name when it is still valid; a
  // stale entry is dropped. Null on a miss. The caller owns the copy.
  ZanHBITMAP FindItem(const std::u16string& AFileName, int32_t AMaxWidth, int32_t AMaxHeight) override;
  // Stores a copy (the caller keeps its handle) and drops the oldest entries
  // beyond the capacity.
  void AddItem(const std::u16string& AFileName, int32_t AMaxWidth, int32_t AMaxHeight, ZanHBITMAP ABitmap) override;
  // Frees every entry, newest first.
  void Clear();

  int32_t Count() const { return static_cast<int32_t>(FList.size()); }
  // Entry i, oldest first.
  const TzanPictorCacheItem& Items(int32_t i) const { return *FList.at(static_cast<size_t>(i)); }
  int32_t MaxWidth() const { return FMaxWidth; }
  int32_t MaxHeight() const { return FMaxHeight; }

 private:
  // The cache holds thumbnails for one box only: another box empties it.
  void CheckBox(int32_t AMaxWidth, int32_t AMaxHeight);

  std::vector<std::unique_ptr<TzanPictorCacheItem>> FList;  // oldest first
  int32_t FMaxWidth = 0;
  int32_t FMaxHeight = 0;
  int32_t FMaxItems;
};

// At module load: reads the settings, creates the empty process-wide cache
// and hands both to the pipeline. Called again, it starts afresh.
void RegisterCacheUnit();
// At module unload: frees the cache and every bitmap it holds.
void UnregisterCacheUnit();

}  // namespace zan
