// The TIFF directory reader: header, directory chain with its loop check,
// entries chosen by class, typed values and the tag-pair preview.
#include "exif/exif.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <unordered_map>

#include "meta/utils.h"

namespace zan {

namespace {

// What one directory or entry object is counted as in the allowance (the
// object, its value holder and the bookkeeping around them).
constexpr int64_t kNodeCost = 256;

// What the structures alive hold: in all, and per tree (by the tree's root
// node). The module runs on its host's calling thread, one call at a time,
// so plain globals serve (a thread-local with a destructor would also pin
// the shared module in memory when it is unloaded). A tree may hold in proportion to the largest
// stream it has read from (the file; copies of parts of it are smaller).
struct TreeAllowance {
  int64_t held = 0;
  int64_t largestStream = 0;
};
int64_t g_held = 0;
std::unordered_map<const TzanMetaObject*, TreeAllowance> g_trees;

constexpr bool kHostBigEndian = std::endian::native == std::endian::big;

// Reads a 16- or 32-bit number in the structure's byte order.
uint16_t Read16(TStream& s, bool bigEndian) { return bigEndian ? s.ReadU16BE() : s.ReadU16LE(); }
uint32_t Read32(TStream& s, bool bigEndian) { return bigEndian ? s.ReadU32BE() : s.ReadU32LE(); }

// Rounds to the nearest integer, halves to even; values outside the 32-bit
// range (and NaN) raise, as a rounding that cannot be represented.
int32_t RoundToInt32(double v) {
  if (!std::isfinite(v)) throw EzanExifException("Invalid floating point operation");
  const double r = std::nearbyint(v);
  if (r < static_cast<double>(std::numeric_limits<int32_t>::min()) ||
      r > static_cast<double>(std::numeric_limits<int32_t>::max()))
    throw EzanExifException("Invalid floating point operation");
  return static_cast<int32_t>(r);
}

double Divide(double n, double d) {
  if (d == 0) throw EzanExifException("Division by zero");
  return n / d;
}

// Decimal integer text with an optional sign, nothing else.
int32_t ParseInt(const std::string& text) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  if (i >= text.size()) throw EzanExifException("'" + text + "' is not a valid integer value");
  int64_t v = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c < '0' || c > '9') throw EzanExifException("'" + text + "' is not a valid integer value");
    v = v * 10 + (c - '0');
    if (v > int64_t(std::numeric_limits<int32_t>::max()) + 1)
      throw EzanExifException("'" + text + "' is not a valid integer value");
  }
  if (negative) v = -v;
  if (v > std::numeric_limits<int32_t>::max()) throw EzanExifException("'" + text + "' is not a valid integer value");
  return static_cast<int32_t>(v);
}

}  // namespace

int32_t ExifTypeItemSize(TzanExifType AType) {
  switch (AType) {
    case kExifShort:
    case kExifSShort:
      return 2;
    case kExifLong:
    case kExifSLong:
    case kExifFloat:
      return 4;
    case kExifRational:
    case kExifSRational:
    case kExifDouble:
      return 8;
    default:
      return 1;
  }
}

void TzanExifOffsetArray::Add(uint32_t AOffset) {
  FItems.push_back(AOffset);
  FSeen.insert(AOffset);
}

int64_t ExifMemoryHeld() { return g_held; }

int64_t ExifMemoryLimit(int64_t AStreamSize) {
  constexpr int64_t kFixed = int64_t(4) << 20;
  constexpr int64_t kPerByte = 8;
  const int64_t size = std::max<int64_t>(AStreamSize, 0);
  if (size > (std::numeric_limits<int64_t>::max() - kFixed) / kPerByte) return std::numeric_limits<int64_t>::max();
  return kFixed + kPerByte * size;
}

// ---- values -----------------------------------------------------------------------------

