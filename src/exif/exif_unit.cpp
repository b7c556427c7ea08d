#include "exif/exif_unit.h"

#include "exif/jpeg_exif_segment.h"
#include "exif/tiff_file.h"
#include "front/hooks.h"

namespace zan {

namespace {

// The IFD0 orientation of a structure; false when it has no tag 274.
bool FindOrientation(const TzanExif* AExif, int32_t& ACode) {
  if (AExif == nullptr || AExif->IFDCount() == 0) return false;
  TzanExifCustomIFD* ifd0 = AExif->GetIFD(0);
  if (!ifd0->HasTag(kTagOrientation)) return false;
  ACode = ifd0->GetEntryByTag(kTagOrientation, false)->Data().AsInteger();
  return true;
}

int32_t OrientationOfSegments(TzanMetaFile& AFile) {
  int32_t code = 0;
  for (int32_t i = 0; i < AFile.SegmentCount(); ++i) {
    TzanMetaObject* segment = AFile.Segments(i);
    if (auto* exif = dynamic_cast<TzanJpegFileExifSegment*>(segment)) {
      if (FindOrientation(exif->ExifIfLoaded(), code)) return code;
    } else if (auto* tiff = dynamic_cast<TzanTiffFileSegment*>(segment)) {
      if (FindOrientation(tiff->Exif(), code)) return code;
    }
  }
  return 0;
}

}  // namespace

int32_t JpegExifOrientation(TStream& AStream) {
  // Only the Exif segments are loaded; every other segment is stepped over.
  TzanJpegFile file;
  file.LoadFromStreamEx(AStream, true, &JpegFileExifSegmentClass());
  return OrientationOfSegments(file);
}

int32_t MainImageOrientation(TzanMetaFile& AFile) { return OrientationOfSegments(AFile); }

void RegisterExifUnit() {
  RegisterExifEntryClass(ExifPhotoShopSettingEntryClass());
  RegisterMetaFileClass(TiffIIFileClass());
  RegisterMetaFileClass(TiffMMFileClass());
  RegisterJpegFileSegmentClass(JpegFileExifSegmentClass());
  Hooks().jpegOrientation = &JpegExifOrientation;
  Hooks().mainImageOrientation = &MainImageOrientation;
}

}  // namespace zan
