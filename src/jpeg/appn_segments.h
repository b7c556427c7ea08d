// Camera and editor previews stored in JPEG application segments: ready
// JPEGs, abbreviated JPEGs completed with a fixed header, and raw pixels
// (RGB, 4:2:2 YCbCr, 16-bit 5-6-5) turned into BMP files.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "jpeg/jpeg_file.h"

namespace zan {

// A 589-byte baseline JPEG header (start of image up to the start of scan):
// quality-85 quantisation tables at offsets 7 and 72, the Huffman tables of
// ITU-T T.81 Annex K.3, a 3-component frame (Y 2x1, Cb and Cr 1x1) whose
// height and width stand big-endian at offsets 561 and 563.
inline constexpr size_t kAbbreviatedJpegHeaderSize = 589;
const std::array<uint8_t, kAbbreviatedJpegHeaderSize>& AbbreviatedJpegHeader();

// ---- HP segments (4:2:2 YCbCr pixels behind a header of 32-bit words) -----------

class TzanJpegFileBaseHPSegment;

class TzanJpegFileBaseHPSegmentClass : public TzanJpegFileThumbnailSegmentClass {
 public:
  TzanJpegMarker2 GetMarker() const override { return 0xE4; }
  bool IsMultiSegment() const override { return true; }
  // The base test, then IsSegmentEx2.
  bool IsSegmentEx(TStream& AStream, bool ACheckMarker, int32_t AIndex) const override;
  // Reads the header words; true when its Index is AIndex + 1.
  virtual bool IsSegmentEx2(TStream& AStream, int32_t AIndex) const;
  // Header length in 32-bit words.
  virtual int32_t GetHeaderLength() const { return 6; }
};

// Header words, native order: Unknown1, Width, Height, Unknown2, Index
// (1-based position in the group), Count, and two more words in HPSC.
struct TzanJpegFileBaseHPHeader {
  uint32_t Unknown1 = 0;
  uint32_t Width = 0;
  uint32_t Height = 0;
  uint32_t Unknown2 = 0;
  uint32_t Index = 0;
  uint32_t Count = 0;
  uint32_t Extra[2] = {0, 0};
};

class TzanJpegFileBaseHPSegment : public TzanJpegFileThumbnailSegment {
 public:
  using TzanJpegFileThumbnailSegment::TzanJpegFileThumbnailSegment;
  const TzanJpegFileBaseHPSegmentClass& HPClass() const;

  // Steps over the signature, then LoadHeader; the pixel bytes go to the tail.
  void LoadSegmentData(TStream& AStream, int32_t AIndex) override;
  // The 24-bit BMP of Width x Height from the 4:2:2 bytes of the tail.
  void LoadTailData(TStream& AStream) override;
  // Reads and checks the header of segment AIndex of the group.
  virtual void LoadHeader(TStream& AStream, int32_t AIndex);

  const TzanJpegFileBaseHPHeader& Header() const { return FHeader; }

 protected:
  TzanJpegFileBaseHPHeader FHeader;
};

class TzanJpegFileH3X0Segment : public TzanJpegFileBaseHPSegment {
 public:
  using TzanJpegFileBaseHPSegment::TzanJpegFileBaseHPSegment;
  const TzanMetaFileSegmentClass& GetClass() const override;
};

class TzanJpegFileHPSCSegment : public TzanJpegFileBaseHPSegment {
 public:
  using TzanJpegFileBaseHPSegment::TzanJpegFileBaseHPSegment;
  const TzanMetaFileSegmentClass& GetClass() const override;
};

// "SCRNAIL\0": a 320 x 240 4:2:2 picture spread over the first segment and
// every APP4 segment after it; no header is read.
class TzanJpegFileSCRNAILSegment : public TzanJpegFileBaseHPSegment {
 public:
  explicit TzanJpegFileSCRNAILSegment(TzanMetaObject* AOwner);
  const TzanMetaFileSegmentClass& GetClass() const override;
  void LoadSegmentData(TStream& AStream, int32_t AIndex) override;
  void LoadHeader(TStream& AStream, int32_t AIndex) override;
};

// Converts 4:2:2 bytes (Cb Y Cr Y ...) into a 24-bit BMP of width x height
// (top row first in the source); pixels without data stay black.
void YCbCr422ToBitmap(TStream& ASource, int32_t AWidth, int32_t AHeight, TzanMemoryStream& ATarget);

// ---- JFIF and JFXX (APP0) ------------------------------------------------------------

struct TzanJFIFHeader {
  uint8_t VersionMajor = 0;
  uint8_t VersionMinor = 0;
  uint8_t ResolutionUnit = 0;
  uint16_t ResolutionX = 0;
  uint16_t ResolutionY = 0;
};

// The JFIF thumbnail: packed RGB after the 7-byte header.
class TzanJpegFileJFIFSegment : public TzanJpegFileThumbnailSegment {
 public:
  using TzanJpegFileThumbnailSegment::TzanJpegFileThumbnailSegment;
  const TzanMetaFileSegmentClass& GetClass() const override;
  void LoadSegmentData(TStream& AStream, int32_t AIndex) override;