std::unique_ptr<TzanExifData> CreateExifData(TzanExifType AType) {
  switch (AType) {
    case kExifByte:
      return std::make_unique<TzanExifByteData>();
    case kExifAscii:
      return std::make_unique<TzanExifAsciiData>();
    case kExifShort:
      return std::make_unique<TzanExifShortData>();
    case kExifLong:
      return std::make_unique<TzanExifLongData>();
    case kExifRational:
      return std::make_unique<TzanExifRationalData>();
    case kExifSByte:
      return std::make_unique<TzanExifSByteData>();
    case kExifUndefined:
      return std::make_unique<TzanExifUndefinedData>();
    case kExifSShort:
      return std::make_unique<TzanExifSShortData>();
    case kExifSLong:
      return std::make_unique<TzanExifSLongData>();
    case kExifSRational:
      return std::make_unique<TzanExifSRationalData>();
    case kExifFloat:
      return std::make_unique<TzanExifFloatData>();
    case kExifDouble:
      return std::make_unique<TzanExifDoubleData>();
    default:
      return std::make_unique<TzanExifUnknownData>(AType);
  }
}

void TzanExifData::Clear() {
  FOriginalData.clear();
  FOriginalData.shrink_to_fit();
  FData.clear();
  FData.shrink_to_fit();
}

void TzanExifData::Read(TStream& AStream, uint32_t ACount, bool ASwapBytes) {
  Clear();
  const int32_t size = GetItemSize();
  const int64_t m = int64_t(ACount) * size;
  // Nothing is allocated for bytes the stream does not hold.
  if (m > AStream.Remaining()) throw EReadError("Stream read error");
  if (m > 0) {
    FOriginalData.resize(static_cast<size_t>(m));
    AStream.ReadBuffer(FOriginalData.data(), m);
  }
  FData = FOriginalData;
  // The items are stored in the file's order; convert them to the host's.
  if (ASwapBytes == kHostBigEndian || size == 1) return;
  uint8_t* p = FData.data();
  const size_t n = FData.size() / static_cast<size_t>(size);
  const TzanExifType type = GetType();
  for (size_t i = 0; i < n; ++i, p += size) {
    switch (size) {
      case 2:
        std::swap(p[0], p[1]);
        break;
      case 4:
        std::reverse(p, p + 4);
        break;
      case 8:
        if (type == kExifRational || type == kExifSRational) {
          std::reverse(p, p + 4);
          std::reverse(p + 4, p + 8);
        } else {
          std::reverse(p, p + 8);
        }
        break;
      default:
        throw EzanExifException("Wrong size");
    }
  }
}

int32_t TzanExifData::ItemCount() const { return static_cast<int32_t>(FData.size() / size_t(GetItemSize())); }

void TzanExifData::SetItemCount(int32_t ACount) {
  if (ACount < 0) throw EzanExifException("Invalid item count");
  FData.resize(static_cast<size_t>(ACount) * static_cast<size_t>(GetItemSize()));
}

uint8_t* TzanExifData::Item(int32_t AIndex) {
  if (AIndex < 0) throw EzanExifException("Item index out of bounds");
  if (AIndex >= ItemCount()) SetItemCount(AIndex + 1);
  return FData.data() + static_cast<size_t>(AIndex) * static_cast<size_t>(GetItemSize());
}

uint64_t TzanExifData::ItemBits(int32_t AIndex) {
  const uint8_t* p = Item(AIndex);
  switch (GetItemSize()) {
    case 2: {
      uint16_t v;
      std::memcpy(&v, p, 2);
      return v;
    }
    case 4: {
      uint32_t v;
      std::memcpy(&v, p, 4);
      return v;
    }
    case 8: {
      uint64_t v;
      std::memcpy(&v, p, 8);
      return v;
    }
    default:
      return p[0];
  }
}

int32_t TzanExifData::AsInteger() {
  if (GetType() == kExifAscii) return ParseInt(AsString());
  return GetItemAsInteger(0);
}

