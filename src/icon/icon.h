// Icon (ICO) and cursor (CUR) files: the images they hold, with their colour,
// mask and alpha rules, their conversion to PNG images, and the choice of the
// image that best fits a thumbnail box.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/codecs.h"
#include "platform/stream.h"

namespace zan {

enum class TzanIconType : int32_t { itIcon = 0, itCursor = 1 };
enum class TzanIconStyle : int32_t { isNormal, isDisabled, isHot, isGray };

// One palette entry as a DIB stores it.
struct TzanIconPaletteEntry {
  uint8_t blue = 0, green = 0, red = 0, reserved = 0;
  bool operator==(const TzanIconPaletteEntry&) const = default;
};
using TzanIconPalette = std::array<TzanIconPaletteEntry, 256>;

// A colour with alpha as the pixel interface passes it: red in bits 0..7,
// green 8..15, blue 16..23, alpha 24..31.
inline constexpr uint32_t IconRgba(uint8_t r, uint8_t g, uint8_t b, uint8_t a) {
  return uint32_t(r) | (uint32_t(g) << 8) | (uint32_t(b) << 16) | (uint32_t(a) << 24);
}

// Live instances of the icon classes; each constructor adds one, each
// destructor takes one away. Looked at when the module unloads.
struct IconLiveCounters {
  int32_t iconObjects = 0;
  int32_t icons = 0;
  int32_t iconLibs = 0;  // icon libraries are not built; stays 0
};
IconLiveCounters& IconLiveCount();
// One line per counter that is not 0, e.g. "Memory outflow: 2 TzanIcon not
// destroyed"; empty when everything was freed.
std::vector<std::string> IconLeakMessages();

// One image of an icon or cursor file: colour rows, a 1-bit mask (1 =
// transparent) and a palette, stored as an ICO file stores a DIB image, or a
// PNG image converted into that form. Shared between icons by reference
// (std::shared_ptr); freed with its last reference.
class TzanIconObject {
 public:
  TzanIconObject();
  // Zero-filled colour and mask rows of that size. Raises for a bit count
  // other than 1, 4, 8, 16, 24 or 32 (15 is taken as 16) or a size that is
  // not positive.
  TzanIconObject(int32_t width, int32_t height, int32_t bitCount);
  ~TzanIconObject();
  TzanIconObject(const TzanIconObject&) = delete;
  TzanIconObject& operator=(const TzanIconObject&) = delete;

  // Reads the file header at the stream's position P, then directory entry
  // `index` (at P + 6 + 16 * index) and its image. The image count in the
  // header is not looked at. Raises when the image cannot be read.
  void LoadFromStream(TStream& stream, int32_t index);
  // Reads the 16-byte directory entry at the stream's position and the image
  // it points to; `fileStart` is the position of the file header, the base of
  // the entry's data offset. The image may keep at most `memoryLimit` bytes;
  // a larger one raises EOutOfResources before its pixels are read.
  void LoadEntryFromStream(TStream& stream, int64_t fileStart, int64_t memoryLimit = INT64_MAX);
  // Reads the image data at the stream's position: a PNG file or a DIB
  // without file header (40-byte information header, palette, colour rows,
  // mask rows).
  void LoadImageFromStream(TStream& stream, int64_t memoryLimit = INT64_MAX);

  int32_t Width() const { return FWidth; }
  int32_t Height() const { return FHeight; }
  int32_t BitCount() const { return FBitCount; }
  TzanIconType Type_() const { return FType; }
  void SetType(TzanIconType type) { FType = type; }
  uint16_t XHotSpot() const { return FXHotSpot; }
  uint16_t YHotSpot() const { return FYHotSpot; }
  void SetHotSpot(uint16_t x, uint16_t y) {
    FXHotSpot = x;
    FYHotSpot = y;
  }
  int32_t Tag() const { return FTag; }
  void SetTag(int32_t tag) { FTag = tag; }

  const TzanIconPalette& ColorPalette() const { return FColorPalette; }
  TzanIconPalette& ColorPalette() { return FColorPalette; }
  // Colour rows bottom-up, BitmapRowSize(width, bit count) bytes each.
  const std::vector<uint8_t>& ColorData() const { return FColorData; }
  // Mask rows bottom-up, BitmapRowSize(width, 1) bytes each.
  const std::vector<uint8_t>& MaskData() const { return FMaskData; }
  // The PNG bytes as read from the file, when the image was stored as PNG.
  const std::vector<uint8_t>& PNGStream() const { return FPNGStream; }

  // Colour and alpha at (x, y), y counted from the top (see IconRgba); 0
  // outside the image.
  uint32_t GetPixelColor(int32_t x, int32_t y) const;
  // Stores a colour: mask bit 1 when the alpha is 0; the colour as the bit
  // count holds it (for palette images the first entry with equal red, green
  // and blue, else entry 0). Nothing outside the image.
  void SetPixelColor(int32_t x, int32_t y, uint32_t rgba);
  // True when every pixel's alpha is 255.
  bool Opaque() const;
  // True unless there is colour data of non-zero width and height.
  bool Empty() const;
  // Frees the colour and mask rows and the PNG bytes.
  void Clear();
  // Bytes this image keeps in memory.
  int64_t MemorySize() const;

  // A PNG image of this image: RGBA when it is not opaque; a palette image
  // of the same depth and palette when it is opaque at 1 to 8 bits; RGB
  // otherwise.
  PngImage CreatePNGObject() const;
  // Replaces the image by the PNG's pixels (see the .cpp for the depths).
  void AssignPNGObject(const PngImage& png);

