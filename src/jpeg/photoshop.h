// Photoshop image resources: a list of "8BIM" resource blocks (as found in
// PSD files, JPEG APP13 segments and the TIFF Photoshop tag 34377). Only the
// thumbnail blocks (resources 1036 and 1033) become objects; every other
// block is stepped over by its size field.
//
// Block layout (big-endian): 4 signature bytes "8BIM" (or "PHUT"), 16-bit
// identifier, name (length byte, text, pad byte to an even field length),
// 32-bit data size, data, a pad byte when the size is odd.
//
// Reading a resource list from another unit:
//
//   auto* list = new Tzan8BIM(owner);   // owned by `owner` from now on
//   list->LoadFromStream(stream);       // from the position to the end;
//                                       // a short block header raises
//
// The thumbnails are then those of the list's subtree.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "meta/meta.h"
#include "platform/stream.h"

namespace zan {

// The four signature bytes as they stand in the file, read as one
// little-endian 32-bit value.
using Tzan8BIMMarker = uint32_t;
using Tzan8BIMID = uint16_t;

inline constexpr Tzan8BIMMarker k8BIMMarker = 0x4D494238;  // "8BIM"
inline constexpr Tzan8BIMMarker kPHUTMarker = 0x54554850;  // "PHUT"

class Tzan8BIMBlock;

// ---- block class descriptor ----------------------------------------------------

class Tzan8BIMBlockClass {
 public:
  virtual ~Tzan8BIMBlockClass() = default;
  virtual const char* ClassName() const = 0;
  virtual Tzan8BIMMarker GetMarker() const { return k8BIMMarker; }
  virtual Tzan8BIMID GetID() const { return 0; }
  // Base: both equal the class's marker and identifier.
  virtual bool IsBlock(Tzan8BIMMarker AMarker, Tzan8BIMID AID) const;
  virtual bool CanStoreThumbnail() const { return false; }
  // Steps over the block at the stream position (size cut to what remains).
  virtual void Skip(TStream& AStream) const;
  // The virtual constructor: a new block owned by AOwner (a Tzan8BIM).
  virtual Tzan8BIMBlock* Create(TzanMetaObject* AOwner) const = 0;
};

template <class T, class Base = Tzan8BIMBlockClass>
class T8BIMBlockClassOf : public Base {
 public:
  Tzan8BIMBlock* Create(TzanMetaObject* AOwner) const override {
    auto* block = new T(AOwner);
    block->FMarker = this->GetMarker();
    block->FID = this->GetID();
    return block;
  }
};

// ---- blocks ------------------------------------------------------------------------

class Tzan8BIMBlock : public TzanMetaObject {
 public:
  explicit Tzan8BIMBlock(TzanMetaObject* AOwner);
  const char* ClassName() const override { return GetClass().ClassName(); }
  virtual const Tzan8BIMBlockClass& GetClass() const = 0;

  // Reads the block at the stream position: header, name, size (cut to what
  // remains), data into FData, then LoadBlockData (whose failure, like a
  // failed copy, is swallowed); steps over the pad byte of an odd size. A
  // short header raises.
  void LoadFromStream(TStream& AStream);
  // Parses FData (at position 0). Base: nothing.
  virtual void LoadBlockData(TStream& AStream);

  Tzan8BIMMarker Marker() const { return FMarker; }
  Tzan8BIMID ID() const { return FID; }
  const std::string& BlockName() const { return FName; }
  void SetBlockName(const std::string& value) { FName = value; }
  TzanMemoryStream& Data() { return FData; }

  Tzan8BIMMarker FMarker = k8BIMMarker;
  Tzan8BIMID FID = 0;
  std::string FName;
  TzanMemoryStream FData;
};

// Thumbnail resource 1036 (R, G, B order) and its base for 1033: the data is
// a 28-byte header (format, width, height, row length, total size,
// compressed size, bits per pixel, planes) and raw rows or a JPEG.
class Tzan8BIMThumbnailBlock : public Tzan8BIMBlock {
 public:
  using Tzan8BIMBlock::Tzan8BIMBlock;
  const Tzan8BIMBlockClass& GetClass() const override;
  void LoadBlockData(TStream& AStream) override;
};

// Old thumbnail resource 1033: B, G, R order, also inside its JPEG, which is
// therefore decoded and stored as a BMP with red and blue exchanged.
class Tzan8BIMOldThumbnailBlock : public Tzan8BIMThumbnailBlock {
 public:
  using Tzan8BIMThumbnailBlock::Tzan8BIMThumbnailBlock;
  const Tzan8BIMBlockClass& GetClass() const override;
};

// ---- block list -----------------------------------------------------------------------

class Tzan8BIM : public TzanMetaObject {
 public:
  explicit Tzan8BIM(TzanMetaObject* AOwner);
  const char* ClassName() const override { return "Tzan8BIM"; }

  // Reads blocks from the position to the end of the stream; a signature no
  // class accepts ends the list quietly, a short block header raises (the
  // blocks read before stay).
  void LoadFromStream(TStream& AStream);

  int32_t BlockCount() const { return ItemCount(); }
  Tzan8BIMBlock* Blocks(int32_t i) const;

  // The registered block classes in registration order.
  static void FillMetaSegmentClassList(std::vector<const Tzan8BIMBlockClass*>& AList);
};

// ---- registry and helpers ----------------------------------------------------------------

// Appends a block class (no sorting; a class already registered is not
// added twice).
void Register8BIMBlockClass(const Tzan8BIMBlockClass& AClass);
// The class for the block at the stream position, asked from the last
// registered to the first; none for a foreign signature. The position is
// restored; a short header raises EReadError.
const Tzan8BIMBlockClass* Find8BIMBlockClass(TStream& AStream);
std::vector<const Tzan8BIMBlockClass*>& Photoshop8BIMBlockClassRegistry();

// A length byte n and n bytes of text; with APad set and n even, one more
// (pad) byte is stepped over.
std::string ReadShortString(TStream& AStream, bool APad);

// Registers the resource block classes, the two APP13 segment classes with
// the JPEG segment registry and TzanPsdFile with the file registry.
void RegisterPsdUnit();

}  // namespace zan
