#include "exif/tiff_file.h"

namespace zan {

namespace {

class TzanTiffFileSegmentClass : public TSegmentClassOf<TzanTiffFileSegment> {
 public:
  const char* ClassName() const override { return "TzanTiffFileSegment"; }
  bool IsSegment(TStream& AStream) const override { return TzanExif::IsExif(AStream); }
};
const TzanTiffFileSegmentClass kTiffFileSegmentClass;

class TzanTiffIIFileClass : public TFileClassOf<TzanTiffIIFile> {
 public:
  const char* ClassName() const override { return "TzanTiffIIFile"; }
  std::string GetSignature() const override { return "II"; }
  bool IsFile(TStream& AStream) const override { return kTiffFileSegmentClass.IsSegment(AStream); }
};
const TzanTiffIIFileClass kTiffIIFileClass;

class TzanTiffMMFileClass : public TFileClassOf<TzanTiffMMFile, TzanTiffIIFileClass> {
 public:
  const char* ClassName() const override { return "TzanTiffMMFile"; }
  std::string GetSignature() const override { return "MM"; }
};
const TzanTiffMMFileClass kTiffMMFileClass;

}  // namespace

const TzanMetaFileSegmentClass& TiffFileSegmentClass() { return kTiffFileSegmentClass; }
const TzanMetaFileClass& TiffIIFileClass() { return kTiffIIFileClass; }
const TzanMetaFileClass& TiffMMFileClass() { return kTiffMMFileClass; }

const TzanMetaFileSegmentClass& TzanTiffFileSegment::GetClass() const { return kTiffFileSegmentClass; }

void TzanTiffFileSegment::Clear() {
  FExif = nullptr;
  TzanMetaFileSegment::Clear();
}

void TzanTiffFileSegment::DoLoadFromStream(TStream& AStream) {
  FExif = new TzanExifEx(this);
  try {
    FExif->LoadFromStream(AStream, 0);
  } catch (...) {
    // What ended the chain does not take the directories before it along:
    // a truncated file still shows the previews it holds.
  }
}

const TzanMetaFileClass& TzanTiffIIFile::GetClass() const { return kTiffIIFileClass; }

void TzanTiffIIFile::DoLoadFromStream(TStream& AStream) {
  TzanMetaFileSegment* segment = kTiffFileSegmentClass.Create(this);
  segment->FStreamOffset = AStream.Position();
  segment->LoadFromStream(AStream);
}

const TzanMetaFileClass& TzanTiffMMFile::GetClass() const { return kTiffMMFileClass; }

}  // namespace zan