 private:
  void Allocate(int32_t width, int32_t height, int32_t bitCount);

  std::vector<uint8_t> FPNGStream;
  std::vector<uint8_t> FColorData;
  std::vector<uint8_t> FMaskData;
  int32_t FBitCount = 0;
  int32_t FWidth = 0;
  int32_t FHeight = 0;
  TzanIconPalette FColorPalette{};
  TzanIconType FType = TzanIconType::itIcon;
  uint16_t FXHotSpot = 0;
  uint16_t FYHotSpot = 0;
  int32_t FTag = 0;
};

using TzanIconObjectRef = std::shared_ptr<TzanIconObject>;

// An icon or cursor file: its images in file order and a current image.
// Width, height, hot spot and emptiness are those of the current image.
class TzanIcon {
 public:
  TzanIcon();
  ~TzanIcon();
  TzanIcon(const TzanIcon&) = delete;
  TzanIcon& operator=(const TzanIcon&) = delete;

  // Releases all images, then lets the first adapter that accepts the
  // stream read it. Never raises for bad data: an unreadable stream leaves
  // an empty icon. The position afterwards is wherever the adapter left it.
  void LoadFromStream(TStream& stream);
  // Writes an ICO or CUR file of the non-empty images.
  void SaveToStream(TStream& stream) const;

  int32_t IconCount() const { return static_cast<int32_t>(FList.size()); }
  // Raises for an index outside the list.
  const TzanIconObjectRef& Icons(int32_t index) const;
  int32_t IconIndex() const { return FIconIndex; }
  // -1 for none; raises for an index outside the list.
  void SetIconIndex(int32_t index);
  // Take a reference to the image; the first one added becomes current.
  void AddIcon(TzanIconObjectRef image);
  void InsertIcon(int32_t index, TzanIconObjectRef image);
  // Releases every image; no current image.
  void Clear();

  TzanIconType Type_() const { return FType; }
  void SetType(TzanIconType type) { FType = type; }
  TzanIconStyle IconStyle() const { return FIconStyle; }
  void SetIconStyle(TzanIconStyle style) { FIconStyle = style; }
  const std::u16string& Name() const { return FName; }
  void SetName(const std::u16string& name) { FName = name; }

  const TzanIconObject* Current() const;
  int32_t Width() const;
  int32_t Height() const;
  bool Empty() const;
  uint16_t XHotSpot() const;
  uint16_t YHotSpot() const;

 private:
  TzanIconType FType = TzanIconType::itIcon;
  std::vector<TzanIconObjectRef> FList;
  int32_t FIconIndex = -1;
  TzanIconStyle FIconStyle = TzanIconStyle::isNormal;
  std::u16string FName;
};

// Reads and writes one file layout for TzanIcon. Every operation is
// class-level: adapters are stateless singletons.
class TzanIconStreamAdapter {
 public:
  virtual ~TzanIconStreamAdapter() = default;
  virtual int32_t GetExtensionCount() const { return 0; }
  virtual std::string GetExtension(int32_t) const { return {}; }
  virtual bool CanLoadFromStream(TStream&) const { return false; }
  virtual void LoadFromStream(TzanIcon&, TStream&) const {}
  virtual bool CanSaveToStream(const TzanIcon&) const { return false; }
  virtual void SaveToStream(const TzanIcon&, TStream&) const {}
};

// ICO and CUR files: a 6-byte header (reserved 0, type 1 or 2, image
// count), 16-byte directory entries, image data.
class TzanIconIcoCurStreamAdapter : public TzanIconStreamAdapter {
 public:
  int32_t GetExtensionCount() const override { return 2; }
  std::string GetExtension(int32_t index) const override;
  // Reads 6 bytes: reserved word 0 and type 1 or 2.
  bool CanLoadFromStream(TStream& stream) const override;
  // Each image that cannot be read is skipped; the others stay, in file order.
  void LoadFromStream(TzanIcon& icon, TStream& stream) const override;
  bool CanSaveToStream(const TzanIcon&) const override { return true; }
  void SaveToStream(const TzanIcon& icon, TStream& stream) const override;

  static const TzanIconIcoCurStreamAdapter& Instance();
};

// The adapters TzanIcon tries, in order.
const std::vector<const TzanIconStreamAdapter*>& IconStreamAdapters();

// Memory all images of one icon file may keep: this floor, or this many
// times the file's size when that is more. Many directory entries pointing
// at the same large image cannot make the loader hold it again and again.
inline constexpr int64_t kIconMemoryFloor = int64_t(64) << 20;
inline constexpr int64_t kIconMemoryPerFileByte = 8;

// The image that best fits the box: the smallest |1 - box area / image
// area|; among equal values the deeper colour, and among equal depths the
// later image. -1 for an icon without images.
int32_t ChooseIconImage(const TzanIcon& icon, int32_t boxWidth, int32_t boxHeight);

// The front end's icon decoder: reads the icon at the stream's position,
// chooses the image for the box and makes a PNG image of it. False when the
// file holds no readable image.
bool IconStreamToPng(TStream& stream, int32_t boxWidth, int32_t boxHeight, PngImage& out);

// Plugs the icon decoder into the front end (module load).
void RegisterIconUnit();
// Unplugs it (module unload) and reports icon objects still alive on stderr.
void UnregisterIconUnit();

}  // namespace zan
