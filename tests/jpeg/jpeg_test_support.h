// A test base that gives each test exactly the classes of the JPEG and
// Photoshop units (file classes, segment classes, resource block classes)
// and restores the process-wide registries afterwards.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "jpeg/jpeg_file.h"
#include "jpeg/photoshop.h"
#include "jpeg/psd_file.h"
#include "jpeg_writer.h"
#include "meta/meta.h"
#include "platform/codecs.h"

namespace zan::test {

class JpegUnitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    savedFiles_ = MetaFileClassRegistry();
    savedSegments_ = JpegFileSegmentClassRegistry();
    savedBlocks_ = Photoshop8BIMBlockClassRegistry();
    MetaFileClassRegistry().clear();
    JpegFileSegmentClassRegistry().clear();
    Photoshop8BIMBlockClassRegistry().clear();
    RegisterPsdUnit();
    RegisterJpegUnit();
  }
  void TearDown() override {
    MetaFileClassRegistry() = savedFiles_;
    JpegFileSegmentClassRegistry() = savedSegments_;
    Photoshop8BIMBlockClassRegistry() = savedBlocks_;
  }

  // Parses bytes as a JPEG file; parse errors propagate.
  static std::unique_ptr<TzanMetaFile> LoadJpeg(const Bytes& bytes) {
    auto file = JpegFileClass().Create();
    TMemoryStream s(bytes.data(), bytes.size());
    file->LoadFromStream(s);
    return file;
  }

  // The names of a file's children, in order.
  static std::vector<std::string> ChildNames(const TzanMetaObject& node) {
    std::vector<std::string> names;
    for (int32_t i = 0; i < node.ItemCount(); ++i) names.push_back(node.Items(i)->Name());
    return names;
  }

  // The bytes of preview n of a subtree.
  static Bytes Preview(const TzanMetaObject& node, int32_t n) {
    const uint8_t* p = node.GetThumbnailData(n);
    return p == nullptr ? Bytes() : Bytes(p, p + node.GetThumbnailDataSize(n));
  }
  static Bytes OwnPreview(const TzanMetaObject& node) {
    if (!node.HasOwnThumbnail()) return {};
    auto& s = *node.FThumbnailStream;
    return Bytes(s.Memory(), s.Memory() + s.GetSize());
  }
  static Bitmap32 DecodeBmp(const Bytes& bmp) {
    TMemoryStream s(bmp.data(), bmp.size());
    return BmpDecode(s);
  }

 private:
  std::vector<const TzanMetaFileClass*> savedFiles_;
  std::vector<const TzanJpegFileSegmentClass*> savedSegments_;
  std::vector<const Tzan8BIMBlockClass*> savedBlocks_;
};

// Little-endian 16/32-bit values inside a byte vector.
inline uint32_t U32At(const Bytes& b, size_t at) {
  return uint32_t(b[at]) | (uint32_t(b[at + 1]) << 8) | (uint32_t(b[at + 2]) << 16) | (uint32_t(b[at + 3]) << 24);
}
inline uint32_t U16At(const Bytes& b, size_t at) { return uint32_t(b[at]) | (uint32_t(b[at + 1]) << 8); }

inline Bytes BytesOf(TMemoryStream& s) { return Bytes(s.Memory(), s.Memory() + s.GetSize()); }

// 0x00RRGGBB of a decoded pixel.
inline uint32_t Rgb(const Bitmap32& bmp, int32_t x, int32_t y) { return bmp.Pixel(x, y) & 0xFFFFFFu; }

}  // namespace zan::test
