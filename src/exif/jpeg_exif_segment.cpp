#include "exif/jpeg_exif_segment.h"

#include <cstring>

namespace zan {

namespace {

const TzanJpegFileExifSegmentClass kExifSegmentClass;

constexpr char kSignature[5] = {'E', 'x', 'i', 'f', '\0'};

bool ReadSignature(TStream& AStream) {
  char b[5];
  AStream.ReadBuffer(b, 5);
  return std::memcmp(b, kSignature, 5) == 0;
}

}  // namespace

const TzanJpegFileExifSegmentClass& JpegFileExifSegmentClass() { return kExifSegmentClass; }

bool TzanJpegFileExifSegmentClass::IsSegmentEx(TStream& AStream, bool ACheckMarker, int32_t) const {
  const int64_t start = AStream.Position();
  if (AStream.ReadU8() != 0xFF) return false;
  const uint8_t marker = AStream.ReadU8();
  if (ACheckMarker && marker != GetMarker()) return false;
  if (AStream.ReadU16BE() < 7) return false;
  if (!ReadSignature(AStream)) {
    AStream.SetPosition(start + 4 + 4);
    if (!ReadSignature(AStream)) return false;
  }
  AStream.Skip(1);
  return TzanExif::IsExif(AStream);
}

const TzanMetaFileSegmentClass& TzanJpegFileExifSegment::GetClass() const { return kExifSegmentClass; }

void TzanJpegFileExifSegment::Clear() {
  FExif = nullptr;
  TzanJpegFileSegment::Clear();
}

TzanExifEx& TzanJpegFileExifSegment::Exif() {
  if (FExif == nullptr) FExif = new TzanExifEx(this);
  return *FExif;
}

void TzanJpegFileExifSegment::LoadSegmentData(TStream& AStream, int32_t) {
  if (!ReadSignature(AStream)) AStream.Skip(4);
  AStream.Skip(1);
  Exif().LoadFromStream(AStream, 0);
  AStream.Seek(0, SeekOrigin::End);
}

void TzanJpegFileExifSegment::PostLoadFromStream(int64_t AStart, TStream& AStream) {
  if (FExif == nullptr) return;
  try {
    TzanJpegFileSegment::PostLoadFromStream(AStart, AStream);
    // The TIFF header in the file (taken to follow the signature directly).
    AStream.Skip(1);
    FExif->PostLoadFromStream(AStart, AStream);
  } catch (...) {
  }
}

}  // namespace zan
