// The APP1 Exif segment of JPEG files (with its post-load pass) and TIFF
// files as registered file classes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "exif/exif_test_support.h"
#include "exif/jpeg_exif_segment.h"
#include "exif/tiff_builder.h"
#include "exif/tiff_file.h"
#include "jpeg/jpeg_writer.h"

namespace zan {
namespace {

using test::ExifBytes;
using test::JpegWithExif;
using test::PreviewOf;
using test::StartsAsJpeg;
using test::TiffBuilder;

class ExifSegment : public test::ExifUnitTest {
 protected:
  // A TIFF block: IFD0 (with the given orientation, 0 for none) and IFD1
  // holding `thumb` by tags 513/514, placed after both directories.
  static ExifBytes ExifBlock(bool be, uint16_t orientation, const ExifBytes& thumb, uint16_t ifd1Orientation = 0) {
    TiffBuilder b(be);
    auto& ifd0 = b.AddIfd();
    ifd0.entries = {b.Ascii(271, "ACME")};
    if (orientation != 0) ifd0.entries.push_back(b.Short(274, {orientation}));
    const int blob = b.AddBlob(thumb);
    auto& ifd1 = b.AddIfd();
    ifd1.entries = {b.Short(259, {6}), b.BlobOffset(513, blob), b.Long(514, {static_cast<uint32_t>(thumb.size())})};
    if (ifd1Orientation != 0) ifd1.entries.push_back(b.Short(274, {ifd1Orientation}));
    return b.Build();
  }

  static std::vector<TzanJpegFileExifSegment*> ExifSegments(TzanMetaFile& file) {
    std::vector<TzanJpegFileExifSegment*> out;
    for (int32_t i = 0; i < file.SegmentCount(); ++i)
      if (auto* s = dynamic_cast<TzanJpegFileExifSegment*>(file.Segments(i))) out.push_back(s);
    return out;
  }

  static int32_t Orientation(const ExifBytes& jpeg) {
    TMemoryStream s(jpeg.data(), jpeg.size());
    return JpegExifOrientation(s);
  }