int32_t TzanExifData::GetItemAsInteger(int32_t AIndex) {
  const uint8_t* p = Item(AIndex);
  switch (GetType()) {
    case kExifSByte:
      return static_cast<int8_t>(p[0]);
    case kExifShort: {
      uint16_t v;
      std::memcpy(&v, p, 2);
      return v;
    }
    case kExifSShort: {
      int16_t v;
      std::memcpy(&v, p, 2);
      return v;
    }
    case kExifLong:
    case kExifSLong: {
      int32_t v;
      std::memcpy(&v, p, 4);
      return v;
    }
    case kExifFloat: {
      float v;
      std::memcpy(&v, p, 4);
      return RoundToInt32(v);
    }
    case kExifDouble: {
      double v;
      std::memcpy(&v, p, 8);
      return RoundToInt32(v);
    }
    case kExifRational: {
      const TzanExifRational r = GetItemAsRational(AIndex);
      return RoundToInt32(Divide(r.Numerator, r.Denominator));
    }
    case kExifSRational: {
      const TzanExifSRational r = GetItemAsSRational(AIndex);
      return RoundToInt32(Divide(r.Numerator, r.Denominator));
    }
    case kExifAscii: {
      const char c = static_cast<char>(p[0]);
      if (c < '0' || c > '9') throw EzanExifException(std::string("'") + c + "' is not a valid integer value");
      return c - '0';
    }
    default:  // BYTE, UNDEFINED and unknown types: one unsigned byte
      return p[0];
  }
}

std::string TzanExifData::GetItemAsString(int32_t AIndex) {
  switch (GetType()) {
    case kExifFloat:
    case kExifDouble:
      return FloatToText(2, false, GetItemAsReal(AIndex));
    case kExifRational: {
      const TzanExifRational r = GetItemAsRational(AIndex);
      const std::string value =
          r.Denominator == 0 ? "?" : FloatToText(2, false, static_cast<long double>(r.Numerator) / r.Denominator);
      return value + " (" + std::to_string(r.Numerator) + "/" + std::to_string(r.Denominator) + ")";
    }
    case kExifSRational: {
      const TzanExifSRational r = GetItemAsSRational(AIndex);
      const std::string value =
          r.Denominator == 0 ? "?" : FloatToText(2, false, static_cast<long double>(r.Numerator) / r.Denominator);
      return value + " (" + std::to_string(r.Numerator) + "/" + std::to_string(r.Denominator) + ")";
    }
    case kExifAscii:
      return std::string(1, static_cast<char>(Item(AIndex)[0]));
    default:
      return IntToText(GetItemAsInteger(AIndex), 0);
  }
}

std::string TzanExifData::AsString() {
  if (GetType() == kExifAscii) {
    std::string text(FData.begin(), FData.end());
    if (!text.empty() && text.back() == '\0') text.pop_back();
    return text;
  }
  std::string text;
  const int32_t n = ItemCount();
  for (int32_t i = 0; i < n; ++i) {
    if (i > 0) text += ' ';
    text += GetItemAsString(i);
  }
  return text;
}

double TzanExifData::GetItemAsReal(int32_t AIndex) {
  switch (GetType()) {
    case kExifFloat: {
      float v;
      std::memcpy(&v, Item(AIndex), 4);
      return v;
    }
    case kExifDouble: {
      double v;
      std::memcpy(&v, Item(AIndex), 8);
      return v;
    }
    case kExifRational: {
      const TzanExifRational r = GetItemAsRational(AIndex);
      return Divide(r.Numerator, r.Denominator);
    }
    case kExifSRational: {
      const TzanExifSRational r = GetItemAsSRational(AIndex);
      return Divide(r.Numerator, r.Denominator);
    }
    default:
      return GetItemAsInteger(AIndex);
  }
}

TzanExifRational TzanExifData::GetItemAsRational(int32_t AIndex) {
  const TzanExifType type = GetType();
  if (type == kExifRational || type == kExifSRational) {
    TzanExifRational r;
    std::memcpy(&r.Numerator, Item(AIndex), 4);
    std::memcpy(&r.Denominator, Item(AIndex) + 4, 4);
    return r;
  }
  return {static_cast<uint32_t>(GetItemAsInteger(AIndex)), 1};
}

TzanExifSRational TzanExifData::GetItemAsSRational(int32_t AIndex) {
  const TzanExifType type = GetType();
  if (type == kExifRational || type == kExifSRational) {
    TzanExifSRational r;
    std::memcpy(&r.Numerator, Item(AIndex), 4);
    std::memcpy(&r.Denominator, Item(AIndex) + 4, 4);
    return r;
  }
  return {GetItemAsInteger(AIndex), 1};
}

// ---- TzanExifObject --------------------------------------------------------------------

TzanExifObject::TzanExifObject(TzanMetaObject* AOwner) : TzanMetaObject(AOwner) {}

TzanExifObject::~TzanExifObject() { ReleaseHeld(); }

