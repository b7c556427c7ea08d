// JPEG files as a sequence of marker segments: the file class, the registry
// of segment classes (kept sorted by signature and marker, searched from the
// end), the segment base class with its loading protocol (multi-segment
// groups and tail data), the generic APPn and comment classes and the base
// of the preview-carrying segments.
//
// A segment class is a descriptor object (TzanJpegFileSegmentClass) holding
// the class-level questions and the factory; its instances derive from
// TzanJpegFileSegment. To add a segment class from another unit:
//
//   class TMySegment : public TzanJpegFileSegment {       // or ...ThumbnailSegment
//    public:
//     using TzanJpegFileSegment::TzanJpegFileSegment;
//     const TzanMetaFileSegmentClass& GetClass() const override;
//     void LoadSegmentData(TStream& AStream, int32_t AIndex) override;
//   };
//   class TMySegmentClass : public TJpegSegmentClassOf<TMySegment> {
//    public:
//     const char* ClassName() const override { return "TMySegment"; }
//     TzanJpegMarker2 GetMarker() const override { return 0xE1; }
//     std::string GetSignature() const override { return std::string("Abc\0", 4); }
//     bool CanStoreThumbnail() const override { return true; }
//   };
//   const TMySegmentClass kMySegmentClass;
//   const TzanMetaFileSegmentClass& TMySegment::GetClass() const { return kMySegmentClass; }
//   ...
//   RegisterJpegFileSegmentClass(kMySegmentClass);   // in the unit's Register...Unit()
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "meta/meta.h"
#include "platform/stream.h"

namespace zan {

// A marker code (the byte after 0xFF).
using TzanJpegMarker2 = uint8_t;

inline constexpr TzanJpegMarker2 kJpegMarkerAPP0 = 0xE0;
inline constexpr TzanJpegMarker2 kJpegMarkerSOS = 0xDA;
inline constexpr TzanJpegMarker2 kJpegMarkerComment = 0xFE;

// Raised with "Invalid segment size" for a length field below 2.
class EzanJpegFileSegment : public Exception {
 public:
  using Exception::Exception;
};

class TzanJpegFileSegment;

// ---- segment class descriptor ----------------------------------------------

class TzanJpegFileSegmentClass : public TzanMetaFileSegmentClass {
 public:
  // The class name without a leading "TzanJpegFile" and a trailing
  // "Segment", upper-cased ("TzanJpegFileAPP0Segment" gives "APP0").
  std::string GetAboutName() const override;
  bool IsInfoSegment() const override { return true; }
  // IsSegmentEx (stream, true, 0).
  bool IsSegment(TStream& AStream) const override;

  // Marker code of the class (0 in the base).
  virtual TzanJpegMarker2 GetMarker() const { return 0; }
  // Bytes that must open the payload (may hold zero bytes; empty in the base).
  virtual std::string GetSignature() const { return {}; }
  // Does the segment at the stream position belong to this class? AIndex is
  // 0 for the first segment of a group and n for its n-th continuation. May
  // raise on a short stream (callers count that as no); the position is
  // left wherever the test stopped.
  virtual bool IsSegmentEx(TStream& AStream, bool ACheckMarker, int32_t AIndex) const;
  // Whether following segments may continue this one.
  virtual bool IsMultiSegment() const { return false; }
  // Whether the walk creates objects of this class.
  virtual bool CanStoreThumbnail() const { return false; }
  // Steps over a segment (and its continuations) without loading it; never
  // moves beyond the end of the stream.
  virtual void Skip(TStream& AStream, bool ACheckMarker) const;

  // The virtual constructor with the JPEG segment type.
  TzanJpegFileSegment* CreateSegment(TzanMetaObject* AOwner) const;
};

// Descriptor of a JPEG segment class T (Base: the parent class's descriptor
// when T derives from another registered class).
template <class T, class Base = TzanJpegFileSegmentClass>
using TJpegSegmentClassOf = TSegmentClassOf<T, Base>;

// ---- segment base ------------------------------------------------------------

// One logical segment, which may span several consecutive JPEG segments.
class TzanJpegFileSegment : public TzanMetaFileSegment {
 public:
  explicit TzanJpegFileSegment(TzanMetaObject* AOwner);

  // Sets FMarker from the class's marker, then announces the segment (the
  // factories call it once the object is complete).
  void AfterConstruction();

  const TzanJpegFileSegmentClass& JpegClass() const;
  TzanJpegMarker2 Marker() const { return FMarker; }

  // The class's about name.
  std::string GetName() const override;
  // LoadSegments (stream, true).
  void DoLoadFromStream(TStream& AStream) override;
  // Steps over marker, length and signature; nothing else in the base.
  void PostLoadFromStream(int64_t AStart, TStream& AStream) override;

