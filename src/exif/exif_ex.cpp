// Previews of EXIF and TIFF directories: tag-pair JPEGs, strip images and
// the LONG 37510 JPEG; the entry-class list; Photoshop resources in 34377.
#include "exif/exif_ex.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <typeinfo>

#include "jpeg/photoshop.h"
#include "meta/utils.h"
#include "platform/bitmap32.h"
#include "platform/codecs.h"

namespace zan {

namespace {

class TzanExifIFDClassImpl : public TExifIFDClassOf<TzanExifIFD> {
 public:
  const char* ClassName() const override { return "TzanExifIFD"; }
};
const TzanExifIFDClassImpl kExifIFDClass;

class TzanExifPhotoShopSettingEntryClass : public TExifEntryClassOf<TzanExifPhotoShopSettingEntry> {
 public:
  const char* ClassName() const override { return "TzanExifPhotoShopSettingEntry"; }
  TzanExifTag GetTag() const override { return kTagPhotoshop; }
};
const TzanExifPhotoShopSettingEntryClass kPhotoShopSettingEntryClass;

// How the samples of an uncompressed strip image become a preview.
enum class StripKind {
  Indexed,       // one sample of 1, 4 or 8 bits: rows copied into a palette BMP
  PaletteAlpha,  // palette index and alpha, 8 bits each: an RGBA PNG
  Rgb,           // 8-bit R, G, B (and extra samples, dropped): a 24-bit BMP
  Cmyk,          // 8-bit C, M, Y, K (and extra samples, dropped): a 24-bit BMP
  YCbCr,         // 8-bit Y, Cb, Cr in subsampled data units (TIFF 6.0, section 21): a 24-bit BMP
};

// The YCbCr parameters of a directory (TIFF 6.0 defaults where a tag is
// missing) and the conversion of one sample triple to B, G, R.
struct YCbCrLayout {
  int32_t h = 1, v = 1;  // subsampling of the chroma samples
  double lr = 0.299, lg = 0.587, lb = 0.114;
  double ref[6] = {0, 255, 128, 255, 128, 255};  // ReferenceBlackWhite

  // False for subsamplings TIFF does not allow.
  bool Read(TzanExifCustomIFD& ifd) {
    h = v = 2;
    if (TzanExifEntry* e = ifd.GetEntryByTag(530, false)) {
      h = e->Data().GetItemAsInteger(0);
      v = e->Data().ItemCount() > 1 ? e->Data().GetItemAsInteger(1) : 2;
    }
    auto allowed = [](int32_t n) { return n == 1 || n == 2 || n == 4; };
    if (!allowed(h) || !allowed(v) || v > h) return false;
    if (TzanExifEntry* e = ifd.GetEntryByTag(529, false); e != nullptr && e->Data().ItemCount() >= 3) {
      lr = e->Data().GetItemAsReal(0);
      lg = e->Data().GetItemAsReal(1);
      lb = e->Data().GetItemAsReal(2);
    }
    if (TzanExifEntry* e = ifd.GetEntryByTag(532, false); e != nullptr && e->Data().ItemCount() >= 6)
      for (int i = 0; i < 6; ++i) ref[i] = e->Data().GetItemAsReal(i);
    // Degenerate values fall back to the defaults rather than divide by zero.
    if (lg == 0 || !std::isfinite(lr + lg + lb)) {
      lr = 0.299, lg = 0.587, lb = 0.114;
    }
    if (ref[1] == ref[0] || ref[3] == ref[2] || ref[5] == ref[4]) {
      const double defaults[6] = {0, 255, 128, 255, 128, 255};
      std::copy(defaults, defaults + 6, ref);
    }
    return true;
  }

  void ToBgr(uint8_t y, uint8_t cb, uint8_t cr, uint8_t* out) const {
    const double yy = (y - ref[0]) * 255.0 / (ref[1] - ref[0]);
    const double cbb = (cb - ref[2]) * 127.0 / (ref[3] - ref[2]);
    const double crr = (cr - ref[4]) * 127.0 / (ref[5] - ref[4]);
    const double r = yy + (2 - 2 * lr) * crr;
    const double b = yy + (2 - 2 * lb) * cbb;
    const double g = (yy - lb * b - lr * r) / lg;
    out[0] = Clamp8(b);
    out[1] = Clamp8(g);
    out[2] = Clamp8(r);
  }

