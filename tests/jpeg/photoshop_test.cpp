// Photoshop image resources: the block list, the thumbnail blocks, the APP13
// segments that carry them and PSD files.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "front/choice.h"
#include "jpeg/photoshop.h"
#include "jpeg/photoshop_segments.h"
#include "jpeg/psd_file.h"
#include "jpeg_test_support.h"
#include "support/host.h"

namespace zan {
namespace {

using namespace std::string_literals;
using test::BE16;
using test::BE32;
using test::Bytes;
using test::Cat;
using test::Fill;
using test::JpegThumbnailBlock;
using test::JpegWriter;
using test::ResourceBlock;
using test::Str;
using test::U16At;
using test::U32At;
using test::ThumbnailResourceData;

class PhotoshopResources : public test::JpegUnitTest {
 protected:
  // Loads a resource list; its read error (if any) propagates.
  static std::unique_ptr<Tzan8BIM> LoadList(const Bytes& bytes) {
    auto list = std::make_unique<Tzan8BIM>(nullptr);
    TMemoryStream s(bytes.data(), bytes.size());
    list->LoadFromStream(s);
    return list;
  }
  static std::vector<std::string> BlockClasses(const Tzan8BIM& list) {
    std::vector<std::string> names;
    for (int32_t i = 0; i < list.BlockCount(); ++i) names.push_back(list.Blocks(i)->ClassName());
    return names;
  }

