// The JPEG segment model: the class registry and its search order, the walk
// over the metadata segments, group loading and the packed-bitmap builder.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "jpeg/appn_segments.h"
#include "jpeg/jpeg_file.h"
#include "jpeg_test_support.h"
#include "meta/buffered_stream.h"

namespace zan {
namespace {

using namespace std::string_literals;
using test::Bytes;
using test::Cat;
using test::Fill;
using test::JpegWriter;
using test::Str;
using test::U16At;
using test::U32At;

// A segment class defined by a test: a name, marker and signature; it can
// store a thumbnail and records how the post-load pass called it.
class TStandInSegment : public TzanJpegFileSegment {
 public:
  TStandInSegment(TzanMetaObject* AOwner, const TzanJpegFileSegmentClass& AClass)
      : TzanJpegFileSegment(AOwner), FClass(AClass) {}
  const TzanMetaFileSegmentClass& GetClass() const override { return FClass; }
  void PostLoadFromStream(int64_t AStart, TStream& AStream) override {
    postStart = AStart;
    postPosition = AStream.Position();
    TzanJpegFileSegment::PostLoadFromStream(AStart, AStream);
    postAfterBase = AStream.Position();
  }
  int64_t postStart = -1, postPosition = -1, postAfterBase = -1;

 private:
  const TzanJpegFileSegmentClass& FClass;
};

class TStandInClass : public TzanJpegFileSegmentClass {
 public:
  TStandInClass(const char* name, TzanJpegMarker2 marker, std::string signature)
      : name_(name), marker_(marker), signature_(std::move(signature)) {}
  const char* ClassName() const override { return name_; }
  TzanJpegMarker2 GetMarker() const override { return marker_; }
  std::string GetSignature() const override { return signature_; }
  bool CanStoreThumbnail() const override { return true; }
  TzanMetaFileSegment* Create(TzanMetaObject* AOwner) const override {
    auto* s = new TStandInSegment(AOwner, *this);
    s->AfterConstruction();
    return s;
  }

