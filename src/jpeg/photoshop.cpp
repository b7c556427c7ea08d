#include "jpeg/photoshop.h"

#include <algorithm>
#include <vector>

#include "jpeg/photoshop_segments.h"
#include "jpeg/preview_budget.h"
#include "jpeg/psd_file.h"
#include "meta/utils.h"
#include "platform/codecs.h"

namespace zan {

namespace {

// Moves the position forward by count, never beyond the end of the stream.
void SkipWithin(TStream& AStream, int64_t count) { AStream.Skip(std::min(count, AStream.Remaining())); }

// The data size of a block (read at the position), cut to what remains.
int64_t ReadBlockSize(TStream& AStream) {
  const uint32_t size = AStream.ReadU32BE();
  return std::min<int64_t>(size, AStream.Remaining());
}

}  // namespace

std::string ReadShortString(TStream& AStream, bool APad) {
  const uint8_t n = AStream.ReadU8();
  std::string text(n, '\0');
  AStream.ReadBuffer(text.data(), n);
  if (APad && n % 2 == 0) AStream.Skip(1);
  return text;
}

// ---- Tzan8BIMBlockClass ------------------------------------------------------------------

bool Tzan8BIMBlockClass::IsBlock(Tzan8BIMMarker AMarker, Tzan8BIMID AID) const {
  return AMarker == GetMarker() && AID == GetID();
}

void Tzan8BIMBlockClass::Skip(TStream& AStream) const {
  AStream.Skip(6);
  ReadShortString(AStream, true);
  const int64_t size = ReadBlockSize(AStream);
  AStream.Skip(size);
  if (size % 2 == 1) SkipWithin(AStream, 1);
}

// ---- Tzan8BIMBlock ------------------------------------------------------------------------

Tzan8BIMBlock::Tzan8BIMBlock(TzanMetaObject* AOwner) : TzanMetaObject(AOwner) {}

void Tzan8BIMBlock::LoadFromStream(TStream& AStream) {
  FMarker = AStream.ReadU32LE();
  FID = AStream.ReadU16BE();
  FName = ReadShortString(AStream, true);
  const int64_t size = ReadBlockSize(AStream);
  if (size != 0) {
    try {
      FData.Clear();
      FData.CopyFrom(AStream, size);
      FData.SetPosition(0);
      LoadBlockData(FData);
    } catch (...) {
      // The block keeps what its parse built.
    }
  }
  if (size % 2 == 1) SkipWithin(AStream, 1);
}

void Tzan8BIMBlock::LoadBlockData(TStream&) {}

// ---- thumbnail blocks ----------------------------------------------------------------------

namespace {

// A 24-bit bottom-up BMP of the picture with red and blue exchanged.
void SwappedBitmapToBmp(const Bitmap32& picture, TzanMemoryStream& target) {
  const int32_t w = picture.Width();
  const int32_t h = picture.Height();
  const int64_t rowSize = BitmapRowSize(w, 24);
  TzanMemoryStream bmp;
  WriteBitmapHeaders(bmp, w, h, 24, true);
  uint8_t* pixels = bmp.Memory() + 54;
  for (int32_t y = 0; y < h; ++y) {
    const uint32_t* src = picture.Row(y);
    uint8_t* dst = pixels + static_cast<int64_t>(h - 1 - y) * rowSize;
    for (int32_t x = 0; x < w; ++x) {
      const uint32_t c = src[x];
      // A BMP holds B, G, R; exchanged, the picture's R, G, B.
      dst[3 * x + 0] = static_cast<uint8_t>(c >> 16);
      dst[3 * x + 1] = static_cast<uint8_t>(c >> 8);
      dst[3 * x + 2] = static_cast<uint8_t>(c);
    }
  }
  target.SetSize(0);
  target.SetPosition(0);
  bmp.SetPosition(0);
  target.CopyRest(bmp);
}

}  // namespace

void Tzan8BIMThumbnailBlock::LoadBlockData(TStream& AStream) {
  const uint32_t format = AStream.ReadU32BE();
  const uint32_t width = AStream.ReadU32BE();
  const uint32_t height = AStream.ReadU32BE();
  const uint32_t rowLength = AStream.ReadU32BE();
  AStream.ReadU32BE();  // total size
  const uint32_t compressedSize = AStream.ReadU32BE();
  const uint16_t bitsPerPixel = AStream.ReadU16BE();
  AStream.ReadU16BE();  // planes

  if (format == 0) {
    // Raw rows, top first, each rowLength bytes. Photoshop writes 24-bit
    // pixels only; other depths would need a palette we do not have.
    if (bitsPerPixel != 24 || width == 0 || height == 0 || width > INT32_MAX || height > INT32_MAX) return;
    const auto w = static_cast<int32_t>(width);
    const auto h = static_cast<int32_t>(height);
    const int64_t bmpRow = BitmapRowSize(w, 24);
    CheckPreviewBudget(54 + bmpRow * h, AStream.Remaining());
    ClearThumbnail();
    TzanMemoryStream& bmp = ThumbnailStream();
    WriteBitmapHeaders(bmp, w, h, 24, true);
    uint8_t* pixels = bmp.Memory() + 54;
    // Each source row fills one BMP row at the BMP's own stride; a source
    // that ends early leaves the remaining rows black.
    const int64_t copy = std::min<int64_t>(rowLength, bmpRow);
    const int64_t pixelBytes = std::min<int64_t>(copy, int64_t(w) * 3);
    for (int64_t k = 0; k < h && AStream.Remaining() > 0; ++k) {
      uint8_t* dst = pixels + (h - 1 - k) * bmpRow;
      const int64_t got = AStream.Read(dst, copy);
      SkipWithin(AStream, int64_t(rowLength) - copy);
      if (FID == 1036)
        for (int64_t p = 0; p + 2 < std::min(got, pixelBytes); p += 3) std::swap(dst[p], dst[p + 2]);
    }
  } else if (format == 1) {
    const int64_t size = std::min<int64_t>(compressedSize, AStream.Remaining());
    if (size <= 0) return;
    ClearThumbnail();
    TzanMemoryStream& preview = ThumbnailStream();
    preview.CopyFrom(AStream, size);
    if (FID == 1033) {
      // The JPEG holds B, G, R: decode it and store it with red and blue
      // exchanged. A JPEG that does not decode stays as it is.
      try {
        preview.SetPosition(0);
        const Bitmap32 picture = JpegDecode(preview, 1);
        SwappedBitmapToBmp(picture, preview);
      } catch (...) {
      }
    }
  }
}

// ---- block classes ---------------------------------------------------------------------------

namespace {

// Blocks that are only stepped over: their class answers IsBlock and Skip.
class TzanPassiveBlock : public Tzan8BIMBlock {
 public:
  TzanPassiveBlock(TzanMetaObject* AOwner, const Tzan8BIMBlockClass& AClass)
      : Tzan8BIMBlock(AOwner), FClass(AClass) {}
  const Tzan8BIMBlockClass& GetClass() const override { return FClass; }