void TzanExifObject::Clear() {
  TzanMetaObject::Clear();
  ReleaseHeld();
}

void TzanExifObject::PostLoadFromStream(int64_t AStart, TStream& AStream) {
  try {
    PositionGuard guard(AStream);
    for (int32_t i = ItemCount() - 1; i >= 0; --i) {
      if (i >= ItemCount()) continue;
      if (auto* child = dynamic_cast<TzanExifObject*>(Items(i))) {
        AStream.SetPosition(guard.Saved());
        child->PostLoadFromStream(AStart, AStream);
      }
    }
  } catch (...) {
    // The pass never fails: what could not be resolved stays unresolved.
  }
}

bool TzanExifObject::GetSwapBytes() const {
  const auto* owner = dynamic_cast<const TzanExifObject*>(FOwner);
  return owner != nullptr && owner->GetSwapBytes();
}

bool TzanExifObject::GetOnlyIFD0() const {
  const auto* owner = dynamic_cast<const TzanExifObject*>(FOwner);
  return owner != nullptr && owner->GetOnlyIFD0();
}

void TzanExifObject::Hold(TStream& AStream, int64_t ABytes) {
  if (ABytes <= 0) return;
  if (FHeldTree == nullptr) {
    const TzanMetaObject* root = this;
    while (root->Owner() != nullptr) root = root->Owner();
    FHeldTree = root;
  }
  TreeAllowance& tree = g_trees[FHeldTree];
  tree.largestStream = std::max(tree.largestStream, AStream.Size());
  const int64_t limit = ExifMemoryLimit(tree.largestStream);
  if (ABytes > limit || tree.held > limit - ABytes) {
    if (tree.held == 0) g_trees.erase(FHeldTree);
    throw EOutOfResources("EXIF data out of proportion to its file");
  }
  tree.held += ABytes;
  g_held += ABytes;
  FHeld += ABytes;
}

void TzanExifObject::ReleaseHeld() {
  if (FHeld == 0) return;
  const auto it = g_trees.find(FHeldTree);
  if (it != g_trees.end()) {
    it->second.held -= FHeld;
    if (it->second.held <= 0) g_trees.erase(it);
  }
  g_held -= FHeld;
  FHeld = 0;
}

// ---- entry classes -------------------------------------------------------------------------

bool TzanExifEntryClass::IsValid(TzanExifTag ATag, TzanExifType, TzanExifValueCount, int64_t, TStream&,
                                 bool) const {
  return GetTag() == ATag;
}

namespace {

class TzanExifEntryClassImpl : public TExifEntryClassOf<TzanExifEntry> {
 public:
  const char* ClassName() const override { return "TzanExifEntry"; }
};
const TzanExifEntryClassImpl kExifEntryClass;

class TzanExifOffsetEntryClassImpl : public TExifEntryClassOf<TzanExifOffsetEntry, TzanExifOffsetEntryClass> {
 public:
  const char* ClassName() const override { return "TzanExifOffsetEntry"; }
};
const TzanExifOffsetEntryClassImpl kExifOffsetEntryClass;

class TzanExifCustomIFDClassImpl : public TExifIFDClassOf<TzanExifCustomIFD> {
 public:
  const char* ClassName() const override { return "TzanExifCustomIFD"; }
};
const TzanExifCustomIFDClassImpl kExifCustomIFDClass;

}  // namespace

const TzanExifEntryClass& ExifEntryClass() { return kExifEntryClass; }
const TzanExifEntryClass& ExifOffsetEntryClass() { return kExifOffsetEntryClass; }
const TzanExifIFDClass& ExifCustomIFDClass() { return kExifCustomIFDClass; }

bool TzanExifOffsetEntryClass::IsValid(TzanExifTag ATag, TzanExifType AType, TzanExifValueCount ACount,
                                       int64_t AStart, TStream& AStream, bool ASwapBytes) const {
  return TzanExifEntryClass::IsValid(ATag, AType, ACount, AStart, AStream, ASwapBytes) && ACount == 1 &&
         AType == kExifLong;
}

const TzanExifIFDClass& TzanExifOffsetEntryClass::GetIFDClass() const { return kExifCustomIFDClass; }

// ---- entries ---------------------------------------------------------------------------------