 private:
  const char* name_;
  TzanJpegMarker2 marker_;
  std::string signature_;
};

// A small JPEG for the segments that carry one.
Bytes SmallJpeg() { return test::MakeJpeg(16, 8); }

Bytes QvgaPayload() { return Cat({Str("QVGA\0"s), SmallJpeg()}); }
Bytes JfxxJpegPayload() { return Cat({Str("JFXX\0"s), {0x10}, SmallJpeg()}); }

class JpegSegmentModel : public test::JpegUnitTest {};

TEST_F(JpegSegmentModel, SearchOrderIsAscendingBySignatureThenMarkerAskedFromTheEnd) {
  // Stand-ins for the classes other units register.
  const TStandInClass exif("Exif", 0xE1, "Exif\0"s), fpxr2("FPXR2", 0xE2, "FPXR\0"s), fpxr4("FPXR4", 0xE4, "FPXR\0"s);
  RegisterJpegFileSegmentClass(exif);
  RegisterJpegFileSegmentClass(fpxr2);
  RegisterJpegFileSegmentClass(fpxr4);
  RegisterJpegFileSegmentClass(exif);  // a second registration changes nothing

  std::vector<std::string> asked;
  const auto& registry = JpegFileSegmentClassRegistry();
  for (auto it = registry.rbegin(); it != registry.rend(); ++it) asked.push_back((*it)->ClassName());
  const std::vector<std::string> expected = {
      "TzanJpegFileThumSegment",  // "zanThumb\0" sorts after "prv" byte-wise
      "TzanJpegFilePrvSegment",
      "TzanJpegFileSCRNAILSegment",
      "TzanJpegFileJpegQVGAThumbSegment",
      "TzanJpegFilePhotoshopSegment",
      "TzanJpegFileAPP4Thumb1Segment",
      "TzanJpegFileJFXXSegment",
      "TzanJpegFileJFIFSegment",
      "TzanJpegFileHPSCSegment",
      "TzanJpegFileH3X0Segment",
      "FPXR4",
      "FPXR2",
      "Exif",
      "TzanJpegFileAdobePhotoshopSegment",
      "TzanJpegFileSIEMENSTHUMBNAILSegment",
      "TzanJpegFileCommentSegment",
      "TzanJpegFileAPP15Segment",
      "TzanJpegFileAPP14Segment",
      "TzanJpegFileAPP13Segment",
      "TzanJpegFileAPP12Segment",
      "TzanJpegFileAPP11Segment",
      "TzanJpegFileAPP10Segment",
      "TzanJpegFileAPP9Segment",
      "TzanJpegFileAPP8Segment",
      "TzanJpegFileAPP7Segment",
      "TzanJpegFileAPP6Segment",
      "TzanJpegFileAPP5ThumbSegment",
      "TzanJpegFileAPP5Segment",
      "TzanJpegFileAPP4Thumb2Segment",
      "TzanJpegFileAPP4Segment",
      "TzanJpegFileAPP3ThumbSegment",
      "TzanJpegFileAPP3Segment",
      "TzanJpegFileAPP2_2ThumbSegment",
      "TzanJpegFileAPP2_1ThumbSegment",
      "TzanJpegFileAPP2Segment",
      "TzanJpegFileAPP1Segment",
      "TzanJpegFileAPP0Segment",
  };
  EXPECT_EQ(asked, expected);

  std::vector<const TzanMetaFileSegmentClass*> listed;
  JpegFileClass().FillMetaSegmentClassList(listed);
  ASSERT_EQ(listed.size(), registry.size());
  for (size_t i = 0; i < listed.size(); ++i) EXPECT_EQ(listed[i], registry[i]);
}

TEST_F(JpegSegmentModel, ALaterClassWithTheSameSignatureAndMarkerIsAskedFirst) {
  const Bytes file = JpegWriter().Segment(0xE0, Cat({Str("JFIF\0"s), Fill(9, 0)})).Dqt();
  TMemoryStream s(file.data(), file.size());
  s.SetPosition(2);
  EXPECT_EQ(FindJpegFileSegmentClass(s, true), &JpegFileJFIFSegmentClass());
  EXPECT_EQ(s.Position(), 2) << "the search restores the position";

  const TStandInClass twin("Twin", 0xE0, "JFIF");
  RegisterJpegFileSegmentClass(twin);
  EXPECT_EQ(FindJpegFileSegmentClass(s, true), &twin);
}

TEST_F(JpegSegmentModel, AboutNamesAndClassAnswers) {
  EXPECT_EQ(JpegFileAPPSegmentClass(0).GetAboutName(), "APP0");
  EXPECT_EQ(JpegFileAPPSegmentClass(15).GetAboutName(), "APP15");
  EXPECT_EQ(JpegFileCommentSegmentClass().GetAboutName(), "COMMENT");
  EXPECT_EQ(JpegFileAPP2_1ThumbSegmentClass().GetAboutName(), "APP2_1THUMB");
  EXPECT_EQ(JpegFileSIEMENSTHUMBNAILSegmentClass().GetAboutName(), "SIEMENSTHUMBNAIL");

  EXPECT_FALSE(JpegFileAPPSegmentClass(3).IsKnownSegment());
  EXPECT_TRUE(JpegFileCommentSegmentClass().IsKnownSegment());
  EXPECT_TRUE(JpegFileJFIFSegmentClass().IsKnownSegment());
  EXPECT_TRUE(JpegFileAPPSegmentClass(3).IsInfoSegment());
  EXPECT_FALSE(JpegFileAPPSegmentClass(3).CanStoreThumbnail());
  EXPECT_FALSE(JpegFileCommentSegmentClass().CanStoreThumbnail());
  EXPECT_FALSE(JpegFileThumSegmentClass().CanStoreThumbnail());
  EXPECT_TRUE(JpegFileJFIFSegmentClass().CanStoreThumbnail());

  EXPECT_EQ(JpegFileClass().GetFileType(), "Jpeg");
  EXPECT_EQ(JpegFileClass().GetSignature(), "\xFF\xD8\xFF");
}

TEST_F(JpegSegmentModel, WalkStopsAtTheFirstMarkerNoClassClaims) {
  const Bytes file = JpegWriter()
                         .Segment(0xE0, JfxxJpegPayload())
                         .Segment(0xE1, Str("http://ns.adobe.com/xap/1.0/\0<x/>"s))  // not Exif
                         .Segment(0xED, Str("Something else"))                      // not Photoshop
                         .Segment(0xFE, Str("a comment"))
                         .Segment(0xE2, QvgaPayload())
                         .Dqt()
                         .Segment(0xE2, QvgaPayload())  // after the tables: never seen
                         .Image(8, 8);
  auto jpeg = LoadJpeg(file);
  EXPECT_EQ(ChildNames(*jpeg), (std::vector<std::string>{"JFXX", "JPEGQVGATHUMB"}));
  EXPECT_EQ(jpeg->GetThumbnailCount(), 2);
  EXPECT_EQ(Preview(*jpeg, 1), SmallJpeg());
  EXPECT_EQ(jpeg->Items(1)->FullName(), "TzanJpegFile.JPEGQVGATHUMB");
}

TEST_F(JpegSegmentModel, WalkEndsQuietlyOnBrokenStructure) {
  struct Case {
    const char* what;
    Bytes file;
    size_t children;
  };
  const Case cases[] = {
      {"start of image only", Bytes{0xFF, 0xD8}, 0},
      {"skipped segment longer than the file",
       JpegWriter().Segment(0xE2, QvgaPayload()).Segment(0xE1, 0x1000, Str("short")), 1},
      {"fill bytes before a marker", JpegWriter().Segment(0xE2, QvgaPayload()).Raw({0xFF}).Segment(0xE2, QvgaPayload()),
       1},
      {"no 0xFF at a segment boundary", JpegWriter().Segment(0xE2, QvgaPayload()).Raw({0x00}).Segment(0xE2, QvgaPayload()),
       1},
      {"file ends inside a segment header", JpegWriter().Segment(0xE2, QvgaPayload()).Raw({0xFF, 0xE2, 0x00}), 1},
  };
  for (const Case& c : cases) {
    std::unique_ptr<TzanMetaFile> jpeg;
    ASSERT_NO_THROW(jpeg = LoadJpeg(c.file)) << c.what;
    EXPECT_EQ(static_cast<size_t>(jpeg->ItemCount()), c.children) << c.what;
  }
}

TEST_F(JpegSegmentModel, APreviewSegmentLongerThanTheFileIsCutToTheFile) {
  const Bytes jpeg = SmallJpeg();
  const Bytes file = JpegWriter().Segment(0xE2, 0xF000, QvgaPayload());
  auto meta = LoadJpeg(file);
  ASSERT_EQ(meta->GetThumbnailCount(), 1);
  EXPECT_EQ(Preview(*meta, 0), jpeg);
}

TEST_F(JpegSegmentModel, ASegmentLengthBelowTwoFailsTheLoadAndKeepsEarlierSegments) {
  // A SCRNAIL group takes every following APP4 segment without looking at
  // its length; one with length 1 cannot be loaded.
  const Bytes file = JpegWriter()
                         .Segment(0xE2, QvgaPayload())
                         .Segment(0xE4, Cat({Str("SCRNAIL\0"s), Fill(16, 128)}))
                         .Segment(0xE4, 1, {})
                         .Dqt();
  auto meta = JpegFileClass().Create();
  TMemoryStream s(file.data(), file.size());
  try {
    meta->LoadFromStream(s);
    FAIL() << "no exception";
  } catch (const EzanJpegFileSegment& e) {
    EXPECT_STREQ(e.what(), "Invalid segment size");
  }
  EXPECT_EQ(ChildNames(*meta), (std::vector<std::string>{"JPEGQVGATHUMB", "SCRNAIL"}));
}

TEST_F(JpegSegmentModel, PostLoadPassGetsEachSegmentAtItsOffset) {
  const TStandInClass probe("TzanJpegFileProbeSegment", 0xE6, "PROBE");
  RegisterJpegFileSegmentClass(probe);
  const Bytes prefix = Cat({Fill(5, 0xAA)});  // the JPEG starts 5 bytes into the stream
  const Bytes jpeg = JpegWriter()
                         .Segment(0xE2, QvgaPayload())
                         .Segment(0xE6, Str("PROBE and more"))
                         .Segment(0xE6, Str("PROBE again"))
                         .Dqt();
  const Bytes all = Cat({prefix, jpeg});
  TMemoryStream s(all.data(), all.size());
  s.SetPosition(5);
  auto meta = JpegFileClass().Create();
  meta->LoadFromStream(s);
  ASSERT_EQ(meta->ItemCount(), 3);
  const int64_t first = 5 + 2 + 4 + static_cast<int64_t>(QvgaPayload().size());
  const int64_t offsets[2] = {first, first + 4 + 14};
  for (int i = 0; i < 2; ++i) {
    auto* seg = dynamic_cast<TStandInSegment*>(meta->Items(i + 1));
    ASSERT_NE(seg, nullptr);
    EXPECT_EQ(seg->Name(), "PROBE");
    EXPECT_EQ(seg->FStreamOffset, offsets[i]) << "the offset of the segment's 0xFF byte";
    EXPECT_EQ(seg->postStart, 5);
    EXPECT_EQ(seg->postPosition, offsets[i]);
    EXPECT_EQ(seg->postAfterBase, offsets[i] + 4 + 5) << "marker, length and signature";
    EXPECT_EQ(seg->Marker(), 0xE6);
  }
  EXPECT_EQ(s.Position(), 5 + static_cast<int64_t>(jpeg.size()) - 69) << "left where the walk stopped: at the DQT";
}

TEST_F(JpegSegmentModel, AClassFilterLoadsOnlyThatClass) {
  const Bytes file = JpegWriter().Segment(0xE0, JfxxJpegPayload()).Segment(0xE2, QvgaPayload()).Dqt();
  TzanJpegFile jpeg;
  TMemoryStream s(file.data(), file.size());
  jpeg.LoadFromStreamEx(s, true, &JpegFileJpegQVGAThumbSegmentClass());
  EXPECT_EQ(ChildNames(jpeg), std::vector<std::string>{"JPEGQVGATHUMB"});
  TMemoryStream again(file.data(), file.size());
  jpeg.LoadFromStreamEx(again, true, nullptr);
  EXPECT_EQ(jpeg.ItemCount(), 2);
}

TEST_F(JpegSegmentModel, WalkThroughTheBufferedStreamOfARealSizedFile) {
  // A multi-megabyte picture is classified from its first kilobytes.
  Bytes file = JpegWriter().Segment(0xE2, QvgaPayload()).Image(64, 48);
  file.resize(file.size() + (4 << 20), 0x5A);
  TMemoryStream source(file.data(), file.size());
  TzanBufferedStream s(&source, false);
  auto meta = JpegFileClass().Create();
  meta->LoadFromStream(s);
  EXPECT_EQ(meta->GetThumbnailCount(), 1);
}

// ---- packed bitmaps ----------------------------------------------------------------------

std::unique_ptr<TzanJpegFileThumbnailSegment> NewThumbnailSegment() {
  return std::unique_ptr<TzanJpegFileThumbnailSegment>(
      static_cast<TzanJpegFileThumbnailSegment*>(JpegFileJFIFSegmentClass().Create(nullptr)));
}

TEST_F(JpegSegmentModel, PackedEightBitBitmapHasPaletteAndPaddedRows) {
  Bytes palette;
  for (int i = 0; i < 256; ++i) palette.insert(palette.end(), {uint8_t(i), uint8_t(i + 1), uint8_t(i + 2)});
  const Bytes source = Cat({{3, 2}, palette, {1, 2, 3}, {4, 5, 6}});
  TMemoryStream s(source.data(), source.size());
  auto seg = NewThumbnailSegment();
  seg->LoadPackedBitmap(s, 8);
  const Bytes bmp = OwnPreview(*seg);
  ASSERT_EQ(bmp.size(), 54u + 1024u + 2u * 4u);
  EXPECT_EQ(U32At(bmp, 2), bmp.size()) << "declared file size";
  EXPECT_EQ(U32At(bmp, 10), 54u + 1024u);
  EXPECT_EQ(U16At(bmp, 28), 8u);
  EXPECT_EQ(U32At(bmp, 46), 256u) << "colours used";
  EXPECT_EQ(Bytes(bmp.begin() + 54 + 4, bmp.begin() + 54 + 8), (Bytes{3, 2, 1, 0})) << "entry 1 as B, G, R, 0";
  EXPECT_EQ(Bytes(bmp.begin() + 1078, bmp.end()), (Bytes{4, 5, 6, 0, 1, 2, 3, 0})) << "bottom row first, padded";
  const Bitmap32 decoded = DecodeBmp(bmp);
  EXPECT_EQ(test::Rgb(decoded, 0, 0), 0x010203u);
  EXPECT_EQ(test::Rgb(decoded, 2, 1), 0x060708u);
}

TEST_F(JpegSegmentModel, PackedBitmapFromAShortSourceKeepsWhatArrivedAndFails) {
  // 2 x 3 pixels at 24 bits, but only one row and one pixel of data.
  const Bytes source = {10, 20, 30, 40, 50, 60, 70, 80, 90, 1};
  TMemoryStream s(source.data(), source.size());
  auto seg = NewThumbnailSegment();
  EXPECT_THROW(seg->LoadPackedBitmap(s, 24, 2, 3), EReadError);
  const Bytes bmp = OwnPreview(*seg);
  ASSERT_EQ(bmp.size(), 54u + 3u * 8u) << "attached at full length before reading";
  const Bitmap32 decoded = DecodeBmp(bmp);
  EXPECT_EQ(test::Rgb(decoded, 0, 0), 0x0A141Eu);
  EXPECT_EQ(test::Rgb(decoded, 1, 0), 0x28323Cu);
  EXPECT_EQ(test::Rgb(decoded, 0, 1), 0x46505Au);
  EXPECT_EQ(test::Rgb(decoded, 1, 1), 0u);
  EXPECT_EQ(test::Rgb(decoded, 1, 2), 0u);
}

TEST_F(JpegSegmentModel, PackedBitmapSizesTheDataCannotBackAreRefused) {
  const Bytes source(100, 7);
  auto seg = NewThumbnailSegment();
  TMemoryStream s(source.data(), source.size());
  EXPECT_THROW(seg->LoadPackedBitmap(s, 24, 60000, 60000), EOutOfResources);
  EXPECT_FALSE(seg->HasOwnThumbnail());
  s.SetPosition(0);
  seg->LoadPackedBitmap(s, 24, 0, 5);
  EXPECT_FALSE(seg->HasOwnThumbnail()) << "an empty picture makes no preview";
}

}  // namespace
}  // namespace zan
