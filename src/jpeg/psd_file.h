// Photoshop documents: the 26-byte header, the colour mode data section and
// the image resources section, whose resource list holds the preview. The
// layer and image data are never read.
#pragma once

#include <cstdint>
#include <string>

#include "jpeg/photoshop.h"
#include "meta/meta.h"

namespace zan {

// As stored in the file (big-endian fields, not converted).
struct TzanPsdFileHeader {
  uint8_t Signature[4] = {};
  uint8_t Version[2] = {};
  uint8_t Reserved0[2] = {};
  uint8_t Reserved1[4] = {};
  uint8_t Channels[2] = {};
  uint8_t Rows[4] = {};
  uint8_t Columns[4] = {};
  uint8_t Depth[2] = {};
  uint8_t Mode[2] = {};
};
static_assert(sizeof(TzanPsdFileHeader) == 26);

class TzanPsdFileSegmentClass : public TzanMetaFileSegmentClass {
 public:
  bool IsInfoSegment() const override { return false; }
  // Reads the 32-bit section length and steps over the section.
  virtual void Skip(TStream& AStream) const;
};

// A length-prefixed section.
class TzanPsdFileSegment : public TzanMetaFileSegment {
 public:
  using TzanMetaFileSegment::TzanMetaFileSegment;
  // Reads the length and hands the section's bytes to LoadSectionData (a
  // section longer than the file raises).
  void DoLoadFromStream(TStream& AStream) override;
  virtual void LoadSectionData(TStream& AStream);
};

class TzanPsdFileHeaderSegment : public TzanPsdFileSegment {
 public:
  using TzanPsdFileSegment::TzanPsdFileSegment;
  const TzanMetaFileSegmentClass& GetClass() const override;
  void DoLoadFromStream(TStream& AStream) override;
  const TzanPsdFileHeader& Header() const { return FHeader; }

 private:
  TzanPsdFileHeader FHeader;
};

// The image resources section ("Adobe resource").
class TzanPsdFileResourceSegment : public TzanPsdFileSegment {
 public:
  using TzanPsdFileSegment::TzanPsdFileSegment;
  const TzanMetaFileSegmentClass& GetClass() const override;
  std::string GetName() const override { return "Adobe resource"; }
  void Clear() override;
  void LoadSectionData(TStream& AStream) override;
  Tzan8BIM* D8BIM() const { return F8BIM; }

 private:
  Tzan8BIM* F8BIM = nullptr;  // a child
};

class TzanPsdFile : public TzanMetaFile {
 public:
  const TzanMetaFileClass& GetClass() const override;
  void DoLoadFromStream(TStream& AStream) override;
};

class TzanPsdFileClass : public TFileClassOf<TzanPsdFile> {
 public:
  const char* ClassName() const override { return "TzanPsdFile"; }
  std::string GetSignature() const override { return "8BPS"; }
};

const TzanPsdFileClass& PsdFileClass();
const TzanPsdFileSegmentClass& PsdFileSegmentClass();
const TzanPsdFileSegmentClass& PsdFileHeaderSegmentClass();
const TzanPsdFileSegmentClass& PsdFileResourceSegmentClass();

}  // namespace zan
