#include "jpeg/psd_file.h"

#include <algorithm>

namespace zan {

namespace {

// The plain section class: stands for the colour mode data section, which
// is only stepped over.
class TzanPsdFilePlainSegment : public TzanPsdFileSegment {
 public:
  using TzanPsdFileSegment::TzanPsdFileSegment;
  const TzanMetaFileSegmentClass& GetClass() const override { return PsdFileSegmentClass(); }
};

class TzanPsdFilePlainSegmentClass : public TSegmentClassOf<TzanPsdFilePlainSegment, TzanPsdFileSegmentClass> {
 public:
  const char* ClassName() const override { return "TzanPsdFileSegment"; }
};

class TzanPsdFileHeaderSegmentClass : public TSegmentClassOf<TzanPsdFileHeaderSegment, TzanPsdFileSegmentClass> {
 public:
  const char* ClassName() const override { return "TzanPsdFileHeaderSegment"; }
  void Skip(TStream& AStream) const override { AStream.Skip(26); }
};

class TzanPsdFileResourceSegmentClass
    : public TSegmentClassOf<TzanPsdFileResourceSegment, TzanPsdFileSegmentClass> {
 public:
  const char* ClassName() const override { return "TzanPsdFileResourceSegment"; }
  std::string GetAboutName() const override { return "Adobe resource"; }
  bool IsInfoSegment() const override { return true; }
};

}  // namespace

const TzanPsdFileSegmentClass& PsdFileSegmentClass() {
  static const TzanPsdFilePlainSegmentClass c;
  return c;
}
const TzanPsdFileSegmentClass& PsdFileHeaderSegmentClass() {
  static const TzanPsdFileHeaderSegmentClass c;
  return c;
}
const TzanPsdFileSegmentClass& PsdFileResourceSegmentClass() {
  static const TzanPsdFileResourceSegmentClass c;
  return c;
}
const TzanPsdFileClass& PsdFileClass() {
  static const TzanPsdFileClass c;
  return c;
}

void TzanPsdFileSegmentClass::Skip(TStream& AStream) const {
  const uint32_t length = AStream.ReadU32BE();
  AStream.Skip(std::min<int64_t>(length, AStream.Remaining()));
}

void TzanPsdFileSegment::DoLoadFromStream(TStream& AStream) {
  const uint32_t length = AStream.ReadU32BE();
  if (length == 0) return;
  TMemoryStream section;
  // CopyFrom refuses a length the file cannot back before allocating.
  section.CopyFrom(AStream, length);
  section.SetPosition(0);
  LoadSectionData(section);
}

void TzanPsdFileSegment::LoadSectionData(TStream&) {}

const TzanMetaFileSegmentClass& TzanPsdFileHeaderSegment::GetClass() const { return PsdFileHeaderSegmentClass(); }

void TzanPsdFileHeaderSegment::DoLoadFromStream(TStream& AStream) { AStream.ReadBuffer(&FHeader, sizeof FHeader); }

const TzanMetaFileSegmentClass& TzanPsdFileResourceSegment::GetClass() const {
  return PsdFileResourceSegmentClass();
}

void TzanPsdFileResourceSegment::Clear() {
  F8BIM = nullptr;  // freed with the children
  TzanPsdFileSegment::Clear();
}

void TzanPsdFileResourceSegment::LoadSectionData(TStream& AStream) {
  F8BIM = new Tzan8BIM(this);
  F8BIM->LoadFromStream(AStream);
}

const TzanMetaFileClass& TzanPsdFile::GetClass() const { return PsdFileClass(); }

void TzanPsdFile::DoLoadFromStream(TStream& AStream) {
  PsdFileHeaderSegmentClass().Skip(AStream);
  PsdFileSegmentClass().Skip(AStream);
  auto* resources = static_cast<TzanPsdFileResourceSegment*>(PsdFileResourceSegmentClass().Create(this));
  resources->FStreamOffset = AStream.Position();
  resources->LoadFromStream(AStream);
}

}  // namespace zan
