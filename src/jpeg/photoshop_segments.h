// Photoshop resources in JPEG APP13 segments: "Photoshop 3.0" groups (the
// resource list may run over several consecutive segments) and the older
// single "Adobe_Photoshop2.5:" segment.
#pragma once

#include <cstdint>

#include "jpeg/jpeg_file.h"
#include "jpeg/photoshop.h"

namespace zan {

class TzanJpegFilePhotoshopSegment : public TzanJpegFileSegment {
 public:
  using TzanJpegFileSegment::TzanJpegFileSegment;
  const TzanMetaFileSegmentClass& GetClass() const override;
  void Clear() override;
  // The concatenated resource data of the group.
  void LoadTailData(TStream& AStream) override;

  // The resource list, created empty on first use.
  Tzan8BIM& D8BIM();

 private:
  Tzan8BIM* F8BIM = nullptr;  // a child
};

struct TzanJpegFileAdobePhotoshopSegmentRec {
  uint16_t XResolution = 0;
  uint16_t Unknown1 = 0;
  uint16_t YResolution = 0;
  uint16_t Unknown2 = 0;
};

class TzanJpegFileAdobePhotoshopSegment : public TzanJpegFileSegment {
 public:
  using TzanJpegFileSegment::TzanJpegFileSegment;
  const TzanMetaFileSegmentClass& GetClass() const override;
  void Clear() override;
  void LoadSegmentData(TStream& AStream, int32_t AIndex) override;

  TzanJpegFileAdobePhotoshopSegmentRec& Rec() { return FRec; }
  Tzan8BIM* D8BIM() const { return F8BIM; }

 private:
  TzanJpegFileAdobePhotoshopSegmentRec FRec;
  Tzan8BIM* F8BIM = nullptr;  // a child
};

const TzanJpegFileSegmentClass& JpegFilePhotoshopSegmentClass();
const TzanJpegFileSegmentClass& JpegFileAdobePhotoshopSegmentClass();

}  // namespace zan