  const TzanJFIFHeader& Header() const { return FHeader; }
  // "major.minor", the minor with at least two digits (1.02).
  std::string Version() const;
  // The decoded preview, or null without one.
  const Bitmap32* ThumbnailHandle();

 private:
  TzanJFIFHeader FHeader;
};

// The JFIF extension: a JPEG (code 0x10), 8-bit palette (0x11) or 24-bit
// (0x13) thumbnail.
class TzanJpegFileJFXXSegment : public TzanJpegFileThumbnailSegment {
 public:
  using TzanJpegFileThumbnailSegment::TzanJpegFileThumbnailSegment;
  const TzanMetaFileSegmentClass& GetClass() const override;
  void LoadSegmentData(TStream& AStream, int32_t AIndex) override;
  const Bitmap32* ThumbnailHandle();
};

// ---- JPEG previews in APP2 .. APP5 ------------------------------------------------------

// APP2 whose payload is a JPEG (FF D8 FF first), continued by one more APP2.
class TzanJpegFileAPP2_1ThumbSegment : public TzanJpegFileThumbnailSegment {
 public:
  using TzanJpegFileThumbnailSegment::TzanJpegFileThumbnailSegment;
  const TzanMetaFileSegmentClass& GetClass() const override;
  void LoadTailData(TStream& AStream) override;
};

// As above with one free byte in front of the JPEG.
class TzanJpegFileAPP2_2ThumbSegment : public TzanJpegFileAPP2_1ThumbSegment {
 public:
  using TzanJpegFileAPP2_1ThumbSegment::TzanJpegFileAPP2_1ThumbSegment;
  const TzanMetaFileSegmentClass& GetClass() const override;
  void LoadTailData(TStream& AStream) override;
};

// A JPEG spread over APP3, APP4 and APP5 in turn.
class TzanJpegFileAPP3ThumbSegment : public TzanJpegFileThumbnailSegment {
 public:
  using TzanJpegFileThumbnailSegment::TzanJpegFileThumbnailSegment;
  const TzanMetaFileSegmentClass& GetClass() const override;
  void LoadTailData(TStream& AStream) override;
};

// "PDBigTN\0" and 10 more bytes, then a JPEG.
class TzanJpegFileAPP4Thumb1Segment : public TzanJpegFileThumbnailSegment {
 public:
  using TzanJpegFileThumbnailSegment::TzanJpegFileThumbnailSegment;
  const TzanMetaFileSegmentClass& GetClass() const override;
  void LoadSegmentData(TStream& AStream, int32_t AIndex) override;
};

// Any other non-empty APP4: abbreviated 4:2:2 scan data, 480 x 360 or
// 320 x 240, completed with AbbreviatedJpegHeader.
class TzanJpegFileAPP4Thumb2Segment : public TzanJpegFileThumbnailSegment {
 public:
  using TzanJpegFileThumbnailSegment::TzanJpegFileThumbnailSegment;
  const TzanMetaFileSegmentClass& GetClass() const override;
  void LoadSegmentData(TStream& AStream, int32_t AIndex) override;

