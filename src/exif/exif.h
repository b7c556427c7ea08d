// TIFF image file directories as a tree of meta objects: the header and its
// chain of directories (TzanExif), one directory (TzanExifCustomIFD), its
// 12-byte entries (TzanExifEntry) and their typed values (TzanExifData).
// The same reader serves camera JPEGs, TIFF files, EPS TIFF previews and
// the maker notes of many cameras; subclasses decide which entry classes
// exist and which directories carry previews.
//
// Layout (TIFF 6.0; every number in the byte order of the header, every
// offset counted from the header's first byte, "start"):
//   header     "II" or "MM", 42, offset of IFD0
//   directory  entry count n, n entries of 12 bytes, offset of the next
//              directory (below 8 ends the chain)
//   entry      tag, type, count, then the value itself when it fits in 4
//              bytes (left-aligned), else the value's offset
//
// Entry and directory classes are descriptor objects (class references):
//
//   class TMyEntry : public TzanExifEntry {
//    public:
//     using TzanExifEntry::TzanExifEntry;
//     const TzanExifEntryClass& GetClass() const override;
//     void LoadFromStream(int64_t AStart, TzanExifOffsetArray& AOffsets, TStream& AStream,
//                         uint32_t ACount) override;
//   };
//   class TMyEntryClass : public TExifEntryClassOf<TMyEntry> {
//    public:
//     const char* ClassName() const override { return "TMyEntry"; }
//     TzanExifTag GetTag() const override { return 0x1234; }
//   };
//
// Memory: everything a load keeps (entry values, directory and entry
// objects, previews) is taken with Hold() from an allowance shared by the
// whole tree the structure belongs to (a JPEG file with all its Exif
// segments, a TIFF file), in proportion to the largest stream that tree has
// read from (the file; a maker note read from its own copy counts the file
// it came from), so
// that a hostile structure (thousands of overlapping directories, offsets
// that point many entries at the same large value, many segments pointing
// at one large thumbnail) cannot make a small file take a large amount of
// memory. Units that build previews below a TzanExif take them from the
// same allowance.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <typeinfo>
#include <unordered_set>
#include <vector>

#include "meta/meta.h"
#include "platform/stream.h"

namespace zan {

using TzanExifTag = uint16_t;
using TzanExifType = uint16_t;
using TzanExifVersion = uint16_t;
using TzanExifByteOrder = uint16_t;
using TzanExifValueCount = uint32_t;
using TzanExifValueOffset = uint32_t;
using TzanExifLong = uint32_t;
using TzanExifSLong = int32_t;
using TzanExifByte = uint8_t;
using TzanExifUndefined = uint8_t;
using TzanExifSByte = int8_t;
using TzanExifShort = uint16_t;
using TzanExifSShort = int16_t;
using TzanExifFloat = float;
using TzanExifDouble = double;
using TzanExifAscii = char;
using TzanExifAsciis = std::string;

struct TzanExifRational {
  uint32_t Numerator = 0;
  uint32_t Denominator = 0;
};
struct TzanExifSRational {
  int32_t Numerator = 0;
  int32_t Denominator = 0;
};

// The TIFF value types.
enum : TzanExifType {
  kExifByte = 1,
  kExifAscii = 2,
  kExifShort = 3,
  kExifLong = 4,
  kExifRational = 5,
  kExifSByte = 6,
  kExifUndefined = 7,
  kExifSShort = 8,
  kExifSLong = 9,
  kExifSRational = 10,
  kExifFloat = 11,
  kExifDouble = 12,
};

// Byte orders as the header's two bytes read little-endian.
inline constexpr TzanExifByteOrder kExifLittleEndian = 0x4949;  // "II"
inline constexpr TzanExifByteOrder kExifBigEndian = 0x4D4D;     // "MM"

// Tags this unit and its users look at.
inline constexpr TzanExifTag kTagOrientation = 274;

// Raised with "Wrong size" for an item size the value reader cannot convert.
class EzanExifException : public Exception {
 public:
  using Exception::Exception;
};

// Item size of a type: 1, 2, 4 or 8; 1 for unknown types.
int32_t ExifTypeItemSize(TzanExifType AType);

// The offsets of every directory read during one load, in reading order;
// a directory offset met again ends its chain (loop check).
class TzanExifOffsetArray {
 public:
  bool Contains(uint32_t AOffset) const { return FSeen.count(AOffset) != 0; }
  void Add(uint32_t AOffset);
  size_t Count() const { return FItems.size(); }
  uint32_t operator[](size_t i) const { return FItems[i]; }

