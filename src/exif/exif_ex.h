// Ordinary EXIF and TIFF data: TzanExifEx, whose directories (TzanExifIFD)
// find their previews (a JPEG by offset and length in tags 513/514, an
// uncompressed strip image turned into a BMP or PNG file, a JPEG pointed at
// by a LONG tag 37510) and record their Orientation tag on them; the
// process-wide list of entry classes those directories try (Photoshop
// resources of tag 34377 here, maker notes of tag 37500 from their own
// units); and TzanStripStream, the strip data of one directory as a stream.
#pragma once

#include <cstdint>
#include <vector>

#include "exif/exif.h"
#include "platform/stream.h"

namespace zan {

class Tzan8BIM;

// Tags (TIFF 6.0 and EXIF names).
inline constexpr TzanExifTag kTagImageWidth = 256;
inline constexpr TzanExifTag kTagImageLength = 257;
inline constexpr TzanExifTag kTagBitsPerSample = 258;
inline constexpr TzanExifTag kTagCompression = 259;
inline constexpr TzanExifTag kTagPhotometric = 262;
inline constexpr TzanExifTag kTagStripOffsets = 273;
inline constexpr TzanExifTag kTagSamplesPerPixel = 277;
inline constexpr TzanExifTag kTagStripByteCounts = 279;
inline constexpr TzanExifTag kTagColorMap = 320;
inline constexpr TzanExifTag kTagJpegOffset = 513;
inline constexpr TzanExifTag kTagJpegLength = 514;
inline constexpr TzanExifTag kTagPhotoshop = 34377;
inline constexpr TzanExifTag kTagMakerNote = 37500;
inline constexpr TzanExifTag kTagUserComment = 37510;

// The directory class of ordinary EXIF and TIFF data.
class TzanExifIFD : public TzanExifCustomIFD {
 public:
  using TzanExifCustomIFD::TzanExifCustomIFD;
  const TzanExifIFDClass& GetClass() const override;

  // The entries, then the preview: tags 513/514, else the strip image
  // (replaced by a LONG 37510 JPEG when there is one). The Orientation tag
  // becomes the preview's orientation code.
  void LoadFromStream(int64_t AStart, TzanExifOffsetArray& AOffsetArray, TStream& AStream) override;
  // The pass over the entries, then the 513/514 preview with offsets counted
  // from the position the pass was called at, for a directory that has no
  // preview yet or whose preview was cut short by the end of the block read
  // first.
  void PostLoadFromStream(int64_t AStart, TStream& AStream) override;
  const std::vector<const TzanExifEntryClass*>* GetEntryClasses() const override;
  const TzanExifEntryClass* GetDefaultEntryClass() const override;

  // Turns an uncompressed strip image into a BMP (or, for palette images
  // with an alpha sample, a PNG) preview; true once a preview was started.
  // The stream position is restored.
  bool LoadStripImage(TStream& AStream, int64_t AStart);

 private:
  // The 513/514 preview read while loading ended at the end of the stream.
  bool FTagPairCut = false;
};

class TzanExifEx : public TzanExif {
 public:
  explicit TzanExifEx(TzanMetaObject* AOwner);
  const char* ClassName() const override { return "TzanExifEx"; }
};

// Photoshop image resources stored in tag 34377; their thumbnail blocks
// become part of the directory's subtree.
class TzanExifPhotoShopSettingEntry : public TzanExifEntry {
 public:
  using TzanExifEntry::TzanExifEntry;
  const TzanExifEntryClass& GetClass() const override;
  void Clear() override;
  void LoadFromStream(int64_t AStart, TzanExifOffsetArray& AOffsetArray, TStream& AStream,
                      uint32_t ACount) override;
  Tzan8BIM* Resources() const { return F8BIM; }

 private:
  Tzan8BIM* F8BIM = nullptr;  // a child
};

// The strip data of a directory (StripOffsets 273, StripByteCounts 279) as
// one read-only stream: strip after strip, each read where its offset
// points, counted from the structure's start.
class TzanStripStream : public TStream {
 public:
  TzanStripStream(TzanExifIFD& AIFD, int64_t AStart, TStream& AStream);

  int64_t Read(void* buffer, int64_t count) override;
  // Raises EzanMetaException.
  int64_t Write(const void* buffer, int64_t count) override;
  // Positions are clamped to 0 .. Size.
  int64_t Seek(int64_t offset, SeekOrigin origin) override;
  int64_t GetSize() override { return FSize; }
  // Raises EzanMetaException.
  void SetSize(int64_t size) override;

  // How many of the Size bytes the underlying stream really holds.
  int64_t Available() const { return FAvailable; }

 private:
  struct Strip {
    int64_t offset;  // in the underlying stream
    int64_t size;
    int64_t begin;   // position of its first byte in this stream
  };
  TStream* FStream;
  int64_t FPosition = 0;
  int64_t FSize = 0;
  int64_t FAvailable = 0;
  std::vector<Strip> FStrips;
};

// Appends an entry class to the list every TzanExifIFD tries (a class
// already registered is not added twice). Called at module load only.
void RegisterExifEntryClass(const TzanExifEntryClass& AClass);
// The list itself, in registration order (tests save and restore it).
std::vector<const TzanExifEntryClass*>& ExifEntryClassList();

const TzanExifIFDClass& ExifIFDClass();
const TzanExifEntryClass& ExifPhotoShopSettingEntryClass();

}  // namespace zan