TzanExifEntry::TzanExifEntry(TzanExifCustomIFD* AOwner)
    : TzanExifObject(AOwner), FData(std::make_unique<TzanExifUnknownData>(0)) {}

const TzanExifEntryClass& TzanExifEntry::GetClass() const { return kExifEntryClass; }

void TzanExifEntry::Clear() {
  TzanExifObject::Clear();
  FData->Clear();
}

std::string TzanExifEntry::GetName() const {
  static const char kHex[] = "0123456789ABCDEF";
  std::string name = "Tag ";
  for (int shift = 12; shift >= 0; shift -= 4) name += kHex[(FTag >> shift) & 0xF];
  return name;
}

std::string TzanExifEntry::GetValue() const { return FData->AsString(); }

void TzanExifEntry::SetType_(TzanExifType AType) {
  if (AType == FData->GetType()) return;
  FData = CreateExifData(AType);
}

TzanExifCustomIFD* TzanExifEntry::IFD() const { return dynamic_cast<TzanExifCustomIFD*>(FOwner); }

void TzanExifEntry::LoadFromStream(int64_t AStart, TzanExifOffsetArray&, TStream& AStream, uint32_t ACount) {
  Clear();
  const bool swap = SwapBytes();
  // In 64 bits: a count near 2^32 must not wrap into an inline value.
  const int64_t n = int64_t(ACount) * FData->GetItemSize();
  if (n <= 4) {
    const int64_t field = AStream.Position();
    FOffset = static_cast<TzanExifValueOffset>(field - AStart);
    FData->Read(AStream, ACount, swap);
    AStream.SetPosition(field);
    return;
  }
  FOffset = Read32(AStream, swap);
  if (FOffset == 0) return;
  const int64_t value = AStart + static_cast<int64_t>(FOffset);
  AStream.SetPosition(value);
  if (AStream.Position() != value || n > AStream.Remaining()) throw EReadError("Stream read error");
  // Kept twice: as stored and in host order.
  Hold(AStream, 2 * n);
  FData->Read(AStream, ACount, swap);
  AStream.SetPosition(value);
}

TzanExifLongEntry::TzanExifLongEntry(TzanExifCustomIFD* AOwner) : TzanExifIntEntry(AOwner) {
  FData = std::make_unique<TzanExifLongData>();
}

TzanExifOffsetEntry::TzanExifOffsetEntry(TzanExifCustomIFD* AOwner) : TzanExifLongEntry(AOwner) {
  FData->SetItemCount(1);
}

const TzanExifEntryClass& TzanExifOffsetEntry::GetClass() const { return kExifOffsetEntryClass; }

const TzanExifIFDClass& TzanExifOffsetEntry::GetIFDClass() const {
  if (const auto* cls = dynamic_cast<const TzanExifOffsetEntryClass*>(&GetClass())) return cls->GetIFDClass();
  return kExifCustomIFDClass;
}

int32_t TzanExifOffsetEntry::AddIFD() {
  GetIFDClass().Create(this);
  return ItemCount() - 1;
}

TzanExifCustomIFD* TzanExifOffsetEntry::GetIFD(int32_t AIndex) const {
  return static_cast<TzanExifCustomIFD*>(Items(AIndex));
}

void TzanExifOffsetEntry::LoadFromStream(int64_t AStart, TzanExifOffsetArray& AOffsetArray, TStream& AStream,
                                         uint32_t ACount) {
  PositionGuard guard(AStream);
  TzanExifEntry::LoadFromStream(AStart, AOffsetArray, AStream, ACount);
  // The link as stored in the file.
  const std::vector<uint8_t>& raw = FData->OriginalRawData();
  uint32_t stored = 0;
  if (FData->RawSize() == 4 && raw.size() == 4)
    stored = uint32_t(raw[0]) | (uint32_t(raw[1]) << 8) | (uint32_t(raw[2]) << 16) | (uint32_t(raw[3]) << 24);
  ReadChain(stored, AOffsetArray, AStream, AStart, [&]() {
    Hold(AStream, kNodeCost);
    return GetIFD(AddIFD());
  });
}

// ---- directories ------------------------------------------------------------------------------

TzanExifCustomIFD::TzanExifCustomIFD(TzanExifObject* AOwner) : TzanExifObject(AOwner) {}