 private:
  std::vector<uint32_t> FItems;
  std::unordered_set<uint32_t> FSeen;
};

// ---- memory allowance ----------------------------------------------------------

// Bytes held by EXIF structures alive on the calling thread, all trees together.
int64_t ExifMemoryHeld();
// What one tree whose largest stream has AStreamSize bytes may hold in
// all: a fixed amount plus a few times the stream's size.
int64_t ExifMemoryLimit(int64_t AStreamSize);

// ---- values ------------------------------------------------------------------------

// A typed value: the bytes as stored (OriginalRawData) and the same items
// in host byte order (RawData). Item accessors given an index at or beyond
// ItemCount first grow the items to index + 1 (new items zero), so item 0
// of an empty value reads 0.
class TzanExifData {
 public:
  TzanExifData() = default;
  virtual ~TzanExifData() = default;
  TzanExifData(const TzanExifData&) = delete;
  TzanExifData& operator=(const TzanExifData&) = delete;

  virtual void Assign(const TzanExifData&) {}
  // Reads ACount items from the stream; ASwapBytes: the stream is
  // big-endian. Raises EReadError, before allocating anything, when the
  // stream holds fewer bytes.
  virtual void Read(TStream& AStream, uint32_t ACount, bool ASwapBytes);
  virtual TzanExifType GetType() const = 0;
  virtual int32_t GetItemSize() const { return ExifTypeItemSize(GetType()); }

  void Clear();
  TzanExifType Type_() const { return GetType(); }
  int32_t ItemSize() const { return GetItemSize(); }
  int32_t ItemCount() const;
  void SetItemCount(int32_t ACount);

  int32_t AsInteger();
  virtual int32_t GetItemAsInteger(int32_t AIndex);
  std::string AsString();
  virtual std::string GetItemAsString(int32_t AIndex);
  double AsReal() { return GetItemAsReal(0); }
  virtual double GetItemAsReal(int32_t AIndex);
  TzanExifRational AsRational() { return GetItemAsRational(0); }
  virtual TzanExifRational GetItemAsRational(int32_t AIndex);
  TzanExifSRational AsSRational() { return GetItemAsSRational(0); }
  virtual TzanExifSRational GetItemAsSRational(int32_t AIndex);

  const std::vector<uint8_t>& OriginalRawData() const { return FOriginalData; }
  const uint8_t* RawData() const { return FData.data(); }
  size_t RawSize() const { return FData.size(); }

 protected:
  // Grows the items to AIndex + 1 when needed; raises for a negative index.
  uint8_t* Item(int32_t AIndex);
  uint64_t ItemBits(int32_t AIndex);  // the item's bits, zero-extended

