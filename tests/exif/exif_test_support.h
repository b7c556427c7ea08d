// A test base that registers the Photoshop, JPEG and EXIF units (file
// classes, segment classes, resource block classes, EXIF entry classes and
// the front end's orientation hooks) for each test and restores every
// process-wide registry afterwards; and small helpers over parsed trees.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <vector>

#include "exif/exif_ex.h"
#include "exif/exif_unit.h"
#include "front/hooks.h"
#include "jpeg/jpeg_file.h"
#include "jpeg/photoshop.h"
#include "meta/meta.h"
#include "platform/codecs.h"
#include "support/fixtures.h"

namespace zan::test {

using ExifBytes = std::vector<uint8_t>;

class ExifUnitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    savedFiles_ = MetaFileClassRegistry();
    savedSegments_ = JpegFileSegmentClassRegistry();
    savedBlocks_ = Photoshop8BIMBlockClassRegistry();
    savedEntries_ = ExifEntryClassList();
    savedHooks_ = Hooks();
    MetaFileClassRegistry().clear();
    JpegFileSegmentClassRegistry().clear();
    Photoshop8BIMBlockClassRegistry().clear();
    ExifEntryClassList().clear();
    RegisterPsdUnit();
    RegisterJpegUnit();
    RegisterExifUnit();
  }
  void TearDown() override {
    MetaFileClassRegistry() = savedFiles_;
    JpegFileSegmentClassRegistry() = savedSegments_;
    Photoshop8BIMBlockClassRegistry() = savedBlocks_;
    ExifEntryClassList() = savedEntries_;
    Hooks() = savedHooks_;
  }

  // Parses bytes with the class the registry picks; parse errors propagate.
  static std::unique_ptr<TzanMetaFile> LoadFile(const ExifBytes& bytes) {
    TMemoryStream s(bytes.data(), bytes.size());
    const TzanMetaFileClass* cls = FindMetaFileClass(s);
    if (cls == nullptr) return nullptr;
    auto file = cls->Create();
    file->LoadFromStream(s);
    return file;
  }

 private:
  std::vector<const TzanMetaFileClass*> savedFiles_;
  std::vector<const TzanJpegFileSegmentClass*> savedSegments_;
  std::vector<const Tzan8BIMBlockClass*> savedBlocks_;
  std::vector<const TzanExifEntryClass*> savedEntries_;
  FrontHooks savedHooks_;
};

// A TzanExifEx read from bytes (offsets from their first byte); what ended
// the chain is swallowed.
struct ExifFromBytes {
  explicit ExifFromBytes(const ExifBytes& bytes) : stream(bytes.data(), bytes.size()) {
    try {
      exif.LoadFromStream(stream, 0);
    } catch (...) {
    }
  }
  TzanExifIFD& ifd(int i) { return static_cast<TzanExifIFD&>(*exif.GetIFD(i)); }

  TMemoryStream stream;
  TzanExifEx exif{nullptr};
};

// The bytes of a node's own preview (empty when it has none).
inline ExifBytes OwnPreviewOf(const TzanMetaObject& node) {
  if (!node.HasOwnThumbnail()) return {};
  TzanMemoryStream& s = *node.FThumbnailStream;
  return ExifBytes(s.Memory(), s.Memory() + s.GetSize());
}

// The bytes of preview n of a subtree.
inline ExifBytes PreviewOf(const TzanMetaObject& node, int32_t n) {
  const uint8_t* p = node.GetThumbnailData(n);
  return p == nullptr ? ExifBytes() : ExifBytes(p, p + node.GetThumbnailDataSize(n));
}

// A small real JPEG file (16 x 8).
inline ExifBytes SmallJpeg() { return MakeJpeg(16, 8, 80); }

inline bool StartsAsJpeg(const ExifBytes& b) { return b.size() >= 3 && b[0] == 0xFF && b[1] == 0xD8 && b[2] == 0xFF; }

// 0x00RRGGBB of a pixel.
inline uint32_t RgbAt(const Bitmap32& bmp, int32_t x, int32_t y) { return bmp.Pixel(x, y) & 0xFFFFFFu; }

// Largest channel difference between the mean colours of the cells of a
// cells x cells grid laid over each of two pictures: small for the same
// picture at slightly different sizes or qualities, large for a turned one.
inline int CellDistance(const Bitmap32& a, const Bitmap32& b, int cells = 6) {
  auto means = [cells](const Bitmap32& p) {
    std::vector<int> out;
    for (int cy = 0; cy < cells; ++cy)
      for (int cx = 0; cx < cells; ++cx) {
        int64_t sum[3] = {0, 0, 0}, n = 0;
        for (int32_t y = cy * p.Height() / cells; y < (cy + 1) * p.Height() / cells; ++y)
          for (int32_t x = cx * p.Width() / cells; x < (cx + 1) * p.Width() / cells; ++x, ++n)
            for (int c = 0; c < 3; ++c) sum[c] += (p.Pixel(x, y) >> (8 * c)) & 0xFF;
        for (int c = 0; c < 3; ++c) out.push_back(n == 0 ? 0 : int(sum[c] / n));
      }
    return out;
  };
  const auto ma = means(a), mb = means(b);
  int worst = 0;
  for (size_t i = 0; i < ma.size(); ++i) worst = std::max(worst, std::abs(ma[i] - mb[i]));
  return worst;
}

inline Bitmap32 DecodeBmpBytes(const ExifBytes& bmp) {
  TMemoryStream s(bmp.data(), bmp.size());
  return BmpDecode(s);
}

}  // namespace zan::test
