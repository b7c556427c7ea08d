#include "jpeg/appn_segments.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "jpeg/preview_budget.h"
#include "meta/utils.h"
#include "platform/codecs.h"

namespace zan {

namespace {

using namespace std::string_literals;

// ---- the abbreviated JPEG header ----------------------------------------------

// ITU-T T.81 Annex K.1 / K.2 tables scaled to quality 85, zigzag order.
constexpr uint8_t kLuminanceQ85[64] = {5,  3,  4,  4,  4,  3,  5,  4,  4,  4,  5,  5,  5,  6,  7,  12,
                                       8,  7,  7,  7,  7,  15, 11, 11, 9,  12, 17, 15, 18, 18, 17, 15,
                                       17, 17, 19, 22, 28, 23, 19, 20, 26, 21, 17, 17, 24, 33, 24, 26,
                                       29, 29, 31, 31, 31, 19, 23, 34, 36, 34, 30, 36, 28, 30, 31, 30};
constexpr uint8_t kChrominanceQ85Head[14] = {5, 5, 5, 7, 6, 7, 14, 8, 8, 14, 30, 20, 17, 20};

// Annex K.3 Huffman tables: 16 code-length counts, then the values.
constexpr uint8_t kDcLuminanceBits[16] = {0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0};
constexpr uint8_t kDcChrominanceBits[16] = {0, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0};
constexpr uint8_t kDcValues[12] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
constexpr uint8_t kAcLuminanceBits[16] = {0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7d};
constexpr uint8_t kAcLuminanceValues[162] = {
    0x01, 0x02, 0x03, 0x00, 0x04, 0x11, 0x05, 0x12, 0x21, 0x31, 0x41, 0x06, 0x13, 0x51, 0x61, 0x07, 0x22,
    0x71, 0x14, 0x32, 0x81, 0x91, 0xa1, 0x08, 0x23, 0x42, 0xb1, 0xc1, 0x15, 0x52, 0xd1, 0xf0, 0x24, 0x33,
    0x62, 0x72, 0x82, 0x09, 0x0a, 0x16, 0x17, 0x18, 0x19, 0x1a, 0x25, 0x26, 0x27, 0x28, 0x29, 0x2a, 0x34,
    0x35, 0x36, 0x37, 0x38, 0x39, 0x3a, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55,
    0x56, 0x57, 0x58, 0x59, 0x5a, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76,
    0x77, 0x78, 0x79, 0x7a, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96,
    0x97, 0x98, 0x99, 0x9a, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5,
    0xb6, 0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3, 0xd4,
    0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe1, 0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8, 0xe9, 0xea, 0xf1,
    0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa};
constexpr uint8_t kAcChrominanceBits[16] = {0, 2, 1, 2, 4, 4, 3, 4, 7, 5, 4, 4, 0, 1, 2, 0x77};
constexpr uint8_t kAcChrominanceValues[162] = {
    0x00, 0x01, 0x02, 0x03, 0x11, 0x04, 0x05, 0x21, 0x31, 0x06, 0x12, 0x41, 0x51, 0x07, 0x61, 0x71, 0x13,
    0x22, 0x32, 0x81, 0x08, 0x14, 0x42, 0x91, 0xa1, 0xb1, 0xc1, 0x09, 0x23, 0x33, 0x52, 0xf0, 0x15, 0x62,
    0x72, 0xd1, 0x0a, 0x16, 0x24, 0x34, 0xe1, 0x25, 0xf1, 0x17, 0x18, 0x19, 0x1a, 0x26, 0x27, 0x28, 0x29,
    0x2a, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3a, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54,
    0x55, 0x56, 0x57, 0x58, 0x59, 0x5a, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75,
    0x76, 0x77, 0x78, 0x79, 0x7a, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94,
    0x95, 0x96, 0x97, 0x98, 0x99, 0x9a, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3,
    0xb4, 0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2,
    0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8, 0xe9, 0xea,
    0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa};

std::array<uint8_t, kAbbreviatedJpegHeaderSize> BuildAbbreviatedJpegHeader() {
  std::vector<uint8_t> h;
  auto put = [&](std::initializer_list<uint8_t> bytes) { h.insert(h.end(), bytes.begin(), bytes.end()); };
  auto putArray = [&](const uint8_t* p, size_t n) { h.insert(h.end(), p, p + n); };
  put({0xFF, 0xD8});
  put({0xFF, 0xDB, 0x00, 0x84, 0x00});
  putArray(kLuminanceQ85, 64);
  put({0x01});
  putArray(kChrominanceQ85Head, 14);
  h.insert(h.end(), 50, 30);
  put({0xFF, 0xC4, 0x01, 0xA2});
  put({0x00});
  putArray(kDcLuminanceBits, 16);
  putArray(kDcValues, 12);
  put({0x10});
  putArray(kAcLuminanceBits, 16);
  putArray(kAcLuminanceValues, 162);
  put({0x01});
  putArray(kDcChrominanceBits, 16);
  putArray(kDcValues, 12);
  put({0x11});
  putArray(kAcChrominanceBits, 16);
  putArray(kAcChrominanceValues, 162);
  put({0xFF, 0xC0, 0x00, 0x11, 0x08, 0x00, 0x78, 0x00, 0xA0});
  put({0x03, 0x01, 0x21, 0x00, 0x02, 0x11, 0x01, 0x03, 0x11, 0x01});
  put({0xFF, 0xDA, 0x00, 0x0C, 0x03, 0x01, 0x00, 0x02, 0x11, 0x03, 0x11, 0x00, 0x3F, 0x00});
  std::array<uint8_t, kAbbreviatedJpegHeaderSize> out{};
  if (h.size() != out.size()) throw Exception("AbbreviatedJpegHeader: wrong size");
  std::copy(h.begin(), h.end(), out.begin());
  return out;
}

constexpr int64_t kHeaderHeightOffset = 561;
constexpr int64_t kHeaderWidthOffset = 563;
constexpr int64_t kHeaderLuminanceOffset = 7;
constexpr int64_t kHeaderChrominanceOffset = 72;

// Empties the stream and writes the abbreviated header into it.
void WriteAbbreviatedHeader(TzanMemoryStream& target) {
  target.SetSize(0);
  target.SetPosition(0);
  const auto& header = AbbreviatedJpegHeader();
  target.WriteBuffer(header.data(), static_cast<int64_t>(header.size()));
}

void PutBE16At(TzanMemoryStream& target, int64_t offset, uint32_t value) {
  const uint8_t b[2] = {static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
  target.SetPosition(offset);
  target.WriteBuffer(b, 2);
}

// Copies count bytes of the source at its position to the target at offset.
void CopyAt(TzanMemoryStream& target, int64_t offset, TStream& source, int64_t count) {
  target.SetPosition(offset);
  target.CopyFrom(source, count);
}

// Makes the rest of the stream the segment's preview (nothing when empty).
void RestToPreview(TzanMetaObject& node, TStream& AStream) {
  if (AStream.Remaining() <= 0) return;
  node.ClearThumbnail();
  node.ThumbnailStream().CopyRest(AStream);
}

}  // namespace

const std::array<uint8_t, kAbbreviatedJpegHeaderSize>& AbbreviatedJpegHeader() {
  static const auto header = BuildAbbreviatedJpegHeader();
  return header;
}

// ---- 4:2:2 YCbCr ------------------------------------------------------------------

void YCbCr422ToBitmap(TStream& ASource, int32_t AWidth, int32_t AHeight, TzanMemoryStream& ATarget) {
  const int64_t rowSize = BitmapRowSize(AWidth, 24);
  CheckPreviewBudget(54 + rowSize * AHeight, ASource.Remaining());
  ATarget.SetSize(0);
  ATarget.SetPosition(0);
  WriteBitmapHeaders(ATarget, AWidth, AHeight, 24, true);

  std::vector<uint8_t> data(static_cast<size_t>(ASource.Remaining()));
  ASource.ReadBuffer(data.data(), static_cast<int64_t>(data.size()));
  uint8_t* pixels = ATarget.Memory() + 54;
  auto channel = [](double v) {
    // Nearest, halves to even (the default rounding mode), then clamped.
    const double r = std::nearbyint(v);
    return static_cast<uint8_t>(std::clamp(r, 0.0, 255.0));
  };
  // Cb and Cr carry over from pixel pair to pixel pair and from row to row.
  int cb = 128;
  int cr = 128;
  size_t p = 0;
  for (int64_t k = 0; k < AHeight; ++k) {
    uint8_t* row = pixels + (AHeight - 1 - k) * rowSize;
    for (int64_t count = 0; count < 2 * int64_t(AWidth); ++count) {
      if (p >= data.size()) return;
      const int b = data[p++];
      if (count % 2 == 1) {
        const double y = b;
        const double r = y + 1.402 * (cr - 128);
        const double bl = y + 1.772 * (cb - 128);
        const double g = (y - 0.114 * bl - 0.299 * r) / 0.587;
        uint8_t* px = row + (count / 2) * 3;
        px[0] = channel(bl);
        px[1] = channel(g);
        px[2] = channel(r);
      } else if (count % 4 == 0) {
        cb = b;
      } else {
        cr = b;
      }
    }
  }
}

// ---- HP segments ------------------------------------------------------------------

bool TzanJpegFileBaseHPSegmentClass::IsSegmentEx(TStream& AStream, bool ACheckMarker, int32_t AIndex) const {
  return TzanJpegFileSegmentClass::IsSegmentEx(AStream, ACheckMarker, AIndex) && IsSegmentEx2(AStream, AIndex);
}

bool TzanJpegFileBaseHPSegmentClass::IsSegmentEx2(TStream& AStream, int32_t AIndex) const {
  uint32_t words[8] = {};
  const int32_t n = std::clamp(GetHeaderLength(), 0, 8);
  for (int32_t i = 0; i < n; ++i) words[i] = AStream.ReadU32BE();
  return int64_t(words[4]) == int64_t(AIndex) + 1;
}

const TzanJpegFileBaseHPSegmentClass& TzanJpegFileBaseHPSegment::HPClass() const {
  return static_cast<const TzanJpegFileBaseHPSegmentClass&>(GetClass());
}

void TzanJpegFileBaseHPSegment::LoadSegmentData(TStream& AStream, int32_t AIndex) {
  TzanJpegFileThumbnailSegment::LoadSegmentData(AStream, AIndex);
  LoadHeader(AStream, AIndex);
}

void TzanJpegFileBaseHPSegment::LoadHeader(TStream& AStream, int32_t AIndex) {
  uint32_t words[8] = {};
  const int32_t n = std::clamp(HPClass().GetHeaderLength(), 0, 8);
  for (int32_t i = 0; i < n; ++i) words[i] = AStream.ReadU32BE();
  TzanJpegFileBaseHPHeader header;
  header.Unknown1 = words[0];
  header.Width = words[1];
  header.Height = words[2];
  header.Unknown2 = words[3];
  header.Index = words[4];
  header.Count = words[5];
  header.Extra[0] = words[6];
  header.Extra[1] = words[7];
  if (int64_t(header.Index) != int64_t(AIndex) + 1)
    throw EzanMetaException("Invalid Index in TzanJpegFileBaseHPHeader");
  if (AIndex > 0 && (header.Width != FHeader.Width || header.Height != FHeader.Height))
    throw EzanMetaException("Invalid size in TzanJpegFileBaseHPHeader");
  FHeader = header;
}

void TzanJpegFileBaseHPSegment::LoadTailData(TStream& AStream) {
  // A size of zero (no header was read) or one beyond a BMP's fields gives no preview.
  if (FHeader.Width == 0 || FHeader.Height == 0 || FHeader.Width > INT32_MAX || FHeader.Height > INT32_MAX) return;
  ClearThumbnail();
  YCbCr422ToBitmap(AStream, static_cast<int32_t>(FHeader.Width), static_cast<int32_t>(FHeader.Height),
                   ThumbnailStream());
}

TzanJpegFileSCRNAILSegment::TzanJpegFileSCRNAILSegment(TzanMetaObject* AOwner)
    : TzanJpegFileBaseHPSegment(AOwner) {
  FHeader.Width = 320;
  FHeader.Height = 240;
}

void TzanJpegFileSCRNAILSegment::LoadSegmentData(TStream& AStream, int32_t AIndex) {
  // Continuations go to the tail whole.
  if (AIndex == 0) TzanJpegFileSegment::LoadSegmentData(AStream, AIndex);
}

void TzanJpegFileSCRNAILSegment::LoadHeader(TStream&, int32_t) {}

namespace {

class TzanJpegFileH3X0SegmentClass
    : public TJpegSegmentClassOf<TzanJpegFileH3X0Segment, TzanJpegFileBaseHPSegmentClass> {
 public:
  const char* ClassName() const override { return "TzanJpegFileH3X0Segment"; }
  std::string GetSignature() const override { return "H3X0"; }
  int32_t GetHeaderLength() const override { return 6; }
};

class TzanJpegFileHPSCSegmentClass
    : public TJpegSegmentClassOf<TzanJpegFileHPSCSegment, TzanJpegFileBaseHPSegmentClass> {
 public:
  const char* ClassName() const override { return "TzanJpegFileHPSCSegment"; }
  std::string GetSignature() const override { return "HPSC"; }
  int32_t GetHeaderLength() const override { return 8; }
};

class TzanJpegFileSCRNAILSegmentClass
    : public TJpegSegmentClassOf<TzanJpegFileSCRNAILSegment, TzanJpegFileBaseHPSegmentClass> {
 public:
  const char* ClassName() const override { return "TzanJpegFileSCRNAILSegment"; }
  std::string GetSignature() const override { return "SCRNAIL\0"s; }
  int32_t GetHeaderLength() const override { return 6; }
  bool IsSegmentEx(TStream& AStream, bool ACheckMarker, int32_t AIndex) const override {
    if (AIndex == 0) return TzanJpegFileSegmentClass::IsSegmentEx(AStream, ACheckMarker, AIndex);
    // Every APP4 segment continues the group, whatever the marker check says.
    if (AStream.ReadU8() != 0xFF) return false;
    return AStream.ReadU8() == GetMarker();
  }
  bool IsSegmentEx2(TStream&, int32_t) const override { return true; }
};

}  // namespace

const TzanJpegFileSegmentClass& JpegFileH3X0SegmentClass() {
  static const TzanJpegFileH3X0SegmentClass c;
  return c;
}
const TzanJpegFileSegmentClass& JpegFileHPSCSegmentClass() {
  static const TzanJpegFileHPSCSegmentClass c;
  return c;
}
const TzanJpegFileSegmentClass& JpegFileSCRNAILSegmentClass() {
  static const TzanJpegFileSCRNAILSegmentClass c;
  return c;
}
const TzanMetaFileSegmentClass& TzanJpegFileH3X0Segment::GetClass() const { return JpegFileH3X0SegmentClass(); }
const TzanMetaFileSegmentClass& TzanJpegFileHPSCSegment::GetClass() const { return JpegFileHPSCSegmentClass(); }
const TzanMetaFileSegmentClass& TzanJpegFileSCRNAILSegment::GetClass() const {
  return JpegFileSCRNAILSegmentClass();
}

// ---- JFIF and JFXX ------------------------------------------------------------------------

void TzanJpegFileJFIFSegment::LoadSegmentData(TStream& AStream, int32_t) {
  try {
    AStream.Skip(5);  // "JFIF" and the zero that ends the identifier
    FHeader.VersionMajor = AStream.ReadU8();
    FHeader.VersionMinor = AStream.ReadU8();
    FHeader.ResolutionUnit = AStream.ReadU8();
    FHeader.ResolutionX = AStream.ReadU16BE();
    FHeader.ResolutionY = AStream.ReadU16BE();
    LoadPackedBitmap(AStream, 24);
    LoadExtraFromStream(AStream);
  } catch (...) {
    // A preview already attached keeps what was written.
  }
}

std::string TzanJpegFileJFIFSegment::Version() const {
  return std::to_string(FHeader.VersionMajor) + "." + IntToText(FHeader.VersionMinor, 2);
}

const Bitmap32* TzanJpegFileJFIFSegment::ThumbnailHandle() { return HasOwnThumbnail() ? GetThumbnail(0) : nullptr; }

void TzanJpegFileJFXXSegment::LoadSegmentData(TStream& AStream, int32_t AIndex) {
  try {
    TzanJpegFileThumbnailSegment::LoadSegmentData(AStream, AIndex);
    switch (AStream.ReadU8()) {
      case 0x10:
        ClearThumbnail();
        ThumbnailStream().CopyRest(AStream);
        break;
      case 0x11:
        LoadPackedBitmap(AStream, 8);
        break;
      case 0x13:
        LoadPackedBitmap(AStream, 24);
        break;
      default:
        break;
    }
    LoadExtraFromStream(AStream);
  } catch (...) {
  }
}

const Bitmap32* TzanJpegFileJFXXSegment::ThumbnailHandle() { return HasOwnThumbnail() ? GetThumbnail(0) : nullptr; }

namespace {

class TzanJpegFileJFIFSegmentClass
    : public TJpegSegmentClassOf<TzanJpegFileJFIFSegment, TzanJpegFileThumbnailSegmentClass> {
 public:
  const char* ClassName() const override { return "TzanJpegFileJFIFSegment"; }
  TzanJpegMarker2 GetMarker() const override { return 0xE0; }
  std::string GetSignature() const override { return "JFIF"; }
};

class TzanJpegFileJFXXSegmentClass
    : public TJpegSegmentClassOf<TzanJpegFileJFXXSegment, TzanJpegFileThumbnailSegmentClass> {
 public:
  const char* ClassName() const override { return "TzanJpegFileJFXXSegment"; }
  TzanJpegMarker2 GetMarker() const override { return 0xE0; }
  std::string GetSignature() const override { return "JFXX\0"s; }
};

}  // namespace

const TzanJpegFileSegmentClass& JpegFileJFIFSegmentClass() {
  static const TzanJpegFileJFIFSegmentClass c;
  return c;
}
const TzanJpegFileSegmentClass& JpegFileJFXXSegmentClass() {
  static const TzanJpegFileJFXXSegmentClass c;
  return c;
}
const TzanMetaFileSegmentClass& TzanJpegFileJFIFSegment::GetClass() const { return JpegFileJFIFSegmentClass(); }
const TzanMetaFileSegmentClass& TzanJpegFileJFXXSegment::GetClass() const { return JpegFileJFXXSegmentClass(); }

// ---- APP2 .. APP5 JPEG previews --------------------------------------------------------------

void TzanJpegFileAPP2_1ThumbSegment::LoadTailData(TStream& AStream) { RestToPreview(*this, AStream); }

void TzanJpegFileAPP2_2ThumbSegment::LoadTailData(TStream& AStream) {
  if (AStream.Remaining() <= 0) return;
  AStream.Skip(1);
  RestToPreview(*this, AStream);
}

void TzanJpegFileAPP3ThumbSegment::LoadTailData(TStream& AStream) { RestToPreview(*this, AStream); }

void TzanJpegFileAPP4Thumb1Segment::LoadSegmentData(TStream& AStream, int32_t AIndex) {
  TzanJpegFileThumbnailSegment::LoadSegmentData(AStream, AIndex);
  AStream.Skip(10);
  RestToPreview(*this, AStream);
}

void TzanJpegFileJpegQVGAThumbSegment::LoadSegmentData(TStream& AStream, int32_t AIndex) {
  TzanJpegFileThumbnailSegment::LoadSegmentData(AStream, AIndex);
  RestToPreview(*this, AStream);
}

void TzanJpegFileAPP4Thumb2Segment::Build(TStream& APayload, int32_t AWidth, int32_t AHeight) {
  TzanMemoryStream& preview = ThumbnailStream();
  WriteAbbreviatedHeader(preview);
  PutBE16At(preview, kHeaderHeightOffset, static_cast<uint32_t>(AHeight));
  PutBE16At(preview, kHeaderWidthOffset, static_cast<uint32_t>(AWidth));
  APayload.SetPosition(128);
  const uint16_t tables = APayload.ReadU16LE();
  int64_t scanStart = 11;
  if (tables == 0x0100 || tables == 0) {
    // The payload carries its own quantisation tables.
    APayload.SetPosition(0);
    CopyAt(preview, kHeaderLuminanceOffset, APayload, 64);
    CopyAt(preview, kHeaderChrominanceOffset, APayload, 64);
    scanStart = 130;
  }
  APayload.SetPosition(scanStart);
  preview.Seek(0, SeekOrigin::End);
  preview.CopyRest(APayload);
}

void TzanJpegFileAPP4Thumb2Segment::LoadSegmentData(TStream& AStream, int32_t) {
  ClearThumbnail();
  try {
    Build(AStream, 480, 360);
    // Scan data too short for 480 x 360 belongs to a 320 x 240 preview.
    bool endedEarly = false;
    FThumbnailStream->SetPosition(0);
    JpegDecode(*FThumbnailStream, 8, &endedEarly);
    if (endedEarly) Build(AStream, 320, 240);
  } catch (...) {
    try {
      Build(AStream, 320, 240);
    } catch (...) {
      // The preview keeps what was written.
    }
  }
  AStream.Seek(0, SeekOrigin::End);
}

void TzanJpegFileAPP5ThumbSegment::LoadSegmentData(TStream& AStream, int32_t) {
  ClearThumbnail();
  TzanMemoryStream& preview = ThumbnailStream();
  WriteAbbreviatedHeader(preview);
  AStream.SetPosition(0);
  CopyAt(preview, kHeaderLuminanceOffset, AStream, 64);
  CopyAt(preview, kHeaderChrominanceOffset, AStream, 64);
  AStream.Skip(4);
  CopyAt(preview, kHeaderWidthOffset, AStream, 2);
  CopyAt(preview, kHeaderHeightOffset, AStream, 2);
  preview.Seek(0, SeekOrigin::End);
  preview.CopyRest(AStream);
}

namespace {

class TzanJpegFileAPP2_1ThumbSegmentClass
    : public TJpegSegmentClassOf<TzanJpegFileAPP2_1ThumbSegment, TzanJpegFileThumbnailSegmentClass> {
 public:
  const char* ClassName() const override { return "TzanJpegFileAPP2_1ThumbSegment"; }
  TzanJpegMarker2 GetMarker() const override { return 0xE2; }
  bool IsMultiSegment() const override { return true; }
  bool IsSegmentEx(TStream& AStream, bool ACheckMarker, int32_t AIndex) const override {
    if (AIndex >= 2) return false;
    if (!TzanJpegFileSegmentClass::IsSegmentEx(AStream, ACheckMarker, AIndex)) return false;
    return AIndex != 0 || JpegAhead(AStream);
  }

 protected:
  // Does the payload (at the position) hold the JPEG start where this class expects it?
  virtual bool JpegAhead(TStream& AStream) const {
    uint8_t b[3];
    AStream.ReadBuffer(b, 3);
    return b[0] == 0xFF && b[1] == 0xD8 && b[2] == 0xFF;
  }
};

class TzanJpegFileAPP2_2ThumbSegmentClass
    : public TJpegSegmentClassOf<TzanJpegFileAPP2_2ThumbSegment, TzanJpegFileAPP2_1ThumbSegmentClass> {
 public:
  const char* ClassName() const override { return "TzanJpegFileAPP2_2ThumbSegment"; }

 protected:
  bool JpegAhead(TStream& AStream) const override {
    AStream.Skip(1);
    return TzanJpegFileAPP2_1ThumbSegmentClass::JpegAhead(AStream);
  }
};

class TzanJpegFileAPP3ThumbSegmentClass
    : public TJpegSegmentClassOf<TzanJpegFileAPP3ThumbSegment, TzanJpegFileThumbnailSegmentClass> {
 public:
  const char* ClassName() const override { return "TzanJpegFileAPP3ThumbSegment"; }
  TzanJpegMarker2 GetMarker() const override { return 0xE3; }
  bool IsMultiSegment() const override { return true; }
  // APP3, then APP4 and APP5.
  bool IsSegmentEx(TStream& AStream, bool ACheckMarker, int32_t AIndex) const override {
    if (AIndex < 0 || AIndex > 2) return false;
    if (AStream.ReadU8() != 0xFF) return false;
    const uint8_t marker = AStream.ReadU8();
    if (ACheckMarker && marker != 0xE3 + AIndex) return false;
    if (AStream.ReadU16BE() < 2) return false;
    if (AIndex != 0) return true;
    uint8_t b[3];
    AStream.ReadBuffer(b, 3);
    return b[0] == 0xFF && b[1] == 0xD8 && b[2] == 0xFF;
  }
};

class TzanJpegFileAPP4Thumb1SegmentClass
    : public TJpegSegmentClassOf<TzanJpegFileAPP4Thumb1Segment, TzanJpegFileThumbnailSegmentClass> {
 public:
  const char* ClassName() const override { return "TzanJpegFileAPP4Thumb1Segment"; }
  TzanJpegMarker2 GetMarker() const override { return 0xE4; }
  std::string GetSignature() const override { return "PDBigTN\0"s; }
};

class TzanJpegFileAPP4Thumb2SegmentClass
    : public TJpegSegmentClassOf<TzanJpegFileAPP4Thumb2Segment, TzanJpegFileThumbnailSegmentClass> {
 public:
  const char* ClassName() const override { return "TzanJpegFileAPP4Thumb2Segment"; }
  TzanJpegMarker2 GetMarker() const override { return 0xE4; }
  bool IsSegmentEx(TStream& AStream, bool ACheckMarker, int32_t AIndex) const override {
    const int64_t start = AStream.Position();
    if (!TzanJpegFileSegmentClass::IsSegmentEx(AStream, ACheckMarker, AIndex)) return false;
    AStream.SetPosition(start + 2);
    return AStream.ReadU16BE() > 2;
  }
};

class TzanJpegFileAPP5ThumbSegmentClass
    : public TJpegSegmentClassOf<TzanJpegFileAPP5ThumbSegment, TzanJpegFileThumbnailSegmentClass> {
 public:
  const char* ClassName() const override { return "TzanJpegFileAPP5ThumbSegment"; }
  TzanJpegMarker2 GetMarker() const override { return 0xE5; }
  bool IsSegmentEx(TStream& AStream, bool ACheckMarker, int32_t AIndex) const override {
    if (!TzanJpegFileSegmentClass::IsSegmentEx(AStream, ACheckMarker, AIndex)) return false;
    AStream.Skip(128);
    return AStream.ReadU32BE() == 1;
  }
};

class TzanJpegFileJpegQVGAThumbSegmentClass
    : public TJpegSegmentClassOf<TzanJpegFileJpegQVGAThumbSegment, TzanJpegFileThumbnailSegmentClass> {
 public:
  const char* ClassName() const override { return "TzanJpegFileJpegQVGAThumbSegment"; }
  TzanJpegMarker2 GetMarker() const override { return 0xE2; }
  std::string GetSignature() const override { return "QVGA\0"s; }
};

}  // namespace

const TzanJpegFileSegmentClass& JpegFileAPP2_1ThumbSegmentClass() {
  static const TzanJpegFileAPP2_1ThumbSegmentClass c;
  return c;
}
const TzanJpegFileSegmentClass& JpegFileAPP2_2ThumbSegmentClass() {
  static const TzanJpegFileAPP2_2ThumbSegmentClass c;
  return c;
}
const TzanJpegFileSegmentClass& JpegFileAPP3ThumbSegmentClass() {
  static const TzanJpegFileAPP3ThumbSegmentClass c;
  return c;
}
const TzanJpegFileSegmentClass& JpegFileAPP4Thumb1SegmentClass() {
  static const TzanJpegFileAPP4Thumb1SegmentClass c;
  return c;
}
const TzanJpegFileSegmentClass& JpegFileAPP4Thumb2SegmentClass() {
  static const TzanJpegFileAPP4Thumb2SegmentClass c;
  return c;
}
const TzanJpegFileSegmentClass& JpegFileAPP5ThumbSegmentClass() {
  static const TzanJpegFileAPP5ThumbSegmentClass c;
  return c;
}
const TzanJpegFileSegmentClass& JpegFileJpegQVGAThumbSegmentClass() {
  static const TzanJpegFileJpegQVGAThumbSegmentClass c;
  return c;
}
const TzanMetaFileSegmentClass& TzanJpegFileAPP2_1ThumbSegment::GetClass() const {
  return JpegFileAPP2_1ThumbSegmentClass();
}
const TzanMetaFileSegmentClass& TzanJpegFileAPP2_2ThumbSegment::GetClass() const {
  return JpegFileAPP2_2ThumbSegmentClass();
}
const TzanMetaFileSegmentClass& TzanJpegFileAPP3ThumbSegment::GetClass() const {
  return JpegFileAPP3ThumbSegmentClass();
}
const TzanMetaFileSegmentClass& TzanJpegFileAPP4Thumb1Segment::GetClass() const {
  return JpegFileAPP4Thumb1SegmentClass();
}
const TzanMetaFileSegmentClass& TzanJpegFileAPP4Thumb2Segment::GetClass() const {
  return JpegFileAPP4Thumb2SegmentClass();
}
const TzanMetaFileSegmentClass& TzanJpegFileAPP5ThumbSegment::GetClass() const {
  return JpegFileAPP5ThumbSegmentClass();
}
const TzanMetaFileSegmentClass& TzanJpegFileJpegQVGAThumbSegment::GetClass() const {
  return JpegFileJpegQVGAThumbSegmentClass();
}

// ---- prv, SIEMENS and zanThumb -------------------------------------------------------------------

void TzanJpegFilePrvSegment::LoadSegmentData(TStream& AStream, int32_t AIndex) {
  try {
    AStream.Skip(4);  // "prv" and the digit
    if (AIndex == 0) {
      FBitCount = AStream.ReadU16BE();
      FWidth = AStream.ReadU16BE();
      FHeight = AStream.ReadU16BE();
      AStream.Skip(16);
    }
    // Each piece's pixels reach the tail followed by eight zero bytes.
    const int64_t position = AStream.Position();
    static const uint8_t zeros[8] = {};
    AStream.Seek(0, SeekOrigin::End);
    AStream.WriteBuffer(zeros, sizeof zeros);
    AStream.SetPosition(position);
  } catch (...) {
  }
}

void TzanJpegFilePrvSegment::LoadTailData(TStream& AStream) { LoadPackedBitmap(AStream, 24, FWidth, FHeight); }

void TzanJpegFileSIEMENSTHUMBNAILSegment::LoadSegmentData(TStream& AStream, int32_t AIndex) {
  try {
    TzanJpegFileThumbnailSegment::LoadSegmentData(AStream, AIndex);
    AStream.Skip(9);
    ClearThumbnail();
    TzanMemoryStream& preview = ThumbnailStream();
    uint8_t header[66] = {'B', 'M'};
    auto put32 = [&](size_t at, uint32_t v) {
      for (int i = 0; i < 4; ++i) header[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
    };
    put32(2, 2114);  // file size
    put32(10, 66);   // pixel offset
    put32(14, 40);   // information header
    put32(18, 32);   // width
    put32(22, 32);   // height
    header[26] = 1;  // planes
    header[28] = 16; // bits per pixel
    put32(30, 3);    // bit fields
    put32(34, 2048); // image size
    put32(54, 0x0000F800);
    put32(58, 0x000007E0);
    put32(62, 0x0000001F);
    preview.WriteBuffer(header, sizeof header);
    std::vector<uint8_t> pixels(2048);
    for (int row = 0; row < 32; ++row) AStream.ReadBuffer(pixels.data() + (31 - row) * 64, 64);
    preview.WriteBuffer(pixels.data(), static_cast<int64_t>(pixels.size()));
    LoadExtraFromStream(AStream);
  } catch (...) {
    // A payload that ends early leaves the headers only.
  }
}

void TzanJpegFileThumSegment::LoadTailData(TStream& AStream) {
  while (AStream.Position() < AStream.Size()) {
    const uint32_t size = AStream.ReadU32LE();
    const int64_t n = std::min<int64_t>(size, AStream.Remaining());
    auto* item = new TzanJpegFileThumSegmentItem(this);
    item->ThumbnailStream().CopyFrom(AStream, n);
  }
}

namespace {

class TzanJpegFilePrvSegmentClass
    : public TJpegSegmentClassOf<TzanJpegFilePrvSegment, TzanJpegFileThumbnailSegmentClass> {
 public:
  const char* ClassName() const override { return "TzanJpegFilePrvSegment"; }
  TzanJpegMarker2 GetMarker() const override { return 0xEA; }
  std::string GetSignature() const override { return "prv"; }
  bool IsMultiSegment() const override { return true; }
  bool IsSegmentEx(TStream& AStream, bool ACheckMarker, int32_t AIndex) const override {
    if (!TzanJpegFileSegmentClass::IsSegmentEx(AStream, ACheckMarker, AIndex)) return false;
    return int64_t(AStream.ReadU8()) == int64_t('0') + AIndex;
  }
};

class TzanJpegFileSIEMENSTHUMBNAILSegmentClass
    : public TJpegSegmentClassOf<TzanJpegFileSIEMENSTHUMBNAILSegment, TzanJpegFileThumbnailSegmentClass> {
 public:
  const char* ClassName() const override { return "TzanJpegFileSIEMENSTHUMBNAILSegment"; }
  TzanJpegMarker2 GetMarker() const override { return 0xE7; }
  std::string GetSignature() const override { return "<SIEMENS THUMBNAIL>"; }
};

class TzanJpegFileThumSegmentClass : public TJpegSegmentClassOf<TzanJpegFileThumSegment> {
 public:
  const char* ClassName() const override { return "TzanJpegFileThumSegment"; }
  TzanJpegMarker2 GetMarker() const override { return 0xE9; }
  std::string GetSignature() const override { return "zanThumb\0"s; }
  bool IsMultiSegment() const override { return true; }
};

}  // namespace

const TzanJpegFileSegmentClass& JpegFilePrvSegmentClass() {
  static const TzanJpegFilePrvSegmentClass c;
  return c;
}
const TzanJpegFileSegmentClass& JpegFileSIEMENSTHUMBNAILSegmentClass() {
  static const TzanJpegFileSIEMENSTHUMBNAILSegmentClass c;
  return c;
}
const TzanJpegFileSegmentClass& JpegFileThumSegmentClass() {
  static const TzanJpegFileThumSegmentClass c;
  return c;
}
const TzanMetaFileSegmentClass& TzanJpegFilePrvSegment::GetClass() const { return JpegFilePrvSegmentClass(); }
const TzanMetaFileSegmentClass& TzanJpegFileSIEMENSTHUMBNAILSegment::GetClass() const {
  return JpegFileSIEMENSTHUMBNAILSegmentClass();
}
const TzanMetaFileSegmentClass& TzanJpegFileThumSegment::GetClass() const { return JpegFileThumSegmentClass(); }

void RegisterAppnSegmentClasses() {
  RegisterJpegFileSegmentClass(JpegFileH3X0SegmentClass());
  RegisterJpegFileSegmentClass(JpegFileHPSCSegmentClass());
  RegisterJpegFileSegmentClass(JpegFileSCRNAILSegmentClass());
  RegisterJpegFileSegmentClass(JpegFileJFIFSegmentClass());
  RegisterJpegFileSegmentClass(JpegFileJFXXSegmentClass());
  RegisterJpegFileSegmentClass(JpegFileAPP2_1ThumbSegmentClass());
  RegisterJpegFileSegmentClass(JpegFileAPP2_2ThumbSegmentClass());
  RegisterJpegFileSegmentClass(JpegFileAPP3ThumbSegmentClass());
  RegisterJpegFileSegmentClass(JpegFileAPP4Thumb2SegmentClass());
  RegisterJpegFileSegmentClass(JpegFileAPP4Thumb1SegmentClass());
  RegisterJpegFileSegmentClass(JpegFileAPP5ThumbSegmentClass());
  RegisterJpegFileSegmentClass(JpegFileJpegQVGAThumbSegmentClass());
  RegisterJpegFileSegmentClass(JpegFilePrvSegmentClass());
  RegisterJpegFileSegmentClass(JpegFileSIEMENSTHUMBNAILSegmentClass());
  RegisterJpegFileSegmentClass(JpegFileThumSegmentClass());
}

}  // namespace zan