  std::vector<uint8_t> FOriginalData;
  std::vector<uint8_t> FData;
};

template <TzanExifType T, class Native>
class TzanExifTypedData : public TzanExifData {
 public:
  TzanExifType GetType() const override { return T; }
  // The first item in its own type.
  Native Data() {
    Native v;
    std::memcpy(&v, Item(0), sizeof v);
    return v;
  }
};

using TzanExifByteData = TzanExifTypedData<kExifByte, TzanExifByte>;
using TzanExifShortData = TzanExifTypedData<kExifShort, TzanExifShort>;
using TzanExifLongData = TzanExifTypedData<kExifLong, TzanExifLong>;
using TzanExifRationalData = TzanExifTypedData<kExifRational, TzanExifRational>;
using TzanExifSByteData = TzanExifTypedData<kExifSByte, TzanExifSByte>;
using TzanExifUndefinedData = TzanExifTypedData<kExifUndefined, TzanExifUndefined>;
using TzanExifSShortData = TzanExifTypedData<kExifSShort, TzanExifSShort>;
using TzanExifSLongData = TzanExifTypedData<kExifSLong, TzanExifSLong>;
using TzanExifSRationalData = TzanExifTypedData<kExifSRational, TzanExifSRational>;
using TzanExifFloatData = TzanExifTypedData<kExifFloat, TzanExifFloat>;
using TzanExifDoubleData = TzanExifTypedData<kExifDouble, TzanExifDouble>;

class TzanExifAsciiData : public TzanExifTypedData<kExifAscii, TzanExifAscii> {
 public:
  // The whole text, every byte as stored.
  std::string Ascii() const { return std::string(FData.begin(), FData.end()); }
};

// A type number outside 1..12: items of one byte, the number kept.
class TzanExifUnknownData : public TzanExifData {
 public:
  explicit TzanExifUnknownData(TzanExifType AType = 0) : FType(AType) {}
  TzanExifType GetType() const override { return FType; }
  void SetType(TzanExifType AType) { FType = AType; }

 private:
  TzanExifType FType;
};

// A new empty holder for a type number.
std::unique_ptr<TzanExifData> CreateExifData(TzanExifType AType);

// ---- objects ---------------------------------------------------------------------------

class TzanExifCustomIFD;
class TzanExifEntry;
class TzanExif;

// Base of every node of a TIFF structure.
class TzanExifObject : public TzanMetaObject {
 public:
  explicit TzanExifObject(TzanMetaObject* AOwner);
  ~TzanExifObject() override;

  const char* ClassName() const override { return "TzanExifObject"; }
  // Also gives back what the object holds.
  void Clear() override;

  virtual void Sort(bool) {}
  // The second pass: each TzanExifObject child from the last to the first,
  // the stream set back to where the pass began before each; the position
  // is restored at the end. Never raises: an exception ends this object's
  // loop.
  virtual void PostLoadFromStream(int64_t AStart, TStream& AStream);
  // The owner's answer when the owner is a TzanExifObject, else false.
  virtual bool GetSwapBytes() const;
  virtual bool GetOnlyIFD0() const;

  bool SwapBytes() const { return GetSwapBytes(); }
  bool OnlyIFD0() const { return GetOnlyIFD0(); }

  // Takes ABytes, read from AStream, from its tree's allowance for as long
  // as this object lives (or until ReleaseHeld); raises EOutOfResources,
  // holding nothing, when the allowance would be exceeded.
  void Hold(TStream& AStream, int64_t ABytes);
  // Gives back everything this object holds.
  void ReleaseHeld();

  int64_t FSavePosition = 0;

 protected:
  // The directory chain from a link as stored (its four bytes taken least
  // significant first): links below 8 and offsets seen before end it. Each
  // directory is made by AAddIFD and read at start + link; unless OnlyIFD0
  // the next link is read after its entries. Raises what the reads raise.
  template <class AddIFD>
  void ReadChain(uint32_t AStoredLink, TzanExifOffsetArray& AOffsetArray, TStream& AStream, int64_t AStart,
                 AddIFD AAddIFD);