  const Bytes jpeg_ = test::MakeJpeg(32, 24);
};

TEST_F(PhotoshopResources, OnlyThumbnailBlocksBecomeObjects) {
  const Bytes list = Cat({ResourceBlock(1005, Fill(16, 1)), JpegThumbnailBlock(1036, jpeg_, 32, 24),
                          ResourceBlock(1061, Fill(16, 2))});
  auto bim = LoadList(list);
  ASSERT_EQ(BlockClasses(*bim), std::vector<std::string>{"Tzan8BIMThumbnailBlock"});
  EXPECT_EQ(bim->GetThumbnailCount(), 1);
  EXPECT_EQ(Preview(*bim, 0), jpeg_);
  const Tzan8BIMBlock& block = *bim->Blocks(0);
  EXPECT_EQ(block.ID(), 1036);
  EXPECT_EQ(block.Marker(), k8BIMMarker);
}

TEST_F(PhotoshopResources, NamesSizesAndPadBytesAreSteppedOverExactly) {
  struct Case {
    const char* what;
    Bytes before;
  };
  const Case cases[] = {
      {"three-character name, no pad byte", ResourceBlock(1005, Fill(4, 1), "abc")},
      {"two-character name with its pad byte", ResourceBlock(1005, Fill(4, 1), "ab")},
      {"odd data size and its pad byte", ResourceBlock(1061, Fill(7, 0xFF))},
      {"odd size in an unregistered block", ResourceBlock(4000, Fill(3, 0x38))},
      {"a PHUT block", ResourceBlock(7, Fill(5, 0), "", "PHUT")},
      {"a thumbnail block that is no thumbnail", ResourceBlock(1036, Fill(9, 0))},
  };
  for (const Case& c : cases) {
    auto bim = LoadList(Cat({c.before, ResourceBlock(1036, ThumbnailResourceData(1, 32, 24, 96, jpeg_), "thumb")}));
    ASSERT_EQ(bim->GetThumbnailCount(), 1) << c.what;
    EXPECT_EQ(Preview(*bim, 0), jpeg_) << c.what;
    EXPECT_EQ(bim->Blocks(bim->BlockCount() - 1)->BlockName(), "thumb") << c.what;
  }
}

TEST_F(PhotoshopResources, BlocksAreMatchedByTheirOwnClassAnyOtherOrNone) {
  struct Case {
    std::string signature;
    uint16_t id;
    const char* cls;  // null: none
  };
  const Case cases[] = {
      {"8BIM", 1005, "Tzan8BIMResolutionInfoBlock"}, {"8BIM", 1033, "Tzan8BIMOldThumbnailBlock"},
      {"8BIM", 1036, "Tzan8BIMThumbnailBlock"},      {"8BIM", 1061, "Tzan8BIMIPTCDigestBlock"},
      {"8BIM", 10000, "Tzan8BIMPrintFlagsInfoBlock"}, {"8BIM", 1234, "Tzan8BIMAnyBlock"},
      {"PHUT", 1036, "TzanPHUTBlock"},               {"MeSa", 1036, nullptr},
  };
  for (const Case& c : cases) {
    const Bytes bytes = Cat({Fill(3, 0), Str(c.signature), BE16(c.id), Fill(6, 0)});
    TMemoryStream s(bytes.data(), bytes.size());
    s.SetPosition(3);
    const Tzan8BIMBlockClass* cls = Find8BIMBlockClass(s);
    EXPECT_EQ(s.Position(), 3);
    if (c.cls == nullptr)
      EXPECT_EQ(cls, nullptr) << c.signature;
    else
      EXPECT_STREQ(cls != nullptr ? cls->ClassName() : "none", c.cls) << c.signature << " " << c.id;
  }
  const Bytes shortHeader = Str("8BIM\x04");
  TMemoryStream s(shortHeader.data(), shortHeader.size());
  EXPECT_THROW(Find8BIMBlockClass(s), EReadError);
  EXPECT_EQ(s.Position(), 0);

  std::vector<const Tzan8BIMBlockClass*> classes;
  Tzan8BIM::FillMetaSegmentClassList(classes);
  std::vector<std::string> names;
  for (const auto* c : classes) names.push_back(c->ClassName());
  EXPECT_EQ(names, (std::vector<std::string>{
                       "TzanPHUTBlock", "Tzan8BIMAnyBlock", "Tzan8BIMResolutionInfoBlock", "Tzan8BIMOldThumbnailBlock",
                       "Tzan8BIMThumbnailBlock", "Tzan8BIMVersionInfoBlock", "Tzan8BIMExifBlock", "Tzan8BIMXMPBlock",
                       "Tzan8BIMXMLBlock", "Tzan8BIMAlphaChannelNamesBlock", "Tzan8BIMUnicodeAlphaChannelNamesBlock",
                       "Tzan8BIMIPTCDigestBlock", "Tzan8BIMPrintFlagsInfoBlock", "Tzan8BIMJPEGQualityBlock"}));
}

TEST_F(PhotoshopResources, BrokenListsAreContained) {
  const Bytes thumb = JpegThumbnailBlock(1036, jpeg_, 32, 24);
  // A foreign signature ends the list quietly; blocks before it stay.
  auto bim = LoadList(Cat({thumb, ResourceBlock(1036, Fill(8, 0), "", "MeSa"), thumb}));
  EXPECT_EQ(bim->BlockCount(), 1);

  // A size that runs past the list is cut to it: a truncated JPEG.
  const Bytes data = ThumbnailResourceData(1, 32, 24, 96, jpeg_);
  bim = LoadList(Cat({ResourceBlock(1036, data, "", "8BIM", 100000)}));
  ASSERT_EQ(bim->GetThumbnailCount(), 1);
  EXPECT_EQ(Preview(*bim, 0), jpeg_);
  bim = LoadList(Cat({ResourceBlock(1036, Bytes(data.begin(), data.end() - 40))}));
  EXPECT_EQ(Preview(*bim, 0), Bytes(jpeg_.begin(), jpeg_.end() - 40));

  // A block header cut short raises; the blocks read before stay.
  auto list = std::make_unique<Tzan8BIM>(nullptr);
  const Bytes cut = Cat({thumb, Str("8BIM"), BE16(1036), {3, 'a'}});
  TMemoryStream s(cut.data(), cut.size());
  EXPECT_THROW(list->LoadFromStream(s), EReadError);
  EXPECT_EQ(list->BlockCount(), 2) << "the block being read stays too, without data";
  EXPECT_EQ(list->GetThumbnailCount(), 1);
}

TEST_F(PhotoshopResources, RawThumbnailsBecomeBmps) {
  // 3 x 2 pixels; every pixel p = (10p+1, 10p+2, 10p+3) in the file's order.
  auto rows = [](uint32_t rowLength) {
    Bytes out;
    for (int y = 0; y < 2; ++y) {
      for (int x = 0; x < 3; ++x) {
        const int p = y * 3 + x;
        out.insert(out.end(), {uint8_t(10 * p + 1), uint8_t(10 * p + 2), uint8_t(10 * p + 3)});
      }
      out.resize(out.size() + (rowLength - 9), 0xEE);
    }
    return out;
  };
  struct Case {
    uint16_t id;
    uint32_t rowLength;
    bool rgb;  // the file holds R, G, B (1036) rather than B, G, R (1033)
  };
  for (const Case c : {Case{1036, 12, true}, Case{1033, 12, false}, Case{1036, 9, true}, Case{1036, 16, true}}) {
    auto bim = LoadList(ResourceBlock(c.id, ThumbnailResourceData(0, 3, 2, c.rowLength, rows(c.rowLength))));
    ASSERT_EQ(bim->GetThumbnailCount(), 1) << c.id << " " << c.rowLength;
    const Bytes bmp = Preview(*bim, 0);
    EXPECT_EQ(bmp.size(), 54u + 2u * 12u);
    const Bitmap32 picture = DecodeBmp(bmp);
    ASSERT_EQ(picture.Width(), 3);
    ASSERT_EQ(picture.Height(), 2);
    for (int p = 0; p < 6; ++p) {
      const uint32_t a = 10 * p + 1, b = 10 * p + 2, c3 = 10 * p + 3;
      const uint32_t expected = c.rgb ? (a << 16 | b << 8 | c3) : (c3 << 16 | b << 8 | a);
      EXPECT_EQ(test::Rgb(picture, p % 3, p / 3), expected) << c.id << " row length " << c.rowLength << " pixel " << p;
    }
  }

  // Rows missing at the end stay black; a size the data cannot back makes no preview.
  const Bytes full = rows(12);
  auto bim = LoadList(ResourceBlock(1036, ThumbnailResourceData(0, 3, 2, 12, Bytes(full.begin(), full.begin() + 12))));
  EXPECT_EQ(test::Rgb(DecodeBmp(Preview(*bim, 0)), 0, 1), 0u);
  bim = LoadList(ResourceBlock(1036, ThumbnailResourceData(0, 30000, 30000, 90000, Fill(64, 1))));
  EXPECT_EQ(bim->GetThumbnailCount(), 0);
  bim = LoadList(ResourceBlock(1036, ThumbnailResourceData(0, 3, 2, 6, Fill(12, 1), 8)));
  EXPECT_EQ(bim->GetThumbnailCount(), 0) << "a palette depth without a palette";
}

TEST_F(PhotoshopResources, OldJpegThumbnailIsStoredWithRedAndBlueExchanged) {
  Bitmap32 colour(16, 8);
  colour.Clear(0xFF2050C0u);
  TMemoryStream encoded;
  JpegEncode(encoded, colour, 95);
  const Bytes jpeg = test::BytesOf(encoded);
  TMemoryStream again(jpeg.data(), jpeg.size());
  const Bitmap32 decoded = JpegDecode(again, 1);

  auto bim = LoadList(JpegThumbnailBlock(1033, jpeg, 16, 8));
  ASSERT_EQ(bim->GetThumbnailCount(), 1);
  const Bytes bmp = Preview(*bim, 0);
  ASSERT_EQ(Bytes(bmp.begin(), bmp.begin() + 2), Str("BM"));
  const Bitmap32 picture = DecodeBmp(bmp);
  ASSERT_EQ(picture.Width(), 16);
  ASSERT_EQ(picture.Height(), 8);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 16; ++x) {
      const uint32_t d = test::Rgb(decoded, x, y);
      const uint32_t swapped = ((d & 0xFF) << 16) | (d & 0xFF00) | (d >> 16);
      ASSERT_EQ(test::Rgb(picture, x, y), swapped) << x << "," << y;
    }