  // Clear, then LoadSegments.
  virtual void LoadFromStreamEx(TStream& AStream, bool ACheckMarker);
  // Parses the payload of one JPEG segment of the group; AStream holds just
  // that payload at position 0. What it leaves unread goes to the tail.
  // Base: steps over the class's signature.
  virtual void LoadSegmentData(TStream& AStream, int32_t AIndex);
  // Parses the concatenated unread rest of every payload of the group, at
  // position 0. Base: nothing.
  virtual void LoadTailData(TStream& AStream);
  // Reads one group from the file stream (at the 0xFF of its first segment)
  // and leaves the stream after its last segment.
  virtual void LoadSegments(TStream& AStream, bool ACheckMarker);

  TzanJpegMarker2 FMarker = 0;
};

// Generic APP0 .. APP15: recognised and stepped over; instances (made only on
// request) keep the payload in FExtra.
class TzanJpegFileAPPSegment : public TzanJpegFileSegment {
 public:
  TzanJpegFileAPPSegment(TzanMetaObject* AOwner, const TzanJpegFileSegmentClass& AClass)
      : TzanJpegFileSegment(AOwner), FClass(AClass) {}
  const TzanMetaFileSegmentClass& GetClass() const override { return FClass; }
  void LoadSegmentData(TStream& AStream, int32_t AIndex) override;

 private:
  const TzanJpegFileSegmentClass& FClass;
};

// Comment segments (0xFE): the payload as text.
class TzanJpegFileCommentSegment : public TzanJpegFileSegment {
 public:
  using TzanJpegFileSegment::TzanJpegFileSegment;
  const TzanMetaFileSegmentClass& GetClass() const override;
  void Clear() override;
  void LoadSegmentData(TStream& AStream, int32_t AIndex) override;
  const std::string& Text() const { return FText; }

 private:
  std::string FText;
};

// Base of the preview-carrying segments: the preview is the segment's own
// FThumbnailStream (a JPEG or a complete BMP file).
class TzanJpegFileThumbnailSegment : public TzanJpegFileSegment {
 public:
  using TzanJpegFileSegment::TzanJpegFileSegment;

  // Builds a bottom-up BMP (8 or 24 bits) in FThumbnailStream from packed
  // top-down pixels: at 8 bits a 256-entry R, G, B palette followed by one
  // index byte per pixel, at 24 bits R, G, B triples. The stream is attached
  // and sized before any pixel is read, so a source that ends early leaves
  // zero rows and the read error propagates. Nothing when width x height is
  // not positive.
  void LoadPackedBitmap(TStream& AStream, int32_t ABitCount, int32_t AWidth, int32_t AHeight);
  // Reads a one-byte width and a one-byte height first.
  void LoadPackedBitmap(TStream& AStream, int32_t ABitCount);
};

class TzanJpegFileThumbnailSegmentClass : public TzanJpegFileSegmentClass {
 public:
  bool CanStoreThumbnail() const override { return true; }
};

// ---- file ------------------------------------------------------------------------

class TzanJpegFile : public TzanMetaFile {
 public:
  const TzanMetaFileClass& GetClass() const override;
  // The walk with the marker check and no class filter.
  void DoLoadFromStream(TStream& AStream) override;
  // Clear, then the walk; with ASegmentClass set only segments of that class
  // are loaded, all others stepped over.
  void LoadFromStreamEx(TStream& AStream, bool ACheckMarker, const TzanJpegFileSegmentClass* ASegmentClass);

 private:
  void Walk(TStream& AStream, bool ACheckMarker, const TzanJpegFileSegmentClass* ASegmentClass);
};

class TzanJpegFileClass : public TFileClassOf<TzanJpegFile> {
 public:
  const char* ClassName() const override { return "TzanJpegFile"; }
  std::string GetFileType() const override { return "Jpeg"; }
  std::string GetSignature() const override { return "\xFF\xD8\xFF"; }
  // The registered segment classes in the registry's sorted order.
  void FillMetaSegmentClassList(std::vector<const TzanMetaFileSegmentClass*>& AList) const override;
};

// ---- descriptors of this unit ------------------------------------------------------

const TzanJpegFileClass& JpegFileClass();
// APP0 + n for n = 0 .. 15.
const TzanJpegFileSegmentClass& JpegFileAPPSegmentClass(int n);
const TzanJpegFileSegmentClass& JpegFileCommentSegmentClass();

// ---- registry -------------------------------------------------------------------------

// Adds a class (a class already registered is not added twice) and re-sorts
// the list by (signature, marker), equal keys keeping registration order.
void RegisterJpegFileSegmentClass(const TzanJpegFileSegmentClass& AClass);
// The class claiming the segment at the stream position, asked from the end
// of the sorted list; an exception in a test counts as no. The position is
// restored.
const TzanJpegFileSegmentClass* FindJpegFileSegmentClass(TStream& AStream, bool ACheckMarker);
// The sorted registry itself (tests save and restore it).
std::vector<const TzanJpegFileSegmentClass*>& JpegFileSegmentClassRegistry();

// Registers TzanJpegFile with the file registry, the comment and generic
// APPn classes and the camera preview segment classes.
void RegisterJpegUnit();

}  // namespace zan