 private:
  int64_t FHeld = 0;
  const TzanMetaObject* FHeldTree = nullptr;  // the root of the tree it holds for
};

// ---- entry classes ---------------------------------------------------------------------

// An entry class used as a value.
class TzanExifEntryClass {
 public:
  virtual ~TzanExifEntryClass() = default;
  virtual const char* ClassName() const = 0;
  // The tag this class is made for (0 in the base).
  virtual TzanExifTag GetTag() const { return 0; }
  // Does the entry belong to this class? The stream stands at the entry's
  // value field; the caller restores the position. Base: the tag matches.
  virtual bool IsValid(TzanExifTag ATag, TzanExifType AType, TzanExifValueCount ACount, int64_t AStart,
                       TStream& AStream, bool ASwapBytes) const;
  // The virtual constructor: a new entry appended to AOwner.
  virtual TzanExifEntry* Create(TzanExifCustomIFD* AOwner) const = 0;
};

template <class T, class Base = TzanExifEntryClass>
class TExifEntryClassOf : public Base {
 public:
  TzanExifEntry* Create(TzanExifCustomIFD* AOwner) const override { return new T(AOwner); }
};

// A directory class used as a value.
class TzanExifIFDClass {
 public:
  virtual ~TzanExifIFDClass() = default;
  virtual const char* ClassName() const = 0;
  // The virtual constructor: a new directory appended to AOwner.
  virtual TzanExifCustomIFD* Create(TzanExifObject* AOwner) const = 0;
};

template <class T, class Base = TzanExifIFDClass>
class TExifIFDClassOf : public Base {
 public:
  TzanExifCustomIFD* Create(TzanExifObject* AOwner) const override { return new T(AOwner); }
};

// ---- entries ------------------------------------------------------------------------------

class TzanExifEntry : public TzanExifObject {
 public:
  explicit TzanExifEntry(TzanExifCustomIFD* AOwner);

  const char* ClassName() const override { return GetClass().ClassName(); }
  virtual const TzanExifEntryClass& GetClass() const;

  void Clear() override;
  // "Tag " and the tag as four upper-case hexadecimal digits.
  std::string GetName() const override;
  std::string GetValue() const override;

  // Reads the value; the stream stands at the value field. An inline value
  // (at most 4 bytes) leaves the stream at the value field; an offset of 0
  // leaves the value empty and the stream after the field; otherwise the
  // stream is left at the start of the value.
  virtual void LoadFromStream(int64_t AStart, TzanExifOffsetArray& AOffsetArray, TStream& AStream,
                              uint32_t ACount);

  TzanExifTag Tag() const { return FTag; }
  void SetTag(TzanExifTag ATag) { FTag = ATag; }
  TzanExifType Type_() const { return FData->GetType(); }
  // Replaces the holder by an empty one of that type (nothing when equal).
  void SetType_(TzanExifType AType);

  TzanExifData& Data() { return *FData; }
  const TzanExifData& Data() const { return *FData; }
  // The holder as that class: kept when it is one, else replaced by a new
  // empty holder of that class.
  template <class H>
  H& DataAs();
  TzanExifUnknownData& UnknownData() { return DataAs<TzanExifUnknownData>(); }
  TzanExifUndefinedData& UndefinedData() { return DataAs<TzanExifUndefinedData>(); }
  TzanExifAsciiData& AsciiData() { return DataAs<TzanExifAsciiData>(); }
  TzanExifByteData& ByteData() { return DataAs<TzanExifByteData>(); }
  TzanExifSByteData& SByteData() { return DataAs<TzanExifSByteData>(); }
  TzanExifShortData& ShortData() { return DataAs<TzanExifShortData>(); }
  TzanExifSShortData& SShortData() { return DataAs<TzanExifSShortData>(); }
  TzanExifLongData& LongData() { return DataAs<TzanExifLongData>(); }
  TzanExifSLongData& SLongData() { return DataAs<TzanExifSLongData>(); }
  TzanExifFloatData& FloatData() { return DataAs<TzanExifFloatData>(); }
  TzanExifDoubleData& DoubleData() { return DataAs<TzanExifDoubleData>(); }
  TzanExifRationalData& RationalData() { return DataAs<TzanExifRationalData>(); }
  TzanExifSRationalData& SRationalData() { return DataAs<TzanExifSRationalData>(); }

  // The directory that owns the entry.
  TzanExifCustomIFD* IFD() const;

  // The value's offset from start as read (for an inline value the offset
  // of the value field).
  TzanExifValueOffset FOffset = 0;