  static uint8_t Clamp8(double x) {
    if (!(x > 0)) return 0;
    if (x >= 255) return 255;
    return static_cast<uint8_t>(std::lround(x));
  }
};

// Level of 255 minus the sum of an ink and black, 0 once the sum reaches 255.
uint8_t InkToLevel(int ink, int black) {
  const int sum = ink + black;
  return sum >= 255 ? 0 : static_cast<uint8_t>(255 - sum);
}

int32_t IntOf(TzanExifCustomIFD& ifd, TzanExifTag tag) { return ifd.GetEntryByTag(tag, false)->Data().AsInteger(); }

}  // namespace

const TzanExifIFDClass& ExifIFDClass() { return kExifIFDClass; }
const TzanExifEntryClass& ExifPhotoShopSettingEntryClass() { return kPhotoShopSettingEntryClass; }

std::vector<const TzanExifEntryClass*>& ExifEntryClassList() {
  static std::vector<const TzanExifEntryClass*> list;
  return list;
}

void RegisterExifEntryClass(const TzanExifEntryClass& AClass) {
  auto& list = ExifEntryClassList();
  if (std::find(list.begin(), list.end(), &AClass) == list.end()) list.push_back(&AClass);
}

// ---- TzanExifEx ------------------------------------------------------------------------

TzanExifEx::TzanExifEx(TzanMetaObject* AOwner) : TzanExif(kExifIFDClass, AOwner) {}

// ---- TzanExifIFD ---------------------------------------------------------------------

const TzanExifIFDClass& TzanExifIFD::GetClass() const { return kExifIFDClass; }

const std::vector<const TzanExifEntryClass*>* TzanExifIFD::GetEntryClasses() const { return &ExifEntryClassList(); }

const TzanExifEntryClass* TzanExifIFD::GetDefaultEntryClass() const { return &ExifEntryClass(); }

void TzanExifIFD::LoadFromStream(int64_t AStart, TzanExifOffsetArray& AOffsetArray, TStream& AStream) {
  TzanExifCustomIFD::LoadFromStream(AStart, AOffsetArray, AStream);
  FTagPairCut = false;
  try {
    if (TzanExifEntry* orientation = GetEntryByTag(kTagOrientation, false)) {
      try {
        FThumbnailRotateMirror = orientation->Data().AsInteger();
      } catch (...) {
      }
    }
    if (HasTag(kTagJpegOffset) && HasTag(kTagJpegLength)) {
      FTagPairCut = ReadTagPairThumbnail(AStream, kTagJpegOffset, kTagJpegLength, AStart);
      return;
    }
    if (!LoadStripImage(AStream, AStart)) return;
    // A JPEG pointed at by a LONG 37510 entry replaces the strip image; an
    // entry that points at anything else leaves the strip image in place.
    for (int32_t i = 0; i < EntryCount(); ++i) {
      TzanExifEntry* entry = GetEntry(i);
      const TzanExifData& value = entry->Data();
      if (entry->Tag() != kTagUserComment || typeid(value) != typeid(TzanExifLongData)) continue;
      PositionGuard guard(AStream);
      try {
        const int64_t pos = AStart + entry->Data().AsInteger();
        const int64_t avail = AStream.Size() - pos;
        if (pos < 0 || avail < 3) continue;
        AStream.SetPosition(pos);
        uint8_t head[3];
        AStream.ReadBuffer(head, 3);
        if (head[0] != 0xFF || head[1] != 0xD8 || head[2] != 0xFF) continue;
        AStream.SetPosition(pos);
        Hold(AStream, avail);
        auto jpeg = std::make_unique<TzanMemoryStream>();
        jpeg->CopyFrom(AStream, avail);
        ClearThumbnail();
        FThumbnailStream = std::move(jpeg);
        break;
      } catch (...) {
      }
    }
  } catch (...) {
    // The directory and its entries stay; only the preview is missing.
  }
}

void TzanExifIFD::PostLoadFromStream(int64_t AStart, TStream& AStream) {
  const int64_t base = AStream.Position();
  TzanExifCustomIFD::PostLoadFromStream(AStart, AStream);
  try {
    if (HasOwnThumbnail() && FTagPairCut) {
      // The preview read first ended with the block that held the
      // structure; the file may hold the rest of it.
      std::unique_ptr<TzanMemoryStream> first = std::move(FThumbnailStream);
      FThumbnailHandle.reset();
      ReadTagPairThumbnail(AStream, kTagJpegOffset, kTagJpegLength, base);
      if (!HasOwnThumbnail() || FThumbnailStream->GetSize() <= first->GetSize()) {
        FThumbnailStream = std::move(first);
      } else {
        FTagPairCut = false;
      }
      return;
    }
    LoadTagPairThumbnail(AStream, kTagJpegOffset, kTagJpegLength, base);
  } catch (...) {
  }
}

bool TzanExifIFD::LoadStripImage(TStream& AStream, int64_t AStart) {
  PositionGuard guard(AStream);
  for (TzanExifTag tag : {kTagImageWidth, kTagImageLength, kTagBitsPerSample, kTagCompression})
    if (!HasTag(tag)) return false;
  bool result = false;
  try {
    if (IntOf(*this, kTagCompression) != 1) return false;
    for (TzanExifTag tag : {kTagPhotometric, kTagSamplesPerPixel, kTagStripOffsets, kTagStripByteCounts})
      if (!HasTag(tag)) return false;
    TzanStripStream strips(*this, AStart, AStream);

    const int32_t photometric = IntOf(*this, kTagPhotometric);
    const int32_t w = IntOf(*this, kTagImageWidth);
    const int32_t h = IntOf(*this, kTagImageLength);
    const int32_t spp = IntOf(*this, kTagSamplesPerPixel);
    TzanExifData& bitsData = GetEntryByTag(kTagBitsPerSample, false)->Data();
    const int32_t bps = bitsData.GetItemAsInteger(0);
    for (int32_t i = 1; i < bitsData.ItemCount(); ++i)
      if (bitsData.GetItemAsInteger(i) != bps) return false;
    if (w <= 0 || h <= 0 || uint64_t(w) * uint64_t(h) > kMaxPixels) return false;

    // The layouts whose samples we convert; anything else (16-bit samples,
    // 2-bit indices, ...) gives no preview rather than a wrong one.
    StripKind kind;
    int32_t outBits = 24;
    int64_t inBits = 0;  // per pixel
    YCbCrLayout ycc;
    if ((photometric == 0 || photometric == 1 || photometric == 3) && spp == 1 && (bps == 1 || bps == 4 || bps == 8)) {
      kind = StripKind::Indexed;
      outBits = bps;
      inBits = bps;
    } else if (photometric == 3 && spp == 2 && bps == 8) {
      kind = StripKind::PaletteAlpha;
      inBits = 16;
    } else if (photometric == 2 && spp >= 3 && spp <= 16 && bps == 8) {
      kind = StripKind::Rgb;
      inBits = 8 * spp;
    } else if (photometric == 5 && spp >= 4 && spp <= 16 && bps == 8) {
      kind = StripKind::Cmyk;
      inBits = 8 * spp;
    } else if (photometric == 6 && spp == 3 && bps == 8 && ycc.Read(*this)) {
      kind = StripKind::YCbCr;
    } else {
      return false;
    }

    // The image is read in units: one row, or for YCbCr one row of data
    // units (as many image rows as the vertical subsampling).
    const int32_t unitRows = kind == StripKind::YCbCr ? ycc.v : 1;
    const int64_t blocks = (int64_t(w) + ycc.h - 1) / ycc.h;  // YCbCr data units per unit
    const int64_t unitBytes =
        kind == StripKind::YCbCr ? blocks * (ycc.h * ycc.v + 2) : (int64_t(w) * inBits + 7) / 8;
    const int64_t units = (int64_t(h) + unitRows - 1) / unitRows;
    const int64_t bytesPerPixel = std::max<int64_t>(inBits / 8, 1);  // of the 8-bit layouts

    // Units the strips really hold: an image mostly missing from its file
    // gives no preview (and no allocation the file cannot back).
    const int64_t unitsHeld = strips.Available() / unitBytes;
    if (unitsHeld == 0 || (unitsHeld < units && units - unitsHeld > unitsHeld)) return false;

    // Palette: grey levels, or the ColorMap (all reds, all greens, all
    // blues, 16 bits each); as B, G, R, 0.
    std::array<uint32_t, 256> table{};
    const int32_t levels = kind == StripKind::PaletteAlpha ? 256 : BitmapPaletteSize(outBits);
    if (kind == StripKind::Indexed && photometric != 3) {
      for (int32_t i = 0; i < levels; ++i) {
        const uint32_t g = static_cast<uint32_t>(i * 255 / (levels - 1));
        table[static_cast<size_t>(i)] = g | (g << 8) | (g << 16);
      }
    } else if (photometric == 3) {
      try {
        if (TzanExifEntry* map = GetEntryByTag(kTagColorMap, false)) {
          TzanExifData& d = map->Data();
          for (int32_t i = 0; i < levels; ++i) {
            const uint32_t r = (static_cast<uint32_t>(d.GetItemAsInteger(i)) >> 8) & 0xFF;
            const uint32_t g = (static_cast<uint32_t>(d.GetItemAsInteger(levels + i)) >> 8) & 0xFF;
            const uint32_t b = (static_cast<uint32_t>(d.GetItemAsInteger(2 * levels + i)) >> 8) & 0xFF;
            table[static_cast<size_t>(i)] = b | (g << 8) | (r << 16);
          }
        }
      } catch (...) {
        // A missing or unreadable colour map leaves the palette black.
      }
    }

    std::vector<uint8_t> in(static_cast<size_t>(unitBytes));
    if (kind == StripKind::PaletteAlpha) {
      Hold(AStream, int64_t(w) * h * 4 + 1024);
      PngImage png;
      png.width = w;
      png.height = h;
      png.colorType = PngImage::kRGBA;
      png.bitDepth = 8;
      png.Allocate();
      for (int32_t r = 0; r < h; ++r) {
        const int64_t got = strips.Read(in.data(), unitBytes);
        uint8_t* out = png.PixelPtr(0, r);
        for (int64_t x = 0; x < w && 2 * x + 1 < got; ++x) {
          const uint32_t c = table[in[static_cast<size_t>(2 * x)]];
          out[4 * x + 0] = static_cast<uint8_t>(c >> 16);
          out[4 * x + 1] = static_cast<uint8_t>(c >> 8);
          out[4 * x + 2] = static_cast<uint8_t>(c);
          out[4 * x + 3] = in[static_cast<size_t>(2 * x + 1)];
        }
        if (got < unitBytes) break;
      }
      ClearThumbnail();
      result = true;
      PngWrite(ThumbnailStream(), png, 1);
      return result;
    }

    const int32_t colors = BitmapPaletteSize(outBits);
    const int64_t rowOut = BitmapRowSize(w, outBits);
    Hold(AStream, 54 + 4 * int64_t(colors) + rowOut * h);
    ClearThumbnail();
    TzanMemoryStream& bmp = ThumbnailStream();
    WriteBitmapHeaders(bmp, w, h, outBits, true);
    result = true;
    for (int32_t i = 0; i < colors; ++i) {
      const uint32_t c = table[static_cast<size_t>(i)];
      const uint8_t entry[4] = {static_cast<uint8_t>(c), static_cast<uint8_t>(c >> 8), static_cast<uint8_t>(c >> 16), 0};
      bmp.WriteBuffer(entry, 4);
    }
    const int64_t pixels = 54 + 4 * int64_t(colors);
    std::vector<uint8_t> out(static_cast<size_t>(rowOut * unitRows));
    for (int64_t u = 0; u < units; ++u) {
      const int64_t got = strips.Read(in.data(), unitBytes);
      if (got <= 0) break;
      std::fill(out.begin(), out.end(), 0);
      const int64_t whole = got / bytesPerPixel;  // pixels of 8-bit samples read in full
      switch (kind) {
        case StripKind::Indexed:
          // TIFF and BMP pack indices alike, most significant bits first;
          // WhiteIsZero has its bits inverted.
          for (int64_t i = 0; i < got; ++i)
            out[static_cast<size_t>(i)] = photometric == 0 ? static_cast<uint8_t>(~in[static_cast<size_t>(i)])
                                                           : in[static_cast<size_t>(i)];
          break;
        case StripKind::Rgb:
          for (int64_t x = 0; x < whole; ++x) {
            const uint8_t* s = in.data() + x * bytesPerPixel;
            out[static_cast<size_t>(3 * x)] = s[2];
            out[static_cast<size_t>(3 * x + 1)] = s[1];
            out[static_cast<size_t>(3 * x + 2)] = s[0];
          }
          break;
        case StripKind::Cmyk:
          for (int64_t x = 0; x < whole; ++x) {
            const uint8_t* s = in.data() + x * bytesPerPixel;
            out[static_cast<size_t>(3 * x)] = InkToLevel(s[2], s[3]);
            out[static_cast<size_t>(3 * x + 1)] = InkToLevel(s[1], s[3]);
            out[static_cast<size_t>(3 * x + 2)] = InkToLevel(s[0], s[3]);
          }
          break;
        case StripKind::YCbCr: {
          // Data units of h x v luma samples, then Cb and Cr.
          const int64_t unitSize = ycc.h * ycc.v + 2;
          for (int64_t bx = 0; bx < blocks && (bx + 1) * unitSize <= got; ++bx) {
            const uint8_t* unit = in.data() + bx * unitSize;
            const uint8_t cb = unit[unitSize - 2], cr = unit[unitSize - 1];
            for (int32_t dy = 0; dy < ycc.v; ++dy) {
              for (int32_t dx = 0; dx < ycc.h; ++dx) {
                const int64_t x = bx * ycc.h + dx;
                if (x >= w) continue;
                uint8_t* px = out.data() + dy * rowOut + 3 * x;
                ycc.ToBgr(unit[dy * ycc.h + dx], cb, cr, px);
              }
            }
          }
          break;
        }
        case StripKind::PaletteAlpha:
          break;
      }
      for (int32_t dy = 0; dy < unitRows; ++dy) {
        const int64_t r = u * unitRows + dy;
        if (r >= h) break;
        bmp.SetPosition(pixels + (int64_t(h) - 1 - r) * rowOut);
        bmp.WriteBuffer(out.data() + dy * rowOut, rowOut);
      }
      if (got < unitBytes) break;
    }
  } catch (...) {
    // A preview already started keeps the rows converted so far.
  }
  return result;
}

// ---- TzanExifPhotoShopSettingEntry -----------------------------------------------------

const TzanExifEntryClass& TzanExifPhotoShopSettingEntry::GetClass() const { return kPhotoShopSettingEntryClass; }

void TzanExifPhotoShopSettingEntry::Clear() {
  F8BIM = nullptr;
  TzanExifEntry::Clear();
}

void TzanExifPhotoShopSettingEntry::LoadFromStream(int64_t AStart, TzanExifOffsetArray& AOffsetArray,
                                                   TStream& AStream, uint32_t ACount) {
  TzanExifEntry::LoadFromStream(AStart, AOffsetArray, AStream, ACount);
  const std::vector<uint8_t>& raw = Data().OriginalRawData();
  F8BIM = new Tzan8BIM(this);
  TReadOnlyMemoryStream resources(raw.data(), raw.size());
  F8BIM->LoadFromStream(resources);
}

// ---- TzanStripStream -----------------------------------------------------------------------

TzanStripStream::TzanStripStream(TzanExifIFD& AIFD, int64_t AStart, TStream& AStream)
    : FStream(&AStream) {
  TzanExifEntry* offsets = AIFD.GetEntryByTag(kTagStripOffsets, false);
  TzanExifEntry* counts = AIFD.GetEntryByTag(kTagStripByteCounts, false);
  if (offsets == nullptr || counts == nullptr) return;
  // A strip needs both its offset and its byte count; offsets and counts
  // are unsigned 32-bit numbers.
  const int32_t n = std::min(offsets->Data().ItemCount(), counts->Data().ItemCount());
  const int64_t streamSize = AStream.Size();
  FStrips.reserve(static_cast<size_t>(n));
  for (int32_t i = 0; i < n; ++i) {
    const int64_t size = static_cast<uint32_t>(counts->Data().GetItemAsInteger(i));
    if (size == 0) continue;
    const int64_t offset = AStart + static_cast<uint32_t>(offsets->Data().GetItemAsInteger(i));
    FStrips.push_back({offset, size, FSize});
    FSize += size;
    FAvailable += std::clamp<int64_t>(streamSize - offset, 0, size);
  }
}

int64_t TzanStripStream::Read(void* buffer, int64_t count) {
  if (count > FSize - FPosition) count = FSize - FPosition;
  auto* out = static_cast<uint8_t*>(buffer);
  int64_t total = 0;
  while (count > 0) {
    // The strip holding the position: the last one that begins at or before it.
    auto it = std::upper_bound(FStrips.begin(), FStrips.end(), FPosition,
                               [](int64_t pos, const Strip& s) { return pos < s.begin; });
    if (it == FStrips.begin()) break;
    const Strip& strip = *(it - 1);
    const int64_t within = FPosition - strip.begin;
    const int64_t n = std::min(count, strip.size - within);
    const int64_t pos = strip.offset + within;
    if (FStream->Seek(pos, SeekOrigin::Begin) != pos) break;
    const int64_t got = FStream->Read(out + total, n);
    if (got <= 0) break;
    FPosition += got;
    total += got;
    count -= got;
    if (got < n) break;
  }
  return total;
}

int64_t TzanStripStream::Write(const void*, int64_t) { throw EzanMetaException("Cannot Write to TzanStripStream"); }

void TzanStripStream::SetSize(int64_t) { throw EzanMetaException("Cannot SetSize of TzanStripStream"); }

int64_t TzanStripStream::Seek(int64_t offset, SeekOrigin origin) {
  // Unlike other streams, never beyond the end.
  FPosition = std::min(SeekTarget(FPosition, FSize, offset, origin), FSize);
  return FPosition;
}

}  // namespace zan
