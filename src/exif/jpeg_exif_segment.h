// The APP1 segment of a JPEG file that starts with "Exif" and a zero byte:
// its TIFF structure (a TzanExifEx) holds the camera's thumbnail and the
// orientation of the main image.
//
// Payload: "Exif" 00, one more byte, then the TIFF header; offsets count
// from the header. A payload whose signature stands 4 bytes in is accepted
// too (its header is then at payload offset 10).
#pragma once

#include <cstdint>

#include "exif/exif_ex.h"
#include "jpeg/jpeg_file.h"

namespace zan {

class TzanJpegFileExifSegment : public TzanJpegFileSegment {
 public:
  using TzanJpegFileSegment::TzanJpegFileSegment;
  const TzanMetaFileSegmentClass& GetClass() const override;
  void Clear() override;

  // Loads the TIFF structure from the payload copy; offsets beyond the
  // segment reach nothing here.
  void LoadSegmentData(TStream& AStream, int32_t AIndex) override;
  // With the file stream at the segment: every directory without a preview
  // (or with one cut short by the segment's end) reads its 513/514 preview
  // from the file, offsets counted from the TIFF header in the file.
  void PostLoadFromStream(int64_t AStart, TStream& AStream) override;

  // The structure; an empty one owned by the segment is made on first use.
  TzanExifEx& Exif();
  // The structure, or null when none was made.
  TzanExifEx* ExifIfLoaded() const { return FExif; }

 private:
  TzanExifEx* FExif = nullptr;  // a child
};

class TzanJpegFileExifSegmentClass : public TJpegSegmentClassOf<TzanJpegFileExifSegment> {
 public:
  const char* ClassName() const override { return "TzanJpegFileExifSegment"; }
  TzanJpegMarker2 GetMarker() const override { return 0xE1; }
  std::string GetSignature() const override { return std::string("Exif\0", 5); }
  bool IsInfoSegment() const override { return true; }
  bool CanStoreThumbnail() const override { return true; }
  // An APP1 segment with the signature (at the payload's start or 4 bytes
  // in) and a TIFF header after the byte that follows it.
  bool IsSegmentEx(TStream& AStream, bool ACheckMarker, int32_t AIndex) const override;
};

const TzanJpegFileExifSegmentClass& JpegFileExifSegmentClass();

}  // namespace zan