 protected:
  TzanExifTag FTag = 0;
  std::unique_ptr<TzanExifData> FData;
};

template <class H>
H& TzanExifEntry::DataAs() {
  TzanExifData& held = *FData;
  if (typeid(held) == typeid(H)) return static_cast<H&>(held);
  FData = std::make_unique<H>();
  return static_cast<H&>(*FData);
}

class TzanExifIntEntry : public TzanExifEntry {
 public:
  using TzanExifEntry::TzanExifEntry;
  int32_t Int() { return Data().AsInteger(); }
};

class TzanExifLongEntry : public TzanExifIntEntry {
 public:
  explicit TzanExifLongEntry(TzanExifCustomIFD* AOwner);
  TzanExifLong Value() { return LongData().Data(); }
};

class TzanExifOffsetEntryClass : public TzanExifEntryClass {
 public:
  // Also requires one LONG item.
  bool IsValid(TzanExifTag ATag, TzanExifType AType, TzanExifValueCount ACount, int64_t AStart,
               TStream& AStream, bool ASwapBytes) const override;
  // The class of the sub-directories (TzanExifCustomIFD in the base).
  virtual const TzanExifIFDClass& GetIFDClass() const;
};

// An entry whose value is the offset of a chain of sub-directories; its
// children are those directories. The chain shares the loop check of the
// structure being read.
class TzanExifOffsetEntry : public TzanExifLongEntry {
 public:
  explicit TzanExifOffsetEntry(TzanExifCustomIFD* AOwner);
  const TzanExifEntryClass& GetClass() const override;
  void LoadFromStream(int64_t AStart, TzanExifOffsetArray& AOffsetArray, TStream& AStream,
                      uint32_t ACount) override;

  const TzanExifIFDClass& GetIFDClass() const;
  // A new directory of GetIFDClass as the next child; its index.
  int32_t AddIFD();
  int32_t IFDCount() const { return ItemCount(); }
  TzanExifCustomIFD* GetIFD(int32_t AIndex) const;
};

// ---- directories ------------------------------------------------------------------------------

class TzanExifCustomIFD : public TzanExifObject {
 public:
  explicit TzanExifCustomIFD(TzanExifObject* AOwner);

  const char* ClassName() const override { return GetClass().ClassName(); }
  virtual const TzanExifIFDClass& GetClass() const;

  // "IFD" and the directory's index in its owner.
  std::string GetName() const override;
  void Sort(bool AllowChilds) override;

  // Reads the entries at the stream position (the link after them is the
  // chain reader's). Raises "Too many tags..." for more than 255 entries;
  // every other failure is contained per entry.
  virtual void LoadFromStream(int64_t AStart, TzanExifOffsetArray& AOffsetArray, TStream& AStream);
  virtual void AdjustEntryCount(int32_t& ACount, TStream& AStream, int64_t AStart);
  // The entry classes to try, asked from the last to the first (none in the base).
  virtual const std::vector<const TzanExifEntryClass*>* GetEntryClasses() const { return nullptr; }
  // The class of entries no listed class takes (null: TzanExifEntry).
  virtual const TzanExifEntryClass* GetDefaultEntryClass() const { return nullptr; }
  // The first entry with the tag; none, or with ACreate a new empty entry
  // appended to the directory.
  virtual TzanExifEntry* GetEntryByTag(TzanExifTag ATag, bool ACreate);

  int32_t EntryCount() const { return ItemCount(); }
  TzanExifEntry* GetEntry(int32_t AIndex) const;
  int32_t IndexOfTag(TzanExifTag ATag) const;
  bool HasTag(TzanExifTag ATag) const { return IndexOfTag(ATag) >= 0; }
  int32_t IndexOfEntryClass(const TzanExifEntryClass& AClass) const;
  bool HasEntryClass(const TzanExifEntryClass& AClass) const { return IndexOfEntryClass(AClass) >= 0; }
  TzanExifEntry* GetEntryByClass(const TzanExifEntryClass& AClass, bool ACreate);