const TzanExifIFDClass& TzanExifCustomIFD::GetClass() const { return kExifCustomIFDClass; }

std::string TzanExifCustomIFD::GetName() const { return "IFD" + std::to_string(Index()); }

void TzanExifCustomIFD::Sort(bool) {
  std::stable_sort(FItems.begin(), FItems.end(), [](const TzanMetaObject* a, const TzanMetaObject* b) {
    return static_cast<const TzanExifEntry*>(a)->Tag() < static_cast<const TzanExifEntry*>(b)->Tag();
  });
}

void TzanExifCustomIFD::AdjustEntryCount(int32_t&, TStream&, int64_t) {}

TzanExifEntry* TzanExifCustomIFD::GetEntry(int32_t AIndex) const { return static_cast<TzanExifEntry*>(Items(AIndex)); }

int32_t TzanExifCustomIFD::IndexOfTag(TzanExifTag ATag) const {
  for (int32_t i = 0; i < ItemCount(); ++i)
    if (GetEntry(i)->Tag() == ATag) return i;
  return -1;
}

int32_t TzanExifCustomIFD::IndexOfEntryClass(const TzanExifEntryClass& AClass) const {
  for (int32_t i = 0; i < ItemCount(); ++i)
    if (&GetEntry(i)->GetClass() == &AClass) return i;
  return -1;
}

TzanExifEntry* TzanExifCustomIFD::GetEntryByTag(TzanExifTag ATag, bool ACreate) {
  const int32_t i = IndexOfTag(ATag);
  if (i >= 0) return GetEntry(i);
  if (!ACreate) return nullptr;
  TzanExifEntry* entry = kExifEntryClass.Create(this);
  entry->SetTag(ATag);
  return entry;
}

TzanExifEntry* TzanExifCustomIFD::GetEntryByClass(const TzanExifEntryClass& AClass, bool ACreate) {
  const int32_t i = IndexOfEntryClass(AClass);
  if (i >= 0) return GetEntry(i);
  return ACreate ? AClass.Create(this) : nullptr;
}

void TzanExifCustomIFD::LoadFromStream(int64_t AStart, TzanExifOffsetArray& AOffsetArray, TStream& AStream) {
  const bool swap = SwapBytes();
  int32_t count = Read16(AStream, swap);
  AdjustEntryCount(count, AStream, AStart);
  if (count > 255) throw Exception("Too many tags...");
  if (count == 6) {
    // A count of 6 written as a 32-bit number: step over its upper half.
    uint8_t b[2];
    AStream.ReadBuffer(b, 2);
    if (b[0] != 0 || b[1] != 0) AStream.Skip(-2);
  }
  if (count <= 0) return;

  const std::vector<const TzanExifEntryClass*>* classes = GetEntryClasses();
  const TzanExifEntryClass& fallback = GetDefaultEntryClass() != nullptr ? *GetDefaultEntryClass() : kExifEntryClass;
  for (int32_t i = 0; i < count; ++i) {
    const int64_t entryPos = AStream.Position();
    try {
      const TzanExifTag tag = Read16(AStream, swap);
      const TzanExifType type = Read16(AStream, swap);
      const TzanExifValueCount valueCount = Read32(AStream, swap);
      const int64_t valuePos = AStream.Position();

      // One attempt: an instance of the class, loaded from the value field.
      auto load = [&](const TzanExifEntryClass& cls) {
        Hold(AStream, kNodeCost);
        TzanExifEntry* entry = cls.Create(this);
        entry->SetTag(tag);
        entry->SetType_(type);
        AStream.SetPosition(valuePos);
        entry->LoadFromStream(AStart, AOffsetArray, AStream, valueCount);
      };

      bool loaded = false;
      if (classes != nullptr) {
        for (auto it = classes->rbegin(); it != classes->rend() && !loaded; ++it) {
          try {
            AStream.SetPosition(valuePos);
            if ((*it)->IsValid(tag, type, valueCount, AStart, AStream, swap)) {
              load(**it);
              loaded = true;
            }
          } catch (...) {
            // The entry keeps what it read; earlier classes are asked next.
          }
        }
      }
      if (!loaded) load(fallback);
    } catch (...) {
      // A damaged entry ends here; the next one has its own slot.
    }
    AStream.SetPosition(entryPos + 12);
  }
}

