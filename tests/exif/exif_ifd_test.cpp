// Directory previews: tag-pair JPEGs, strip images turned into BMP or PNG
// files, the LONG 37510 JPEG, orientation codes, Photoshop resources.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "exif/exif_test_support.h"
#include "exif/tiff_builder.h"
#include "jpeg/jpeg_writer.h"
#include "meta/utils.h"

namespace zan {
namespace {

using test::ExifBytes;
using test::ExifFromBytes;
using test::OwnPreviewOf;
using test::RgbAt;
using test::StartsAsJpeg;
using test::TiffBuilder;

class ExifIfd : public test::ExifUnitTest {};

// The entries of an uncompressed strip image whose single strip is a blob.
std::vector<TiffBuilder::Entry> StripImage(TiffBuilder& b, uint32_t w, uint32_t h, uint16_t photometric,
                                           std::vector<uint16_t> bits, uint16_t spp, const ExifBytes& data) {
  const int blob = b.AddBlob(data);
  return {b.Long(256, {w}),
          b.Long(257, {h}),
          b.Short(258, std::move(bits)),
          b.Short(259, {1}),
          b.Short(262, {photometric}),
          b.BlobOffset(273, blob),
          b.Short(277, {spp}),
          b.Long(279, {static_cast<uint32_t>(data.size())})};
}

// A 3-item ColorMap giving index i the colour (r[i], g[i], b[i]) at 8 bits.
TiffBuilder::Entry ColorMap(TiffBuilder& b, int levels, const std::vector<uint32_t>& colors) {
  std::vector<uint16_t> map(static_cast<size_t>(3 * levels), 0);
  for (size_t i = 0; i < colors.size(); ++i) {
    map[i] = static_cast<uint16_t>(((colors[i] >> 16) & 0xFF) << 8);
    map[static_cast<size_t>(levels) + i] = static_cast<uint16_t>(((colors[i] >> 8) & 0xFF) << 8);
    map[static_cast<size_t>(2 * levels) + i] = static_cast<uint16_t>((colors[i] & 0xFF) << 8);
  }
  return b.Short(320, map);
}

// ---- tag pairs ------------------------------------------------------------------------

TEST_F(ExifIfd, TagPairPreviewsAreCutToTheStreamAndCheckedForAJpegStart) {
  struct Case {
    const char* name;
    uint32_t offset, length;
    ExifBytes head;      // written at byte 1000
    size_t expectedSize;  // 0: no preview
  } cases[] = {
      {"length past the end is cut", 1000, 5000, {0xFF, 0xD8, 0xFF, 0xE0}, 2000},
      {"a length of 0 takes the rest", 1000, 0, {0xFF, 0xD8, 0xFF, 0xE0}, 2000},
      {"exact length", 1000, 300, {0xFF, 0xD8, 0xFF, 0xE0}, 300},
      {"damaged first byte is repaired", 1000, 300, {0x00, 0xD8, 0xFF, 0xE0}, 300},
      {"not a JPEG", 1000, 300, {0x12, 0xD8, 0x00, 0xE0}, 0},
      {"offset past the end", 5000, 300, {0xFF, 0xD8, 0xFF, 0xE0}, 0},
      {"fewer than 4 bytes left", 2997, 300, {0xFF, 0xD8, 0xFF, 0xE0}, 0},
      {"offset 0", 0, 300, {0xFF, 0xD8, 0xFF, 0xE0}, 0},
  };
  for (const Case& c : cases) {
    for (bool be : {false, true}) {
      TiffBuilder b(be);
      b.AddIfd();
      b.AddIfd().entries = {b.Long(513, {c.offset}), b.Long(514, {c.length})};
      ExifBytes bytes = b.Build();
      bytes.resize(3000, 0x55);
      std::copy(c.head.begin(), c.head.end(), bytes.begin() + 1000);
      ExifFromBytes e(bytes);
      ASSERT_EQ(e.exif.IFDCount(), 2) << c.name;
      const ExifBytes preview = OwnPreviewOf(e.ifd(1));
      EXPECT_EQ(preview.size(), c.expectedSize) << c.name;
      if (c.expectedSize > 0) {
        EXPECT_TRUE(StartsAsJpeg(preview)) << c.name;
      }
      EXPECT_EQ(e.exif.GetThumbnailCount(), c.expectedSize > 0 ? 1 : 0) << c.name;
    }
  }
}

TEST_F(ExifIfd, ATagPairExcludesTheStripImage) {
  const ExifBytes jpeg = test::SmallJpeg();
  for (uint32_t useTagPair : {0u, 1u}) {
    TiffBuilder b(false);
    auto entries = StripImage(b, 1, 1, 2, {8, 8, 8}, 3, {1, 2, 3});
    const int blob = b.AddBlob(jpeg);
    entries.push_back(useTagPair ? b.BlobOffset(513, blob) : b.Long(513, {0}));
    entries.push_back(b.Long(514, {static_cast<uint32_t>(jpeg.size())}));
    b.AddIfd().entries = entries;
    ExifFromBytes e(b.Build());
    if (useTagPair) {
      EXPECT_EQ(OwnPreviewOf(e.ifd(0)), jpeg);
    } else {
      EXPECT_FALSE(e.ifd(0).HasOwnThumbnail()) << "513 = 0: no preview, and no strip image tried";
    }
  }
}

// ---- strip images ------------------------------------------------------------------------

class ExifIfdByteOrder : public test::ExifUnitTest, public ::testing::WithParamInterface<bool> {};

TEST_P(ExifIfdByteOrder, RgbStripsBecomeABottomUpBmp) {
  TiffBuilder b(GetParam());
  b.AddIfd().entries =
      StripImage(b, 3, 2, 2, {8, 8, 8}, 3, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18});
  ExifFromBytes e(b.Build());
  const ExifBytes bmp = OwnPreviewOf(e.ifd(0));
  ASSERT_EQ(bmp.size(), 54u + 2 * 12);
  EXPECT_EQ(bmp[28], 24) << "bit count";
  const ExifBytes pixels(bmp.begin() + 54, bmp.end());
  const ExifBytes expected = {12, 11, 10, 15, 14, 13, 18, 17, 16, 0, 0, 0,  // image row 1 first, B G R
                              3,  2,  1,  6,  5,  4,  9,  8,  7,  0, 0, 0};
  EXPECT_EQ(pixels, expected);
}

INSTANTIATE_TEST_SUITE_P(Exif, ExifIfdByteOrder, ::testing::Values(false, true),
                         [](const auto& param) { return param.param ? std::string("MM") : std::string("II"); });

TEST_F(ExifIfd, WhiteIsZeroBitsAreInvertedUnderABlackWhitePalette) {
  TiffBuilder b(false);
  b.AddIfd().entries = StripImage(b, 10, 1, 0, {1}, 1, {0xFF, 0xC0});
  ExifFromBytes e(b.Build());
  const ExifBytes bmp = OwnPreviewOf(e.ifd(0));
  ASSERT_EQ(bmp.size(), 54u + 8 + 4);
  EXPECT_EQ(ExifBytes(bmp.begin() + 54, bmp.end()), (ExifBytes{0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0, 0x00, 0x3F, 0, 0}));
}

TEST_F(ExifIfd, CmykBecomesRgb) {
  TiffBuilder b(true);
  b.AddIfd().entries = StripImage(b, 2, 1, 5, {8, 8, 8, 8}, 4, {200, 0, 0, 100, 100, 0, 0, 100});
  ExifFromBytes e(b.Build());
  const Bitmap32 pic = test::DecodeBmpBytes(OwnPreviewOf(e.ifd(0)));
  ASSERT_EQ(pic.Width(), 2);
  EXPECT_EQ(RgbAt(pic, 0, 0), 0x009B9Bu) << "C 200 + K 100 reaches 255: no red";
  EXPECT_EQ(RgbAt(pic, 1, 0), 0x379B9Bu) << "C 100 + K 100: red 55";
}

TEST_F(ExifIfd, GreyAndPaletteImagesKeepTheirIndicesUnderTheirPalette) {
  struct Case {
    const char* name;
    uint16_t photometric;
    uint16_t bits;
    ExifBytes data;  // 3 x 1 pixels
    uint32_t expected[3];
  } cases[] = {
      {"8-bit BlackIsZero", 1, 8, {0, 128, 255}, {0x000000, 0x808080, 0xFFFFFF}},
      {"8-bit WhiteIsZero", 0, 8, {0, 128, 255}, {0xFFFFFF, 0x7F7F7F, 0x000000}},
      {"4-bit BlackIsZero", 1, 4, {0x0F, 0x80}, {0x000000, 0xFFFFFF, 0x888888}},
      {"8-bit palette", 3, 8, {2, 0, 1}, {0x0000FF, 0xFF0000, 0x00FF00}},
      {"4-bit palette", 3, 4, {0x20, 0x10}, {0x0000FF, 0xFF0000, 0x00FF00}},
  };
  for (const Case& c : cases) {
    TiffBuilder b(false);
    auto entries = StripImage(b, 3, 1, c.photometric, {c.bits}, 1, c.data);
    if (c.photometric == 3) entries.push_back(ColorMap(b, 1 << c.bits, {0xFF0000, 0x00FF00, 0x0000FF}));
    b.AddIfd().entries = entries;
    ExifFromBytes e(b.Build());
    const ExifBytes bmp = OwnPreviewOf(e.ifd(0));
    ASSERT_FALSE(bmp.empty()) << c.name;
    EXPECT_EQ(bmp[28], c.bits) << c.name;
    const Bitmap32 pic = test::DecodeBmpBytes(bmp);
    for (int x = 0; x < 3; ++x) EXPECT_EQ(RgbAt(pic, x, 0), c.expected[x]) << c.name << " pixel " << x;
  }
}

TEST_F(ExifIfd, PaletteImagesWithAlphaBecomeAnRgbaPng) {
  TiffBuilder b(true);
  auto entries = StripImage(b, 2, 1, 3, {8, 8}, 2, {0, 255, 1, 128});
  entries.push_back(ColorMap(b, 256, {0x102030, 0xA0B0C0}));
  b.AddIfd().entries = entries;
  ExifFromBytes e(b.Build());
  const ExifBytes png = OwnPreviewOf(e.ifd(0));
  ASSERT_GE(png.size(), 8u);
  TMemoryStream s(png.data(), png.size());
  const PngImage image = PngRead(s);
  ASSERT_EQ(image.width, 2);
  ASSERT_EQ(image.colorType, PngImage::kRGBA);
  EXPECT_EQ(ExifBytes(image.samples.begin(), image.samples.end()),
            (ExifBytes{0x10, 0x20, 0x30, 255, 0xA0, 0xB0, 0xC0, 128}));
}

TEST_F(ExifIfd, YCbCrDataUnitsBecomeRgb) {
  // Luma 76 with Cb 85 and Cr 255 is red; luma 100 with neutral chroma grey.
  struct Case {
    const char* name;
    std::vector<uint16_t> subsampling;  // none: the TIFF default of 2 x 2
    uint32_t w, h;
    ExifBytes data;
  } cases[] = {
      {"4:4:4", {1, 1}, 2, 1, {76, 85, 255, 100, 128, 128}},
      {"4:2:2", {2, 1}, 4, 1, {76, 76, 85, 255, 100, 100, 128, 128}},
      {"4:2:0 by default", {}, 4, 2, {76, 76, 76, 76, 85, 255, 100, 100, 100, 100, 128, 128}},
  };
  for (const Case& c : cases) {
    TiffBuilder b(true);
    auto entries = StripImage(b, c.w, c.h, 6, {8, 8, 8}, 3, c.data);
    if (!c.subsampling.empty()) entries.push_back(b.Short(530, c.subsampling));
    b.AddIfd().entries = entries;
    ExifFromBytes e(b.Build());
    const Bitmap32 pic = test::DecodeBmpBytes(OwnPreviewOf(e.ifd(0)));
    ASSERT_EQ(pic.Width(), static_cast<int32_t>(c.w)) << c.name;
    for (uint32_t y = 0; y < c.h; ++y) {
      for (uint32_t x = 0; x < c.w; ++x) {
        const bool red = x < c.w / 2;
        const uint32_t px = RgbAt(pic, static_cast<int32_t>(x), static_cast<int32_t>(y));
        const int r = int(px >> 16), g = int((px >> 8) & 0xFF), bl = int(px & 0xFF);
        EXPECT_NEAR(r, red ? 254 : 100, 2) << c.name << " " << x << "," << y;
        EXPECT_NEAR(g, red ? 0 : 100, 2) << c.name << " " << x << "," << y;
        EXPECT_NEAR(bl, red ? 0 : 100, 2) << c.name << " " << x << "," << y;
      }
    }
  }
}

TEST_F(ExifIfd, LayoutsWithoutAConversionGiveNoPreview) {
  struct Case {
    const char* name;
    uint16_t photometric;
    std::vector<uint16_t> bits;
    uint16_t spp;
  } cases[] = {
      {"YCbCr of one sample", 6, {8}, 1},
      {"16-bit RGB", 2, {16, 16, 16}, 3},
      {"2-bit palette", 3, {2}, 1},
      {"unequal samples", 2, {8, 8, 4}, 3},
      {"RGB with one sample", 2, {8}, 1},
      {"no such photometric", 4, {1}, 1},
      {"zero samples", 2, {8}, 0},
      {"YCbCr subsampled more vertically than horizontally", 6, {8, 8, 8}, 3},
  };
  for (const Case& c : cases) {
    TiffBuilder b(false);
    b.AddIfd().entries = StripImage(b, 4, 4, c.photometric, c.bits, c.spp, ExifBytes(200, 7));
    b.ifd(0).entries.push_back(b.Short(530, {1, 2}));
    ExifFromBytes e(b.Build());
    EXPECT_FALSE(e.ifd(0).HasOwnThumbnail()) << c.name;
  }
}

TEST_F(ExifIfd, StripsAreReadWhereTheirOffsetsPoint) {
  // A 1 x 3 RGB image in three strips with other bytes between them.
  auto build = [](const std::vector<uint32_t>& offsets) {
    TiffBuilder b(false);
    b.AddBlob({10, 20, 30});
    b.AddBlob(ExifBytes(5, 0xEE));
    b.AddBlob({40, 50, 60});
    b.AddBlob(ExifBytes(7, 0xEE));
    b.AddBlob({70, 80, 90});
    b.AddIfd().entries = {b.Long(256, {1}),     b.Long(257, {3}),       b.Short(258, {8, 8, 8}),
                          b.Short(259, {1}),    b.Short(262, {2}),      b.Long(273, offsets),
                          b.Short(277, {3}),    b.Long(279, {3, 3, 3})};
    ExifBytes bytes = b.Build();
    return std::make_pair(bytes, std::vector<uint32_t>{b.BlobOffsetOf(0), b.BlobOffsetOf(2), b.BlobOffsetOf(4)});
  };
  const auto offsets = build({0, 0, 0}).second;
  ExifFromBytes e(build(offsets).first);
  const Bitmap32 pic = test::DecodeBmpBytes(OwnPreviewOf(e.ifd(0)));
  ASSERT_EQ(pic.Height(), 3);
  EXPECT_EQ(RgbAt(pic, 0, 0), 0x0A141Eu);
  EXPECT_EQ(RgbAt(pic, 0, 1), 0x28323Cu);
  EXPECT_EQ(RgbAt(pic, 0, 2), 0x46505Au);
}

TEST_F(ExifIfd, ShortStripDataKeepsTheRowsReadUnlessMostAreMissing) {
  // A 1 x 10 RGB image whose strip holds only `rows` of its rows.
  for (int rows : {10, 6, 5, 4, 0}) {
    TiffBuilder b(false);
    ExifBytes data;
    for (int r = 0; r < 10; ++r) data.insert(data.end(), {uint8_t(r + 1), uint8_t(r + 1), uint8_t(r + 1)});
    b.AddIfd().entries = StripImage(b, 1, 10, 2, {8, 8, 8}, 3, data);
    ExifBytes bytes = b.Build();
    bytes.resize(bytes.size() - static_cast<size_t>(3 * (10 - rows)));
    ExifFromBytes e(bytes);
    if (rows < 5) {
      EXPECT_FALSE(e.ifd(0).HasOwnThumbnail()) << rows;
      continue;
    }
    const Bitmap32 pic = test::DecodeBmpBytes(OwnPreviewOf(e.ifd(0)));
    ASSERT_EQ(pic.Height(), 10) << rows;
    for (int r = 0; r < 10; ++r)
      EXPECT_EQ(RgbAt(pic, 0, r), r < rows ? 0x010101u * uint32_t(r + 1) : 0u) << rows << " row " << r;
  }
}

TEST_F(ExifIfd, SizesThatTheFileCannotBackGiveNoPreview) {
  struct Case {
    const char* name;
    uint32_t w, h;
    uint32_t count;  // StripByteCounts
  } cases[] = {
      {"huge picture, small strip", 60000, 60000, 300},
      {"width times height overflows", 0x80000000u, 0x80000000u, 300},
      {"negative sizes", 0xFFFFFFFFu, 3, 300},
      {"zero width", 0, 3, 300},
  };
  for (const Case& c : cases) {
    TiffBuilder b(false);
    auto entries = StripImage(b, c.w, c.h, 2, {8, 8, 8}, 3, ExifBytes(300, 1));
    entries[7] = b.Long(279, {c.count});
    b.AddIfd().entries = entries;
    const int64_t before = ExifMemoryHeld();
    ExifFromBytes e(b.Build());
    EXPECT_FALSE(e.ifd(0).HasOwnThumbnail()) << c.name;
    EXPECT_LT(ExifMemoryHeld() - before, 1 << 20) << c.name;
  }
  // A byte count far beyond the file is only as good as the bytes there.
  TiffBuilder b(false);
  auto entries = StripImage(b, 2, 2, 2, {8, 8, 8}, 3, ExifBytes(12, 9));
  entries[7] = b.Long(279, {0xFFFFFFF0u, 0xFFFFFFF0u});
  b.AddIfd().entries = entries;
  ExifFromBytes e(b.Build());
  EXPECT_EQ(OwnPreviewOf(e.ifd(0)).size(), 54u + 2 * 8) << "one offset, so one strip";
}

TEST_F(ExifIfd, ALong37510JpegReplacesTheStripImage) {
  const ExifBytes jpeg = test::SmallJpeg();
  struct Case {
    const char* name;
    bool pointsAtJpeg;
    uint16_t type;
  } cases[] = {{"LONG at a JPEG", true, kExifLong},
               {"LONG at other bytes: the strip image stays", false, kExifLong},
               {"an ordinary user comment", true, kExifUndefined}};
  for (const Case& c : cases) {
    TiffBuilder b(false);
    auto entries = StripImage(b, 1, 1, 2, {8, 8, 8}, 3, {1, 2, 3});
    const int blob = b.AddBlob(c.pointsAtJpeg ? jpeg : ExifBytes(jpeg.size(), 0x42));
    entries.push_back(b.BlobOffset(37510, blob));
    entries.back().type = c.type;
    if (c.type == kExifUndefined) entries.back().count = 4;
    b.AddIfd().entries = entries;
    ExifFromBytes e(b.Build());
    const ExifBytes preview = OwnPreviewOf(e.ifd(0));
    if (c.pointsAtJpeg && c.type == kExifLong) {
      ASSERT_GE(preview.size(), jpeg.size()) << c.name;
      EXPECT_TRUE(std::equal(jpeg.begin(), jpeg.end(), preview.begin())) << c.name << ": read to the end of the stream";
    } else {
      ASSERT_FALSE(preview.empty()) << c.name;
      EXPECT_EQ(preview[0], 'B') << c.name;
    }
  }
}

TEST_F(ExifIfd, EachDirectoryRecordsItsOwnOrientation) {
  TiffBuilder b(false);
  auto ifd0 = StripImage(b, 1, 1, 2, {8, 8, 8}, 3, {1, 2, 3});
  ifd0.push_back(b.Short(274, {6}));
  auto ifd1 = StripImage(b, 1, 1, 2, {8, 8, 8}, 3, {4, 5, 6});
  auto ifd2 = StripImage(b, 1, 1, 2, {8, 8, 8}, 3, {7, 8, 9});
  ifd2.push_back(b.Short(274, {8}));
  b.AddIfd().entries = ifd0;
  b.AddIfd().entries = ifd1;
  b.AddIfd().entries = ifd2;
  ExifFromBytes e(b.Build());
  ASSERT_EQ(e.exif.GetThumbnailCount(), 3);
  EXPECT_EQ(e.exif.GetThumbnailRotateMirror(0), 6);
  EXPECT_EQ(e.exif.GetThumbnailRotateMirror(1), 0) << "IFD1 has no Orientation tag of its own";
  EXPECT_EQ(e.exif.GetThumbnailRotateMirror(2), 8);
}

TEST_F(ExifIfd, PhotoshopResourcesInTag34377AddTheirThumbnail) {
  const ExifBytes jpeg = test::SmallJpeg();
  const ExifBytes resources = test::Cat({test::ResourceBlock(1005, ExifBytes(16, 0)),
                                         test::JpegThumbnailBlock(1036, jpeg, 16, 8),
                                         test::ResourceBlock(1061, ExifBytes(16, 0))});
  TiffBuilder b(true);
  b.AddIfd().entries = {b.Short(274, {3}), b.Bytes(34377, kExifUndefined, resources)};
  ExifFromBytes e(b.Build());
  auto* entry = dynamic_cast<TzanExifPhotoShopSettingEntry*>(e.ifd(0).GetEntryByTag(34377, false));
  ASSERT_NE(entry, nullptr);
  ASSERT_NE(entry->Resources(), nullptr);
  EXPECT_EQ(entry->Resources()->BlockCount(), 1);
  ASSERT_EQ(e.exif.GetThumbnailCount(), 1);
  EXPECT_EQ(test::PreviewOf(e.exif, 0), jpeg);
  EXPECT_EQ(e.exif.GetThumbnailRotateMirror(0), 0) << "the directory's orientation is its own preview's";
}

TEST_F(ExifIfd, StripStreamClampsSeeksAndRefusesWrites) {
  TiffBuilder b(false);
  b.AddBlob({1, 2, 3, 4});
  b.AddBlob({9, 9});
  b.AddBlob({5, 6});
  b.AddIfd().entries = {b.Long(273, {0, 0}), b.Long(279, {4, 2})};
  b.Build();
  b.ifd(0).entries = {b.Long(273, {b.BlobOffsetOf(0), b.BlobOffsetOf(2)}), b.Long(279, {4, 2})};
  ExifFromBytes e(b.Build());
  TzanStripStream strips(e.ifd(0), 0, e.stream);
  EXPECT_EQ(strips.Size(), 6);
  uint8_t buf[8] = {};
  EXPECT_EQ(strips.Read(buf, 8), 6);
  EXPECT_EQ(ExifBytes(buf, buf + 6), (ExifBytes{1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(strips.Seek(-2, SeekOrigin::End), 4);
  EXPECT_EQ(strips.Seek(10, SeekOrigin::Current), 6);
  EXPECT_EQ(strips.Seek(-10, SeekOrigin::Begin), 0);
  try {
    strips.Write(buf, 1);
    ADD_FAILURE() << "Write must raise";
  } catch (const EzanMetaException& ex) {
    EXPECT_STREQ(ex.what(), "Cannot Write to TzanStripStream");
  }
  try {
    strips.SetSize(1);
    ADD_FAILURE() << "SetSize must raise";
  } catch (const EzanMetaException& ex) {
    EXPECT_STREQ(ex.what(), "Cannot SetSize of TzanStripStream");
  }
}

TEST_F(ExifIfd, DirectoriesSharingOnePreviewCannotMultiplyIt) {
  // Five hundred directories point their tag pairs at the same 100 KB JPEG.
  ExifBytes jpeg = test::SmallJpeg();
  jpeg.resize(100 * 1024, 0);
  TiffBuilder b(false);
  const int blob = b.AddBlob(jpeg);
  for (int i = 0; i < 500; ++i)
    b.AddIfd().entries = {b.BlobOffset(513, blob), b.Long(514, {static_cast<uint32_t>(jpeg.size())})};
  const ExifBytes bytes = b.Build();
  const int64_t before = ExifMemoryHeld();
  ExifFromBytes e(bytes);
  EXPECT_GT(e.exif.GetThumbnailCount(), 0);
  EXPECT_LT(e.exif.GetThumbnailCount(), 500);
  EXPECT_LE(ExifMemoryHeld() - before, ExifMemoryLimit(static_cast<int64_t>(bytes.size())));
}

}  // namespace
}  // namespace zan