 private:
  void Build(TStream& APayload, int32_t AWidth, int32_t AHeight);
};

// APP5 with 00 00 00 01 at payload offset 128: tables, size and scan data.
class TzanJpegFileAPP5ThumbSegment : public TzanJpegFileThumbnailSegment {
 public:
  using TzanJpegFileThumbnailSegment::TzanJpegFileThumbnailSegment;
  const TzanMetaFileSegmentClass& GetClass() const override;
  void LoadSegmentData(TStream& AStream, int32_t AIndex) override;
};

// "QVGA\0" on APP2, then a JPEG.
class TzanJpegFileJpegQVGAThumbSegment : public TzanJpegFileThumbnailSegment {
 public:
  using TzanJpegFileThumbnailSegment::TzanJpegFileThumbnailSegment;
  const TzanMetaFileSegmentClass& GetClass() const override;
  void LoadSegmentData(TStream& AStream, int32_t AIndex) override;
};

// ---- raw previews in APP7 and APP10 ------------------------------------------------------

// "prv" segments numbered "0", "1", ...: packed RGB, size in the first.
class TzanJpegFilePrvSegment : public TzanJpegFileThumbnailSegment {
 public:
  using TzanJpegFileThumbnailSegment::TzanJpegFileThumbnailSegment;
  const TzanMetaFileSegmentClass& GetClass() const override;
  void LoadSegmentData(TStream& AStream, int32_t AIndex) override;
  void LoadTailData(TStream& AStream) override;

  uint16_t FBitCount = 0;
  uint16_t FWidth = 0;
  uint16_t FHeight = 0;
};

// "<SIEMENS THUMBNAIL>": 32 x 32 pixels of 16-bit 5-6-5.
class TzanJpegFileSIEMENSTHUMBNAILSegment : public TzanJpegFileThumbnailSegment {
 public:
  using TzanJpegFileThumbnailSegment::TzanJpegFileThumbnailSegment;
  const TzanMetaFileSegmentClass& GetClass() const override;
  void LoadSegmentData(TStream& AStream, int32_t AIndex) override;
};

// ---- "zanThumb\0" on APP9 ------------------------------------------------------------------

// Items of size-prefixed pictures; the class cannot store a thumbnail, so the
// walk only steps over these segments.
class TzanJpegFileThumSegment : public TzanJpegFileSegment {
 public:
  using TzanJpegFileSegment::TzanJpegFileSegment;
  const TzanMetaFileSegmentClass& GetClass() const override;
  void LoadTailData(TStream& AStream) override;
};

class TzanJpegFileThumSegmentItem : public TzanMetaObject {
 public:
  using TzanMetaObject::TzanMetaObject;
  const char* ClassName() const override { return "TzanJpegFileThumSegmentItem"; }
};

// ---- descriptors ------------------------------------------------------------------------------

const TzanJpegFileSegmentClass& JpegFileH3X0SegmentClass();
const TzanJpegFileSegmentClass& JpegFileHPSCSegmentClass();
const TzanJpegFileSegmentClass& JpegFileSCRNAILSegmentClass();
const TzanJpegFileSegmentClass& JpegFileJFIFSegmentClass();
const TzanJpegFileSegmentClass& JpegFileJFXXSegmentClass();
const TzanJpegFileSegmentClass& JpegFileAPP2_1ThumbSegmentClass();
const TzanJpegFileSegmentClass& JpegFileAPP2_2ThumbSegmentClass();
const TzanJpegFileSegmentClass& JpegFileAPP3ThumbSegmentClass();
const TzanJpegFileSegmentClass& JpegFileAPP4Thumb1SegmentClass();
const TzanJpegFileSegmentClass& JpegFileAPP4Thumb2SegmentClass();
const TzanJpegFileSegmentClass& JpegFileAPP5ThumbSegmentClass();
const TzanJpegFileSegmentClass& JpegFileJpegQVGAThumbSegmentClass();
const TzanJpegFileSegmentClass& JpegFilePrvSegmentClass();
const TzanJpegFileSegmentClass& JpegFileSIEMENSTHUMBNAILSegmentClass();
const TzanJpegFileSegmentClass& JpegFileThumSegmentClass();

// Registers the preview segment classes above with the JPEG segment registry.
void RegisterAppnSegmentClasses();

}  // namespace zan