bool TzanExifCustomIFD::ReadTagPairThumbnail(TStream& AStream, TzanExifTag AOffsetTag, TzanExifTag ALengthTag,
                                             int64_t ABase) {
  TzanExifEntry* offsetEntry = GetEntryByTag(AOffsetTag, false);
  TzanExifEntry* lengthEntry = GetEntryByTag(ALengthTag, false);
  if (offsetEntry == nullptr || lengthEntry == nullptr) return false;
  bool cut = false;
  bool replaced = false;
  PositionGuard guard(AStream);
  try {
    const int32_t off = offsetEntry->Data().AsInteger();
    if (off < 1) return false;
    const int32_t len = lengthEntry->Data().AsInteger();
    const int64_t pos = ABase + off;
    const int64_t avail = AStream.Size() - pos;
    const int64_t count = len == 0 ? avail : std::min<int64_t>(len, avail);
    if (count < 4) return false;
    cut = len != 0 && len > avail;
    AStream.SetPosition(pos);
    Hold(AStream, count);
    ClearThumbnail();
    replaced = true;
    TzanMemoryStream& thumb = ThumbnailStream();
    thumb.CopyFrom(AStream, count);
    uint8_t* p = thumb.Memory();
    // Some writers damage the first byte of the start marker.
    if (p[1] == 0xD8 && p[2] == 0xFF) p[0] = 0xFF;
    if (p[0] != 0xFF || p[1] != 0xD8 || p[2] != 0xFF) ClearThumbnail();
  } catch (...) {
    // A copy that failed half-way leaves no preview.
    if (replaced) ClearThumbnail();
  }
  return cut && HasOwnThumbnail();
}

void TzanExifCustomIFD::LoadTagPairThumbnail(TStream& AStream, TzanExifTag AOffsetTag, TzanExifTag ALengthTag,
                                             int64_t ABase) {
  if (HasOwnThumbnail()) return;
  ReadTagPairThumbnail(AStream, AOffsetTag, ALengthTag, ABase);
}

// ---- the structure ----------------------------------------------------------------------------

TzanExif::TzanExif(const TzanExifIFDClass& AIFDClass, TzanMetaObject* AOwner)
    : TzanExifObject(AOwner), FIFDClass(&AIFDClass) {}

bool TzanExif::IsExif(TStream& AStream) {
  PositionGuard guard(AStream);
  try {
    uint8_t b[4];
    AStream.ReadBuffer(b, 4);
    if (b[0] == 'I' && b[1] == 'I') return GetU16LE(b + 2) == 42;
    if (b[0] == 'M' && b[1] == 'M') return GetU16BE(b + 2) == 42;
  } catch (...) {
  }
  return false;
}

void TzanExif::ReadHeader(TStream& AStream) {
  FByteOrder = AStream.ReadU16LE();
  FVersion = Read16(AStream, SwapBytes());
}

void TzanExif::LoadFromStream(TStream& AStream, int32_t AStartOffset) {
  Clear();
  const int64_t start = int64_t(AStartOffset) + AStream.Position();
  ReadHeader(AStream);
  TzanExifOffsetArray offsets;
  LoadIFDs(offsets, AStream, *FIFDClass, start);
}

void TzanExif::LoadIFDs(TzanExifOffsetArray& AOffsetArray, TStream& AStream, const TzanExifIFDClass& AIFDClass,
                        int64_t AStart) {
  Clear();
  const uint32_t stored = AStream.ReadU32LE();
  ReadChain(stored, AOffsetArray, AStream, AStart, [&]() {
    Hold(AStream, kNodeCost);
    return AIFDClass.Create(this);
  });
}

void TzanExif::PostLoadFromStream(int64_t AStart, TStream& AStream) { TzanExifObject::PostLoadFromStream(AStart, AStream); }

int32_t TzanExif::AddIFD() {
  FIFDClass->Create(this);
  return ItemCount() - 1;
}

TzanExifCustomIFD* TzanExif::GetIFD(int32_t AIndex) const { return static_cast<TzanExifCustomIFD*>(Items(AIndex)); }

}  // namespace zan
