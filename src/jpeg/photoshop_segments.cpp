#include "jpeg/photoshop_segments.h"

#include <string>

namespace zan {

namespace {

using namespace std::string_literals;

class TzanJpegFilePhotoshopSegmentClass : public TJpegSegmentClassOf<TzanJpegFilePhotoshopSegment> {
 public:
  const char* ClassName() const override { return "TzanJpegFilePhotoshopSegment"; }
  TzanJpegMarker2 GetMarker() const override { return 0xED; }
  std::string GetSignature() const override { return "Photoshop 3.0\0"s; }
  bool IsMultiSegment() const override { return true; }
  bool CanStoreThumbnail() const override { return true; }
};

class TzanJpegFileAdobePhotoshopSegmentClass : public TJpegSegmentClassOf<TzanJpegFileAdobePhotoshopSegment> {
 public:
  const char* ClassName() const override { return "TzanJpegFileAdobePhotoshopSegment"; }
  TzanJpegMarker2 GetMarker() const override { return 0xED; }
  std::string GetSignature() const override { return "Adobe_Photoshop2.5:"; }
  bool CanStoreThumbnail() const override { return true; }
};

}  // namespace

const TzanJpegFileSegmentClass& JpegFilePhotoshopSegmentClass() {
  static const TzanJpegFilePhotoshopSegmentClass c;
  return c;
}

const TzanJpegFileSegmentClass& JpegFileAdobePhotoshopSegmentClass() {
  static const TzanJpegFileAdobePhotoshopSegmentClass c;
  return c;
}

// ---- "Photoshop 3.0" ----------------------------------------------------------------

const TzanMetaFileSegmentClass& TzanJpegFilePhotoshopSegment::GetClass() const {
  return JpegFilePhotoshopSegmentClass();
}

void TzanJpegFilePhotoshopSegment::Clear() {
  F8BIM = nullptr;  // freed with the children
  TzanJpegFileSegment::Clear();
}

Tzan8BIM& TzanJpegFilePhotoshopSegment::D8BIM() {
  if (F8BIM == nullptr) F8BIM = new Tzan8BIM(this);
  return *F8BIM;
}

void TzanJpegFilePhotoshopSegment::LoadTailData(TStream& AStream) {
  try {
    F8BIM = new Tzan8BIM(this);
    F8BIM->LoadFromStream(AStream);
    LoadExtraFromStream(AStream);
  } catch (...) {
    // The blocks read before the failure stay.
  }
}

// ---- "Adobe_Photoshop2.5:" -----------------------------------------------------------

const TzanMetaFileSegmentClass& TzanJpegFileAdobePhotoshopSegment::GetClass() const {
  return JpegFileAdobePhotoshopSegmentClass();
}

void TzanJpegFileAdobePhotoshopSegment::Clear() {
  F8BIM = nullptr;  // freed with the children
  TzanJpegFileSegment::Clear();
}

void TzanJpegFileAdobePhotoshopSegment::LoadSegmentData(TStream& AStream, int32_t AIndex) {
  TzanJpegFileSegment::LoadSegmentData(AStream, AIndex);
  FRec.XResolution = AStream.ReadU16BE();
  FRec.Unknown1 = AStream.ReadU16BE();
  FRec.YResolution = AStream.ReadU16BE();
  FRec.Unknown2 = AStream.ReadU16BE();
  if (AStream.Remaining() > 0) {
    F8BIM = new Tzan8BIM(this);
    F8BIM->LoadFromStream(AStream);
  }
}

}  // namespace zan