  const ExifBytes thumb_ = test::SmallJpeg();
  const ExifBytes image_ = test::MakeJpeg(64, 48);
};

TEST_F(ExifSegment, TheIfd1ThumbnailIsTheFilesPreviewInBothByteOrders) {
  for (bool be : {false, true}) {
    const auto file = LoadFile(JpegWithExif({ExifBlock(be, 0, thumb_)}, image_));
    ASSERT_NE(file, nullptr);
    EXPECT_STREQ(file->ClassName(), "TzanJpegFile");
    const auto segments = ExifSegments(*file);
    ASSERT_EQ(segments.size(), 1u);
    EXPECT_EQ(segments[0]->Name(), "EXIF");
    EXPECT_EQ(segments[0]->Exif().IFDCount(), 2);
    ASSERT_EQ(file->GetThumbnailCount(), 1);
    EXPECT_EQ(PreviewOf(*file, 0), thumb_);
  }
}

TEST_F(ExifSegment, OrientationComesFromIfd0AndIfd1KeepsItsOwn) {
  const ExifBytes jpeg = JpegWithExif({ExifBlock(false, 6, thumb_)}, image_);
  EXPECT_EQ(Orientation(jpeg), 6);
  const auto file = LoadFile(jpeg);
  TzanExifEx& exif = ExifSegments(*file)[0]->Exif();
  EXPECT_FALSE(exif.GetIFD(0)->HasOwnThumbnail());
  EXPECT_EQ(exif.GetIFD(0)->FThumbnailRotateMirror, 6);
  EXPECT_EQ(file->GetThumbnailRotateMirror(0), 0) << "IFD1 has no tag 274 of its own";
  EXPECT_EQ(MainImageOrientation(*file), 6);

  const auto own = LoadFile(JpegWithExif({ExifBlock(true, 6, thumb_, 1)}, image_));
  EXPECT_EQ(own->GetThumbnailRotateMirror(0), 1);

  EXPECT_EQ(Orientation(JpegWithExif({ExifBlock(false, 0, thumb_)}, image_)), 0);
  EXPECT_EQ(Orientation(image_), 0) << "no Exif segment";
}

TEST_F(ExifSegment, TwoExifSegmentsGiveBothThumbnailsAndTheFirstOrientationFound) {
  const ExifBytes second = test::MakeJpeg(24, 16, 80);
  const auto jpeg = JpegWithExif({ExifBlock(false, 0, thumb_), ExifBlock(true, 8, second)}, image_);
  const auto file = LoadFile(jpeg);
  ASSERT_EQ(file->GetThumbnailCount(), 2);
  EXPECT_EQ(PreviewOf(*file, 0), thumb_);
  EXPECT_EQ(PreviewOf(*file, 1), second);
  EXPECT_EQ(Orientation(jpeg), 8) << "the first segment whose IFD0 has the tag";
  EXPECT_EQ(MainImageOrientation(*file), 8);
}

TEST_F(ExifSegment, OnlyApp1SegmentsWithTheSignatureAndATiffHeaderAreClaimed) {
  const ExifBytes tiff = ExifBlock(false, 3, thumb_);
  struct Case {
    const char* name;
    ExifBytes segment;  // the whole APP1 segment
    bool claimed;
  } cases[] = {
      {"length 6", {0xFF, 0xE1, 0x00, 0x06, 'E', 'x', 'i', 'f'}, false},
      {"no TIFF header", test::Cat({{0xFF, 0xE1, 0x00, 0x10}, test::Str(std::string("Exif\0\0", 6)), test::Fill(8, 0)}),
       false},
      {"XMP", test::Cat({{0xFF, 0xE1, 0x00, 0x20}, test::Str("http://ns.adobe.com/xap/1.0/"), {0, 0}}), false},
      {"signature four bytes in",
       test::Cat({{0xFF, 0xE1}, test::BE16(static_cast<uint32_t>(2 + 10 + tiff.size())),
                  test::Str(std::string("abcdExif\0\0", 10)), tiff}),
       true},
  };
  // An ordinary Exif segment, which the walk must still reach after the one tested.
  const ExifBytes withStart = JpegWithExif({ExifBlock(false, 0, thumb_)}, {});
  const ExifBytes ordinary(withStart.begin() + 2, withStart.end());
  for (const Case& c : cases) {
    const ExifBytes jpeg = test::JpegWriter().Raw(c.segment).Raw(ordinary).Image(16, 16);
    const auto file = LoadFile(jpeg);
    ASSERT_NE(file, nullptr) << c.name;
    const auto segments = ExifSegments(*file);
    ASSERT_EQ(segments.size(), c.claimed ? 2u : 1u) << c.name;
    if (c.claimed) {
      EXPECT_EQ(segments[0]->Exif().IFDCount(), 2) << c.name;
      EXPECT_EQ(Orientation(jpeg), 3) << c.name;
    }
    EXPECT_EQ(PreviewOf(*file, file->GetThumbnailCount() - 1), thumb_) << c.name;
  }
}

TEST_F(ExifSegment, AThumbnailBehindAShortSegmentIsFoundByThePostLoadPass) {
  // The thumbnail is the last thing in the TIFF block; the segment's length
  // ends before it (cut 0 bytes in) or inside it (cut 100 bytes in).
  for (bool be : {false, true}) {
    const ExifBytes tiff = ExifBlock(be, 0, thumb_);
    const size_t thumbAt = tiff.size() - thumb_.size();
    for (size_t into : {size_t(0), size_t(100)}) {
      const auto file = LoadFile(JpegWithExif({tiff}, image_, thumbAt + into));
      ASSERT_EQ(file->GetThumbnailCount(), 1) << into;
      const ExifBytes preview = PreviewOf(*file, 0);
      ASSERT_GE(preview.size(), thumb_.size()) << into;
      EXPECT_TRUE(std::equal(thumb_.begin(), thumb_.end(), preview.begin())) << into;
    }
  }
}

TEST_F(ExifSegment, ADamagedStructureKeepsWhatWasReadAndTheWalkGoesOn) {
  TiffBuilder b(false);
  b.AddIfd().entries = {b.Short(274, {5})};
  b.AddIfd().rawCount = 300;  // "Too many tags..."
  const ExifBytes damaged = b.Build();
  const auto jpeg = JpegWithExif({damaged, ExifBlock(false, 0, thumb_)}, image_);
  const auto file = LoadFile(jpeg);
  const auto segments = ExifSegments(*file);
  ASSERT_EQ(segments.size(), 2u);
  EXPECT_EQ(segments[0]->Exif().IFDCount(), 2);
  EXPECT_EQ(Orientation(jpeg), 5);
  EXPECT_EQ(file->GetThumbnailCount(), 1);
}

TEST_F(ExifSegment, ManySegmentsPointingAtOneLargeThumbnailCannotMultiplyIt) {
  // Three hundred Exif segments whose IFD1s all point past their segment
  // at the same 200 KB JPEG at the end of the file: read in full by the
  // post-load pass they would hold 60 MB.
  ExifBytes big = test::SmallJpeg();
  big.resize(200 * 1024, 0);
  const int n = 300;
  auto block = [&](uint32_t offset) {
    TiffBuilder b(false);
    b.AddIfd();
    b.AddIfd().entries = {b.Long(513, {offset}), b.Long(514, {static_cast<uint32_t>(big.size())})};
    return b.Build();
  };
  const size_t blockSize = block(0).size();
  const size_t segmentSize = 4 + 6 + blockSize;
  const size_t thumbAt = 2 + n * segmentSize;
  std::vector<ExifBytes> blocks;
  for (int i = 0; i < n; ++i) blocks.push_back(block(static_cast<uint32_t>(thumbAt - (2 + i * segmentSize + 10))));
  ExifBytes jpeg = JpegWithExif(blocks, {});
  ASSERT_EQ(jpeg.size(), thumbAt);
  jpeg.insert(jpeg.end(), big.begin(), big.end());

  const int64_t before = ExifMemoryHeld();
  const auto file = LoadFile(jpeg);
  EXPECT_EQ(ExifSegments(*file).size(), size_t(n));
  EXPECT_GT(file->GetThumbnailCount(), 0);
  EXPECT_LT(file->GetThumbnailCount(), n);
  EXPECT_LE(ExifMemoryHeld() - before, ExifMemoryLimit(static_cast<int64_t>(jpeg.size())));

  // Another tree read meanwhile (the orientation of a preview) has its own allowance.
  EXPECT_EQ(Orientation(JpegWithExif({ExifBlock(false, 6, thumb_)}, image_)), 6);
}

// ---- TIFF files -------------------------------------------------------------------------

// A TIFF file: IFD0 an LZW image without a tag pair, IFD1 a 2 x 1 RGB strip image.
ExifBytes TiffFile(bool be, bool truncateChain = false) {
  TiffBuilder b(be);
  const int lzw = b.AddBlob(ExifBytes(64, 0x80));
  const int rgb = b.AddBlob({255, 0, 0, 0, 0, 255});
  b.AddIfd().entries = {b.Long(256, {8}),   b.Long(257, {8}),       b.Short(258, {8, 8, 8}), b.Short(259, {5}),
                        b.Short(262, {2}),  b.BlobOffset(273, lzw), b.Short(277, {3}),       b.Long(279, {64})};
  b.AddIfd().entries = {b.Long(256, {2}),   b.Long(257, {1}),       b.Short(258, {8, 8, 8}), b.Short(259, {1}),
                        b.Short(262, {2}),  b.BlobOffset(273, rgb), b.Short(277, {3}),       b.Long(279, {6})};
  if (truncateChain) {
    b.ifd(1).next = TiffBuilder::kRawLink;
    b.ifd(1).rawLink = 0x00100000;  // past the end of the file
  }
  return b.Build();
}

TEST_F(ExifSegment, TiffFilesOfEitherByteOrderAreParsedByTheBigEndianClass) {
  for (bool be : {false, true}) {
    const ExifBytes tiff = TiffFile(be);
    const auto file = LoadFile(tiff);
    ASSERT_NE(file, nullptr);
    EXPECT_STREQ(file->ClassName(), "TzanTiffMMFile") << "asked before TzanTiffIIFile";
    ASSERT_EQ(file->SegmentCount(), 1);
    EXPECT_EQ(file->Segments(0)->Name(), "Tiff");
    auto* segment = dynamic_cast<TzanTiffFileSegment*>(file->Segments(0));
    ASSERT_NE(segment, nullptr);
    EXPECT_EQ(segment->Exif()->SwapBytes(), be);
    ASSERT_EQ(file->GetThumbnailCount(), 1) << "the compressed IFD0 gives nothing";
    const Bitmap32 pic = test::DecodeBmpBytes(PreviewOf(*file, 0));
    EXPECT_EQ(test::RgbAt(pic, 0, 0), 0xFF0000u);
    EXPECT_EQ(test::RgbAt(pic, 1, 0), 0x0000FFu);
  }
}

TEST_F(ExifSegment, ATiffChainThatRunsPastTheEndKeepsTheDirectoriesRead) {
  const auto file = LoadFile(TiffFile(false, true));
  ASSERT_NE(file, nullptr);
  TzanExifEx* exif = dynamic_cast<TzanTiffFileSegment*>(file->Segments(0))->Exif();
  ASSERT_EQ(exif->IFDCount(), 3) << "IFD0, IFD1 and the directory whose reading failed";
  EXPECT_EQ(exif->GetIFD(2)->EntryCount(), 0);
  EXPECT_EQ(file->GetThumbnailCount(), 1);
}

TEST_F(ExifSegment, TiffClassesTakeRegistryPositionsAndDetectTerms) {
  const auto& registry = MetaFileClassRegistry();
  ASSERT_GE(registry.size(), 2u);
  EXPECT_EQ(registry[registry.size() - 2], &TiffIIFileClass());
  EXPECT_EQ(registry.back(), &TiffMMFileClass());
  EXPECT_EQ(TiffIIFileClass().GetDetectString(), "[0]=\"I\"&[1]=\"I\"");
  EXPECT_EQ(TiffMMFileClass().GetDetectString(), "[0]=\"M\"&[1]=\"M\"");
  const ExifBytes notTiff = {'I', 'I', 43, 0, 8, 0, 0, 0};
  TMemoryStream s(notTiff.data(), notTiff.size());
  EXPECT_FALSE(TiffMMFileClass().IsFile(s));
}

}  // namespace
}  // namespace zan