  // The directory's preview from an offset tag and a length tag, offsets
  // counted from ABase: nothing when it already has one or lacks a tag.
  void LoadTagPairThumbnail(TStream& AStream, TzanExifTag AOffsetTag, TzanExifTag ALengthTag, int64_t ABase);

 protected:
  // The tag-pair read without the test for an existing preview. Returns
  // true when fewer bytes were available than the length tag asks for
  // (the preview, if any, is cut short).
  bool ReadTagPairThumbnail(TStream& AStream, TzanExifTag AOffsetTag, TzanExifTag ALengthTag, int64_t ABase);
};

// ---- the structure --------------------------------------------------------------------------------

class TzanExif : public TzanExifObject {
 public:
  TzanExif(const TzanExifIFDClass& AIFDClass, TzanMetaObject* AOwner);

  const char* ClassName() const override { return "TzanExif"; }

  void PostLoadFromStream(int64_t AStart, TStream& AStream) override;
  bool GetSwapBytes() const override { return FByteOrder == kExifBigEndian; }
  bool GetOnlyIFD0() const override { return FOnlyIFD0; }

  // Reads the byte order and the version (neither is tested).
  virtual void ReadHeader(TStream& AStream);
  // The directory chain from the link at the stream position.
  virtual void LoadIFDs(TzanExifOffsetArray& AOffsetArray, TStream& AStream, const TzanExifIFDClass& AIFDClass,
                        int64_t AStart);

  // Is there a TIFF header ("II" or "MM", then 42) at the stream position?
  // The position is restored; a short stream gives false.
  static bool IsExif(TStream& AStream);
  // Parses from the stream position; offsets count from AStartOffset + that
  // position. Raises what ends the chain ("Too many tags...", a read past
  // the end); the directories read so far stay.
  void LoadFromStream(TStream& AStream, int32_t AStartOffset);

  int32_t AddIFD();
  int32_t IFDCount() const { return ItemCount(); }
  TzanExifCustomIFD* GetIFD(int32_t AIndex) const;

  void SetSwapBytes(bool AValue) { FByteOrder = AValue ? kExifBigEndian : kExifLittleEndian; }
  void SetOnlyIFD0(bool AValue) { FOnlyIFD0 = AValue; }
  const TzanExifIFDClass& IFDClass() const { return *FIFDClass; }

  int32_t FByteAlignment = 2;
  const TzanExifIFDClass* FIFDClass;
  TzanExifVersion FVersion = 42;
  TzanExifByteOrder FByteOrder = kExifLittleEndian;
  bool FOnlyIFD0 = false;
};

// Descriptors of the base classes.
const TzanExifEntryClass& ExifEntryClass();
const TzanExifEntryClass& ExifOffsetEntryClass();
const TzanExifIFDClass& ExifCustomIFDClass();

// ---- template definitions ------------------------------------------------------------------

template <class AddIFD>
void TzanExifObject::ReadChain(uint32_t AStoredLink, TzanExifOffsetArray& AOffsetArray, TStream& AStream,
                               int64_t AStart, AddIFD AAddIFD) {
  uint32_t stored = AStoredLink;
  for (;;) {
    // The test is made on the stored bytes, before the byte-order conversion.
    if (stored < 8) return;
    const uint32_t link = SwapBytes() ? ((stored & 0xFFu) << 24) | ((stored & 0xFF00u) << 8) |
                                            ((stored >> 8) & 0xFF00u) | (stored >> 24)
                                      : stored;
    if (AOffsetArray.Contains(link)) return;  // a loop
    AOffsetArray.Add(link);
    AStream.SetPosition(AStart + static_cast<int64_t>(link));
    TzanExifCustomIFD* ifd = AAddIFD();
    ifd->LoadFromStream(AStart, AOffsetArray, AStream);
    if (OnlyIFD0()) return;
    uint8_t b[4];
    AStream.ReadBuffer(b, 4);
    stored = uint32_t(b[0]) | (uint32_t(b[1]) << 8) | (uint32_t(b[2]) << 16) | (uint32_t(b[3]) << 24);
  }
}

}  // namespace zan
