#include "jpeg/jpeg_file.h"

#include <algorithm>
#include <cctype>
#include <vector>

#include "jpeg/appn_segments.h"
#include "jpeg/preview_budget.h"
#include "meta/utils.h"

namespace zan {

namespace {

// Signatures compare byte-wise as unsigned bytes, a proper prefix first.
int CompareSignatures(const std::string& a, const std::string& b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const auto x = static_cast<uint8_t>(a[i]);
    const auto y = static_cast<uint8_t>(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

// Moves the position forward by count, never beyond the end of the stream.
void SkipWithin(TStream& AStream, int64_t count) {
  AStream.Skip(std::min(count, AStream.Remaining()));
}

// Asks a class's test at the position and restores it; exceptions count as no.
bool TestAt(const TzanJpegFileSegmentClass& cls, TStream& AStream, bool ACheckMarker, int32_t AIndex) {
  PositionGuard guard(AStream);
  try {
    return cls.IsSegmentEx(AStream, ACheckMarker, AIndex);
  } catch (...) {
    return false;
  }
}

}  // namespace

// ---- TzanJpegFileSegmentClass --------------------------------------------------------

std::string TzanJpegFileSegmentClass::GetAboutName() const {
  std::string name = ClassName();
  static const std::string kPrefix = "TzanJpegFile";
  static const std::string kSuffix = "Segment";
  auto lower = [](std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
  };
  if (name.size() >= kPrefix.size() && lower(name.substr(0, kPrefix.size())) == lower(kPrefix))
    name.erase(0, kPrefix.size());
  if (name.size() >= kSuffix.size() && name.compare(name.size() - kSuffix.size(), kSuffix.size(), kSuffix) == 0)
    name.erase(name.size() - kSuffix.size());
  for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return name;
}

bool TzanJpegFileSegmentClass::IsSegment(TStream& AStream) const { return IsSegmentEx(AStream, true, 0); }

bool TzanJpegFileSegmentClass::IsSegmentEx(TStream& AStream, bool ACheckMarker, int32_t) const {
  if (AStream.ReadU8() != 0xFF) return false;
  const TzanJpegMarker2 marker = AStream.ReadU8();
  if (ACheckMarker && marker != GetMarker()) return false;
  const std::string signature = GetSignature();
  const uint16_t length = AStream.ReadU16BE();
  if (length < signature.size() + 2) return false;
  if (signature.empty()) return true;
  std::string bytes(signature.size(), '\0');
  AStream.ReadBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  return bytes == signature;
}

void TzanJpegFileSegmentClass::Skip(TStream& AStream, bool ACheckMarker) const {
  int32_t counter = 0;
  for (;;) {
    AStream.Skip(2);
    const uint16_t length = AStream.ReadU16BE();
    if (length > 2) SkipWithin(AStream, length - 2);
    if (!IsMultiSegment()) return;
    ++counter;
    if (AStream.Position() >= AStream.Size()) return;
    if (!TestAt(*this, AStream, ACheckMarker, counter)) return;
  }
}

TzanJpegFileSegment* TzanJpegFileSegmentClass::CreateSegment(TzanMetaObject* AOwner) const {
  return static_cast<TzanJpegFileSegment*>(Create(AOwner));
}

// ---- TzanJpegFileSegment ----------------------------------------------------------------

TzanJpegFileSegment::TzanJpegFileSegment(TzanMetaObject* AOwner) : TzanMetaFileSegment(AOwner) {}

void TzanJpegFileSegment::AfterConstruction() {
  FMarker = JpegClass().GetMarker();
  TzanMetaFileSegment::AfterConstruction();
}

const TzanJpegFileSegmentClass& TzanJpegFileSegment::JpegClass() const {
  return static_cast<const TzanJpegFileSegmentClass&>(GetClass());
}

std::string TzanJpegFileSegment::GetName() const { return JpegClass().GetAboutName(); }

void TzanJpegFileSegment::DoLoadFromStream(TStream& AStream) { LoadSegments(AStream, true); }

void TzanJpegFileSegment::PostLoadFromStream(int64_t, TStream& AStream) {
  AStream.Skip(4 + static_cast<int64_t>(JpegClass().GetSignature().size()));
}

void TzanJpegFileSegment::LoadFromStreamEx(TStream& AStream, bool ACheckMarker) {
  Clear();
  LoadSegments(AStream, ACheckMarker);
}

void TzanJpegFileSegment::LoadSegmentData(TStream& AStream, int32_t) {
  AStream.Skip(static_cast<int64_t>(JpegClass().GetSignature().size()));
}

void TzanJpegFileSegment::LoadTailData(TStream&) {}

void TzanJpegFileSegment::LoadSegments(TStream& AStream, bool ACheckMarker) {
  const TzanJpegFileSegmentClass& cls = JpegClass();
  TMemoryStream tail;
  int32_t index = 0;
  for (;;) {
    AStream.Skip(1);
    FMarker = AStream.ReadU8();
    const uint16_t length = AStream.ReadU16BE();
    if (length < 2) throw EzanJpegFileSegment("Invalid segment size");
    // A length past the end of the file is cut to what remains.
    const int64_t size = std::min<int64_t>(length - 2, AStream.Remaining());
    if (size != 0) {
      TMemoryStream payload;
      payload.CopyFrom(AStream, size);
      payload.SetPosition(0);
      bool parsed = false;
      try {
        LoadSegmentData(payload, index);
        parsed = true;
      } catch (...) {
        // The segment keeps what it read; its payload adds nothing to the tail.
      }
      if (parsed) {
        ++index;
        tail.Seek(0, SeekOrigin::End);
        tail.CopyRest(payload);
      }
    }
    if (!cls.IsMultiSegment()) break;
    if (AStream.Position() >= AStream.Size()) break;
    if (!TestAt(cls, AStream, ACheckMarker, index)) break;
  }
  tail.SetPosition(0);
  try {
    LoadTailData(tail);
  } catch (...) {
    // Whatever the tail parse built stays.
  }
}

// ---- generic APPn and comment segments ------------------------------------------------

void TzanJpegFileAPPSegment::LoadSegmentData(TStream& AStream, int32_t AIndex) {
  TzanJpegFileSegment::LoadSegmentData(AStream, AIndex);
  LoadExtraFromStream(AStream);
}

void TzanJpegFileCommentSegment::Clear() {
  FText.clear();
  TzanJpegFileSegment::Clear();
}

void TzanJpegFileCommentSegment::LoadSegmentData(TStream& AStream, int32_t AIndex) {
  TzanJpegFileSegment::LoadSegmentData(AStream, AIndex);
  FText.assign(static_cast<size_t>(AStream.Remaining()), '\0');
  AStream.ReadBuffer(FText.data(), static_cast<int64_t>(FText.size()));
}

namespace {

const char* const kAPPNames[16] = {
    "TzanJpegFileAPP0Segment",  "TzanJpegFileAPP1Segment",  "TzanJpegFileAPP2Segment",
    "TzanJpegFileAPP3Segment",  "TzanJpegFileAPP4Segment",  "TzanJpegFileAPP5Segment",
    "TzanJpegFileAPP6Segment",  "TzanJpegFileAPP7Segment",  "TzanJpegFileAPP8Segment",
    "TzanJpegFileAPP9Segment",  "TzanJpegFileAPP10Segment", "TzanJpegFileAPP11Segment",
    "TzanJpegFileAPP12Segment", "TzanJpegFileAPP13Segment", "TzanJpegFileAPP14Segment",
    "TzanJpegFileAPP15Segment"};

class TzanJpegFileAPPSegmentClass : public TzanJpegFileSegmentClass {
 public:
  explicit TzanJpegFileAPPSegmentClass(int n) : n_(n) {}
  const char* ClassName() const override { return kAPPNames[n_]; }
  bool IsKnownSegment() const override { return false; }
  TzanJpegMarker2 GetMarker() const override { return static_cast<TzanJpegMarker2>(kJpegMarkerAPP0 + n_); }
  TzanMetaFileSegment* Create(TzanMetaObject* AOwner) const override {
    auto* s = new TzanJpegFileAPPSegment(AOwner, *this);
    s->AfterConstruction();
    return s;
  }

 private:
  int n_;
};

class TzanJpegFileCommentSegmentClass : public TJpegSegmentClassOf<TzanJpegFileCommentSegment> {
 public:
  const char* ClassName() const override { return "TzanJpegFileCommentSegment"; }
  TzanJpegMarker2 GetMarker() const override { return kJpegMarkerComment; }
};

}  // namespace

const TzanJpegFileSegmentClass& JpegFileAPPSegmentClass(int n) {
  static const TzanJpegFileAPPSegmentClass classes[16] = {
      TzanJpegFileAPPSegmentClass(0),  TzanJpegFileAPPSegmentClass(1),  TzanJpegFileAPPSegmentClass(2),
      TzanJpegFileAPPSegmentClass(3),  TzanJpegFileAPPSegmentClass(4),  TzanJpegFileAPPSegmentClass(5),
      TzanJpegFileAPPSegmentClass(6),  TzanJpegFileAPPSegmentClass(7),  TzanJpegFileAPPSegmentClass(8),
      TzanJpegFileAPPSegmentClass(9),  TzanJpegFileAPPSegmentClass(10), TzanJpegFileAPPSegmentClass(11),
      TzanJpegFileAPPSegmentClass(12), TzanJpegFileAPPSegmentClass(13), TzanJpegFileAPPSegmentClass(14),
      TzanJpegFileAPPSegmentClass(15)};
  return classes[std::clamp(n, 0, 15)];
}

const TzanJpegFileSegmentClass& JpegFileCommentSegmentClass() {
  static const TzanJpegFileCommentSegmentClass c;
  return c;
}

const TzanMetaFileSegmentClass& TzanJpegFileCommentSegment::GetClass() const { return JpegFileCommentSegmentClass(); }

// ---- packed bitmaps ------------------------------------------------------------------------

void TzanJpegFileThumbnailSegment::LoadPackedBitmap(TStream& AStream, int32_t ABitCount, int32_t AWidth,
                                                    int32_t AHeight) {
  if (AWidth <= 0 || AHeight <= 0) return;
  const int32_t colors = BitmapPaletteSize(ABitCount);
  const int64_t rowSize = BitmapRowSize(AWidth, ABitCount);
  const int64_t rows = AHeight;
  // The picture is sized from two fields; refuse one out of proportion to
  // the bytes that could fill it.
  CheckPreviewBudget(54 + 4 * int64_t(colors) + rowSize * rows, AStream.Remaining());

  // Attached and zero-filled to its full length before any pixel is read.
  ClearThumbnail();
  TzanMemoryStream& bmp = ThumbnailStream();
  WriteBitmapHeaders(bmp, AWidth, AHeight, ABitCount, true);

  for (int32_t i = 0; i < colors; ++i) {
    uint8_t rgb[3];
    AStream.ReadBuffer(rgb, 3);
    const uint8_t quad[4] = {rgb[2], rgb[1], rgb[0], 0};
    bmp.WriteBuffer(quad, 4);
  }
  const int64_t pixelStart = 54 + 4 * int64_t(colors);
  const int64_t bytesPerPixel = ABitCount / 8;
  const int64_t rowBytes = int64_t(AWidth) * bytesPerPixel;
  std::vector<uint8_t> row(static_cast<size_t>(rowBytes));
  for (int64_t k = 0; k < rows; ++k) {
    bmp.SetPosition(pixelStart + (rows - 1 - k) * rowSize);
    // A short source fills what it has (whole pixels) and then fails.
    const int64_t got = AStream.Read(row.data(), rowBytes);
    const int64_t whole = got - got % bytesPerPixel;
    if (ABitCount == 24)
      for (int64_t p = 0; p + 2 < whole; p += 3) std::swap(row[static_cast<size_t>(p)], row[static_cast<size_t>(p + 2)]);
    bmp.WriteBuffer(row.data(), whole);
    if (got != rowBytes) throw EReadError("Stream read error");
  }
}

void TzanJpegFileThumbnailSegment::LoadPackedBitmap(TStream& AStream, int32_t ABitCount) {
  const int32_t width = AStream.ReadU8();
  const int32_t height = AStream.ReadU8();
  LoadPackedBitmap(AStream, ABitCount, width, height);
}

// ---- TzanJpegFile ---------------------------------------------------------------------------------

const TzanJpegFileClass& JpegFileClass() {
  static const TzanJpegFileClass c;
  return c;
}

const TzanMetaFileClass& TzanJpegFile::GetClass() const { return JpegFileClass(); }

void TzanJpegFile::DoLoadFromStream(TStream& AStream) { Walk(AStream, true, nullptr); }

void TzanJpegFile::LoadFromStreamEx(TStream& AStream, bool ACheckMarker,
                                    const TzanJpegFileSegmentClass* ASegmentClass) {
  Clear();
  Walk(AStream, ACheckMarker, ASegmentClass);
}

void TzanJpegFile::Walk(TStream& AStream, bool ACheckMarker, const TzanJpegFileSegmentClass* ASegmentClass) {
  const int64_t start = AStream.Position();
  AStream.Skip(2);  // start of image
  while (AStream.Position() < AStream.Size()) {
    const TzanJpegFileSegmentClass* cls = FindJpegFileSegmentClass(AStream, ACheckMarker);
    if (cls == nullptr) break;
    if (ASegmentClass != nullptr && cls != ASegmentClass) {
      cls->Skip(AStream, ACheckMarker);
    } else if (cls->CanStoreThumbnail()) {
      TzanJpegFileSegment* segment = cls->CreateSegment(this);
      segment->FStreamOffset = AStream.Position();
      segment->LoadFromStreamEx(AStream, ACheckMarker);
      if (segment->FMarker == kJpegMarkerSOS) return;
    } else {
      cls->Skip(AStream, ACheckMarker);
    }
  }

  // Let segments resolve data placed elsewhere in the file.
  PositionGuard guard(AStream);
  for (int32_t i = 0; i < ItemCount(); ++i) {
    auto* segment = static_cast<TzanMetaFileSegment*>(Items(i));
    AStream.SetPosition(segment->FStreamOffset);
    segment->PostLoadFromStream(start, AStream);
  }
}

void TzanJpegFileClass::FillMetaSegmentClassList(std::vector<const TzanMetaFileSegmentClass*>& AList) const {
  for (const TzanJpegFileSegmentClass* cls : JpegFileSegmentClassRegistry()) AList.push_back(cls);
}

// ---- registry ---------------------------------------------------------------------------------------

std::vector<const TzanJpegFileSegmentClass*>& JpegFileSegmentClassRegistry() {
  static std::vector<const TzanJpegFileSegmentClass*> registry;
  return registry;
}

void RegisterJpegFileSegmentClass(const TzanJpegFileSegmentClass& AClass) {
  auto& list = JpegFileSegmentClassRegistry();
  if (std::find(list.begin(), list.end(), &AClass) != list.end()) return;
  list.push_back(&AClass);
  // Bubble sort: stable, ascending by (signature, marker).
  bool exchanged = true;
  while (exchanged) {
    exchanged = false;
    for (size_t i = 0; i + 1 < list.size(); ++i) {
      const int c = CompareSignatures(list[i]->GetSignature(), list[i + 1]->GetSignature());
      if (c > 0 || (c == 0 && list[i + 1]->GetMarker() < list[i]->GetMarker())) {
        std::swap(list[i], list[i + 1]);
        exchanged = true;
      }
    }
  }
}

const TzanJpegFileSegmentClass* FindJpegFileSegmentClass(TStream& AStream, bool ACheckMarker) {
  const auto& list = JpegFileSegmentClassRegistry();
  for (auto it = list.rbegin(); it != list.rend(); ++it)
    if (TestAt(**it, AStream, ACheckMarker, 0)) return *it;
  return nullptr;
}

void RegisterJpegUnit() {
  RegisterMetaFileClass(JpegFileClass());
  RegisterJpegFileSegmentClass(JpegFileCommentSegmentClass());
  for (int n = 0; n < 16; ++n) RegisterJpegFileSegmentClass(JpegFileAPPSegmentClass(n));
  RegisterAppnSegmentClasses();
}

}  // namespace zan