 private:
  const Tzan8BIMBlockClass& FClass;
};

class TzanPassiveBlockClass : public Tzan8BIMBlockClass {
 public:
  // anyID: accept every identifier of the marker.
  TzanPassiveBlockClass(const char* name, Tzan8BIMMarker marker, Tzan8BIMID id, bool anyID)
      : name_(name), marker_(marker), id_(id), anyID_(anyID) {}
  const char* ClassName() const override { return name_; }
  Tzan8BIMMarker GetMarker() const override { return marker_; }
  Tzan8BIMID GetID() const override { return id_; }
  bool IsBlock(Tzan8BIMMarker AMarker, Tzan8BIMID AID) const override {
    return AMarker == marker_ && (anyID_ || AID == id_);
  }
  Tzan8BIMBlock* Create(TzanMetaObject* AOwner) const override {
    auto* block = new TzanPassiveBlock(AOwner, *this);
    block->FMarker = marker_;
    block->FID = id_;
    return block;
  }

 private:
  const char* name_;
  Tzan8BIMMarker marker_;
  Tzan8BIMID id_;
  bool anyID_;
};

class Tzan8BIMThumbnailBlockClass : public T8BIMBlockClassOf<Tzan8BIMThumbnailBlock> {
 public:
  const char* ClassName() const override { return "Tzan8BIMThumbnailBlock"; }
  Tzan8BIMID GetID() const override { return 1036; }
  bool CanStoreThumbnail() const override { return true; }
};

class Tzan8BIMOldThumbnailBlockClass : public T8BIMBlockClassOf<Tzan8BIMOldThumbnailBlock, Tzan8BIMThumbnailBlockClass> {
 public:
  const char* ClassName() const override { return "Tzan8BIMOldThumbnailBlock"; }
  Tzan8BIMID GetID() const override { return 1033; }
};

const Tzan8BIMThumbnailBlockClass kThumbnailBlockClass;
const Tzan8BIMOldThumbnailBlockClass kOldThumbnailBlockClass;

// In registration order.
const TzanPassiveBlockClass kPHUTBlockClass("TzanPHUTBlock", kPHUTMarker, 0, true);
const TzanPassiveBlockClass kAnyBlockClass("Tzan8BIMAnyBlock", k8BIMMarker, 0, true);
const TzanPassiveBlockClass kResolutionInfoBlockClass("Tzan8BIMResolutionInfoBlock", k8BIMMarker, 1005, false);
const TzanPassiveBlockClass kVersionInfoBlockClass("Tzan8BIMVersionInfoBlock", k8BIMMarker, 1057, false);
const TzanPassiveBlockClass kExifBlockClass("Tzan8BIMExifBlock", k8BIMMarker, 1058, false);
const TzanPassiveBlockClass kXMPBlockClass("Tzan8BIMXMPBlock", k8BIMMarker, 1060, false);
const TzanPassiveBlockClass kXMLBlockClass("Tzan8BIMXMLBlock", k8BIMMarker, 1002, false);
const TzanPassiveBlockClass kAlphaChannelNamesBlockClass("Tzan8BIMAlphaChannelNamesBlock", k8BIMMarker, 1006, false);
const TzanPassiveBlockClass kUnicodeAlphaChannelNamesBlockClass("Tzan8BIMUnicodeAlphaChannelNamesBlock",
                                                                k8BIMMarker, 1045, false);
const TzanPassiveBlockClass kIPTCDigestBlockClass("Tzan8BIMIPTCDigestBlock", k8BIMMarker, 1061, false);
const TzanPassiveBlockClass kPrintFlagsInfoBlockClass("Tzan8BIMPrintFlagsInfoBlock", k8BIMMarker, 10000, false);
const TzanPassiveBlockClass kJPEGQualityBlockClass("Tzan8BIMJPEGQualityBlock", k8BIMMarker, 1030, false);

}  // namespace

const Tzan8BIMBlockClass& Tzan8BIMThumbnailBlock::GetClass() const { return kThumbnailBlockClass; }
const Tzan8BIMBlockClass& Tzan8BIMOldThumbnailBlock::GetClass() const { return kOldThumbnailBlockClass; }

// ---- Tzan8BIM --------------------------------------------------------------------------------------

Tzan8BIM::Tzan8BIM(TzanMetaObject* AOwner) : TzanMetaObject(AOwner) {}

Tzan8BIMBlock* Tzan8BIM::Blocks(int32_t i) const { return static_cast<Tzan8BIMBlock*>(Items(i)); }

void Tzan8BIM::LoadFromStream(TStream& AStream) {
  while (AStream.Position() < AStream.Size()) {
    const Tzan8BIMBlockClass* cls = Find8BIMBlockClass(AStream);
    if (cls == nullptr) break;
    if (cls->CanStoreThumbnail()) {
      Tzan8BIMBlock* block = cls->Create(this);
      block->LoadFromStream(AStream);
    } else {
      cls->Skip(AStream);
    }
  }
}

void Tzan8BIM::FillMetaSegmentClassList(std::vector<const Tzan8BIMBlockClass*>& AList) {
  const auto& registry = Photoshop8BIMBlockClassRegistry();
  AList.insert(AList.end(), registry.begin(), registry.end());
}

// ---- registry ------------------------------------------------------------------------------------------

std::vector<const Tzan8BIMBlockClass*>& Photoshop8BIMBlockClassRegistry() {
  static std::vector<const Tzan8BIMBlockClass*> registry;
  return registry;
}

void Register8BIMBlockClass(const Tzan8BIMBlockClass& AClass) {
  auto& list = Photoshop8BIMBlockClassRegistry();
  if (std::find(list.begin(), list.end(), &AClass) == list.end()) list.push_back(&AClass);
}

const Tzan8BIMBlockClass* Find8BIMBlockClass(TStream& AStream) {
  PositionGuard guard(AStream);
  const Tzan8BIMMarker marker = AStream.ReadU32LE();
  const Tzan8BIMID id = AStream.ReadU16BE();
  const auto& list = Photoshop8BIMBlockClassRegistry();
  for (auto it = list.rbegin(); it != list.rend(); ++it) {
    try {
      if ((*it)->IsBlock(marker, id)) return *it;
    } catch (...) {
    }
  }
  return nullptr;
}

void RegisterPsdUnit() {
  for (const Tzan8BIMBlockClass* cls : std::initializer_list<const Tzan8BIMBlockClass*>{
           &kPHUTBlockClass, &kAnyBlockClass, &kResolutionInfoBlockClass, &kOldThumbnailBlockClass,
           &kThumbnailBlockClass, &kVersionInfoBlockClass, &kExifBlockClass, &kXMPBlockClass, &kXMLBlockClass,
           &kAlphaChannelNamesBlockClass, &kUnicodeAlphaChannelNamesBlockClass, &kIPTCDigestBlockClass,
           &kPrintFlagsInfoBlockClass, &kJPEGQualityBlockClass})
    Register8BIMBlockClass(*cls);
  RegisterMetaFileClass(PsdFileClass());
  RegisterJpegFileSegmentClass(JpegFileAdobePhotoshopSegmentClass());
  RegisterJpegFileSegmentClass(JpegFilePhotoshopSegmentClass());
}

}  // namespace zan