  // The same JPEG in a 1036 block is kept as it is; an undecodable 1033 JPEG too.
  EXPECT_EQ(Preview(*LoadList(JpegThumbnailBlock(1036, jpeg, 16, 8)), 0), jpeg);
  const Bytes junk = Cat({{0xFF, 0xD8, 0xFF}, Fill(40, 0x11)});
  EXPECT_EQ(Preview(*LoadList(JpegThumbnailBlock(1033, junk, 16, 8)), 0), junk);
}

TEST_F(PhotoshopResources, App13ResourcesMaySpanConsecutiveSegments) {
  const Bytes list = Cat({ResourceBlock(1005, Fill(16, 1)), JpegThumbnailBlock(1036, jpeg_, 32, 24)});
  const size_t split = 40;  // inside the thumbnail block
  const Bytes file = JpegWriter()
                         .Segment(0xED, Cat({Str("Photoshop 3.0\0"s), Bytes(list.begin(), list.begin() + split)}))
                         .Segment(0xED, Cat({Str("Photoshop 3.0\0"s), Bytes(list.begin() + split, list.end())}))
                         .Dqt();
  auto meta = LoadJpeg(file);
  ASSERT_EQ(ChildNames(*meta), std::vector<std::string>{"PHOTOSHOP"});
  ASSERT_EQ(meta->GetThumbnailCount(), 1);
  EXPECT_EQ(Preview(*meta, 0), jpeg_);
  EXPECT_EQ(meta->FindThumbnailOwner(0)->FullName(), "TzanJpegFile.PHOTOSHOP.Tzan8BIM.Tzan8BIMThumbnailBlock");
  auto* segment = dynamic_cast<TzanJpegFilePhotoshopSegment*>(meta->Items(0));
  EXPECT_EQ(segment->D8BIM().BlockCount(), 1);

  // A list cut inside a block header: the thumbnail before it stays.
  const Bytes cut = JpegWriter()
                        .Segment(0xED, Cat({Str("Photoshop 3.0\0"s), list, Str("8BIM")}))
                        .Segment(0xE2, Cat({Str("QVGA\0"s), jpeg_}))
                        .Dqt();
  meta = LoadJpeg(cut);
  EXPECT_EQ(ChildNames(*meta), (std::vector<std::string>{"PHOTOSHOP", "JPEGQVGATHUMB"}));
  EXPECT_EQ(meta->GetThumbnailCount(), 2);
}

TEST_F(PhotoshopResources, AdobePhotoshopSegmentHasResolutionsAndResources) {
  const Bytes payload =
      Cat({Str("Adobe_Photoshop2.5:"), BE16(300), BE16(1), BE16(200), BE16(2), JpegThumbnailBlock(1036, jpeg_, 32, 24)});
  auto meta = LoadJpeg(JpegWriter().Segment(0xED, payload).Dqt());
  ASSERT_EQ(ChildNames(*meta), std::vector<std::string>{"ADOBEPHOTOSHOP"});
  auto* segment = dynamic_cast<TzanJpegFileAdobePhotoshopSegment*>(meta->Items(0));
  EXPECT_EQ(segment->Rec().XResolution, 300);
  EXPECT_EQ(segment->Rec().YResolution, 200);
  ASSERT_NE(segment->D8BIM(), nullptr);
  EXPECT_EQ(Preview(*meta, 0), jpeg_);
}

// ---- PSD files ---------------------------------------------------------------------------------

TEST_F(PhotoshopResources, PsdFilesYieldTheirResourceThumbnail) {
  const Bytes resources = Cat({ResourceBlock(1005, Fill(16, 1)), JpegThumbnailBlock(1036, jpeg_, 32, 24)});
  struct Case {
    const char* what;
    Bytes file;
    int thumbnails;
  };
  const Case cases[] = {
      {"version 1", test::PsdFile(resources), 1},
      {"version 2 (large document)", test::PsdFile(resources, 4, 4, {}, 2), 1},
      {"colour mode data", test::PsdFile(resources, 4, 4, Fill(768, 3)), 1},
      {"no thumbnail resource", test::PsdFile(ResourceBlock(1005, Fill(16, 1))), 0},
      {"empty resources", test::PsdFile({}), 0},
  };
  for (const Case& c : cases) {
    TMemoryStream s(c.file.data(), c.file.size());
    ASSERT_EQ(FindMetaFileClass(s), &PsdFileClass()) << c.what;
    auto psd = PsdFileClass().Create();
    psd->LoadFromStream(s);
    EXPECT_EQ(psd->GetThumbnailCount(), c.thumbnails) << c.what;
    ASSERT_EQ(psd->ItemCount(), 1) << c.what;
    EXPECT_EQ(psd->Items(0)->Name(), "Adobe resource");
    if (c.thumbnails == 1) {
      EXPECT_EQ(Preview(*psd, 0), jpeg_);
      EXPECT_EQ(psd->FindThumbnailOwner(0)->FullName(), "TzanPsdFile.Adobe resource.Tzan8BIM.Tzan8BIMThumbnailBlock");
    }
  }
}

TEST_F(PhotoshopResources, BrokenPsdFilesFailTheLoad) {
  const Bytes thumb = JpegThumbnailBlock(1036, jpeg_, 32, 24);
  struct Case {
    const char* what;
    Bytes file;
  };
  const Case cases[] = {
      {"resources end with three stray bytes", test::PsdFile(Cat({thumb, {1, 2, 3}}))},
      {"resource section longer than the file",
       Cat({Str("8BPS"), BE16(1), Fill(6, 0), BE16(3), BE32(4), BE32(4), BE16(8), BE16(3), BE32(0), BE32(0x7FFFFFF0),
            thumb})},
      {"header only", Cat({Str("8BPS"), BE16(1), Fill(20, 0)})},
  };
  for (const Case& c : cases) {
    TMemoryStream s(c.file.data(), c.file.size());
    auto psd = PsdFileClass().Create();
    EXPECT_THROW(psd->LoadFromStream(s), EReadError) << c.what;
    s.SetPosition(0);
    EXPECT_EQ(RegisteredFileToThumbnail(s, 64, 64), nullptr) << c.what;
  }
}

TEST_F(PhotoshopResources, PsdPreviewReachesTheFrontEnd) {
  test::HostVersion host(2);
  const Bytes file = test::PsdFile(JpegThumbnailBlock(1036, jpeg_, 32, 24), 480, 640);
  TMemoryStream s(file.data(), file.size());
  const Bitmap32 out = test::ReadBack(RegisteredFileToThumbnail(s, 64, 64));
  EXPECT_EQ(out.Width(), 64);
  EXPECT_EQ(out.Height(), 48);
}

}  // namespace
}  // namespace zan
