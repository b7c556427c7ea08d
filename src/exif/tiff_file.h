// TIFF files, raw camera formats that are TIFF files among them: one
// segment holding one TzanExifEx loaded from the file's first byte. Two file
// classes, one per byte order, give the host a detect term for each; both
// accept every TIFF header.
#pragma once

#include "exif/exif_ex.h"
#include "meta/meta.h"

namespace zan {

class TzanTiffFileSegment : public TzanMetaFileSegment {
 public:
  using TzanMetaFileSegment::TzanMetaFileSegment;
  const TzanMetaFileSegmentClass& GetClass() const override;
  std::string GetName() const override { return "Tiff"; }
  void Clear() override;
  // Loads the structure; the directories read before a failure (a chain
  // that runs past the end of the file, "Too many tags...") are kept.
  void DoLoadFromStream(TStream& AStream) override;
  // The structure, or null before loading.
  TzanExifEx* Exif() const { return FExif; }

 private:
  TzanExifEx* FExif = nullptr;  // a child
};

class TzanTiffIIFile : public TzanMetaFile {
 public:
  const TzanMetaFileClass& GetClass() const override;
  void DoLoadFromStream(TStream& AStream) override;
};

class TzanTiffMMFile : public TzanTiffIIFile {
 public:
  const TzanMetaFileClass& GetClass() const override;
};

const TzanMetaFileSegmentClass& TiffFileSegmentClass();
const TzanMetaFileClass& TiffIIFileClass();
const TzanMetaFileClass& TiffMMFileClass();

}  // namespace zan
