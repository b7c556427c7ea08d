// Writes the fuzz target's seed files for the JPEG and Photoshop readers
// into fuzz/corpus/. Disabled: run it on purpose with
//   zan_tests --gtest_also_run_disabled_tests --gtest_filter='JpegFuzzSeeds.*'
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "jpeg_writer.h"

namespace zan {
namespace {

using namespace std::string_literals;
using test::BE16;
using test::BE32;
using test::Bytes;
using test::Cat;
using test::Fill;
using test::FlatGreyScan;
using test::JpegWriter;
using test::ResourceBlock;
using test::Str;
using test::ThumbnailResourceData;

void WriteSeed(const std::string& name, const Bytes& bytes) {
  const std::filesystem::path dir = std::filesystem::path(ZAN_SOURCE_DIR) / "fuzz" / "corpus";
  std::filesystem::create_directories(dir);
  std::ofstream out(dir / name, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << name;
  EXPECT_LE(bytes.size(), 8192u) << name << " should stay small";
}

Bytes Hp(const std::string& signature, uint32_t index, const Bytes& pixels) {
  return Cat({Str(signature), BE32(0), BE32(4), BE32(2), BE32(0), BE32(index), BE32(2), pixels});
}

TEST(JpegFuzzSeeds, DISABLED_Write) {
  const Bytes thumb = test::MakeJpeg(16, 12, 50);
  Bytes palette;
  for (int i = 0; i < 256; ++i) palette.insert(palette.end(), {uint8_t(i), uint8_t(i / 2), uint8_t(255 - i)});

  WriteSeed("jpeg-jfif-jfxx.jpg", JpegWriter()
                                      .Segment(0xE0, Cat({Str("JFIF\0"s), {1, 2, 0}, BE16(1), BE16(1), {2, 2},
                                                          Fill(12, 0x80)}))
                                      .Segment(0xE0, Cat({Str("JFXX\0"s), {0x10}, thumb}))
                                      .Segment(0xE0, Cat({Str("JFXX\0"s), {0x11}, {3, 2}, palette, Fill(6, 7)}))
                                      .Segment(0xE0, Cat({Str("JFXX\0"s), {0x13}, {2, 1}, Fill(6, 50)}))
                                      .Image(8, 8));
  WriteSeed("jpeg-hp.jpg", JpegWriter()
                               .Segment(0xE4, Hp("H3X0", 1, Fill(8, 128)))
                               .Segment(0xE4, Hp("H3X0", 2, Fill(8, 90)))
                               .Segment(0xE4, Cat({Hp("HPSC", 1, {}), BE32(0), BE32(0), Fill(16, 100)}))
                               .Segment(0xE4, Cat({Str("SCRNAIL\0"s), Fill(640, 128)}))
                               .Segment(0xE4, Fill(640, 60))
                               .Image(8, 8));
  WriteSeed("jpeg-app4-abbreviated.jpg",
            JpegWriter().Segment(0xE4, Cat({Fill(64, 3), Fill(64, 5), {0x00, 0x01}, FlatGreyScan(600)})).Image(8, 8));
  WriteSeed("jpeg-app5-abbreviated.jpg",
            JpegWriter()
                .Segment(0xE5, Cat({Fill(64, 3), Fill(64, 5), {0, 0, 0, 1}, {0x00, 0xA0, 0x00, 0x78}, FlatGreyScan(150)}))
                .Image(8, 8));
  WriteSeed("jpeg-app2-app3.jpg", JpegWriter()
                                      .Segment(0xE2, Cat({Str("QVGA\0"s), thumb}))
                                      .Segment(0xE2, Bytes(thumb.begin(), thumb.begin() + 40))
                                      .Segment(0xE2, Bytes(thumb.begin() + 40, thumb.end()))
                                      .Segment(0xE3, Bytes(thumb.begin(), thumb.begin() + 30))
                                      .Segment(0xE4, Bytes(thumb.begin() + 30, thumb.begin() + 60))
                                      .Segment(0xE5, Bytes(thumb.begin() + 60, thumb.end()))
                                      .Segment(0xE4, Cat({Str("PDBigTN\0"s), Fill(10, 0), thumb}))
                                      .Image(8, 8));
  WriteSeed("jpeg-prv-siemens.jpg",
            JpegWriter()
                .Segment(0xEA, Cat({Str("prv0"), BE16(24), BE16(4), BE16(3), Fill(16, 0), Fill(12, 200)}))
                .Segment(0xEA, Cat({Str("prv1"), Fill(12, 100)}))
                .Segment(0xE7, Cat({Str("<SIEMENS THUMBNAIL>"), Fill(9, 0), Fill(2048, 0x1F)}))
                .Segment(0xE9, Cat({Str("zanThumb\0"s), test::LE32(4), Fill(4, 1)}))
                .Image(8, 8));
  Bytes raw;
  for (int i = 0; i < 4 * 12; ++i) raw.push_back(static_cast<uint8_t>(i * 5));
  const Bytes resources = Cat({ResourceBlock(1005, Fill(16, 0)), ResourceBlock(1036, ThumbnailResourceData(1, 16, 12, 48, thumb)),
                               ResourceBlock(1033, ThumbnailResourceData(1, 16, 12, 48, thumb), "old"),
                               ResourceBlock(1036, ThumbnailResourceData(0, 4, 4, 12, raw)),
                               ResourceBlock(1061, Fill(5, 1), "", "PHUT")});
  const size_t split = resources.size() / 2;
  WriteSeed("jpeg-app13-photoshop.jpg",
            JpegWriter()
                .Segment(0xED, Cat({Str("Photoshop 3.0\0"s), Bytes(resources.begin(), resources.begin() + split)}))
                .Segment(0xED, Cat({Str("Photoshop 3.0\0"s), Bytes(resources.begin() + split, resources.end())}))
                .Segment(0xED, Cat({Str("Adobe_Photoshop2.5:"), BE16(72), BE16(1), BE16(72), BE16(1),
                                    ResourceBlock(1036, ThumbnailResourceData(0, 4, 4, 12, raw))}))
                .Image(8, 8));
  WriteSeed("psd-thumbnails.psd", test::PsdFile(resources, 12, 16, Fill(8, 0)));
}

}  // namespace
}  // namespace zan
