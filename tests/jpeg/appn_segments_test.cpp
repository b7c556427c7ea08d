// Camera and editor previews in APPn segments: recognition, groups, and the
// JPEG or BMP each class makes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "front/choice.h"
#include "jpeg/appn_segments.h"
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
using test::FlatGreyScan;
using test::JpegWriter;
using test::Str;
using test::U16At;
using test::U32At;

Bytes Slice(const Bytes& b, size_t from, size_t to) {
  to = std::min(to, b.size());
  return Bytes(b.begin() + static_cast<std::ptrdiff_t>(from), b.begin() + static_cast<std::ptrdiff_t>(to));
}

class AppnSegments : public test::JpegUnitTest {
 protected:
  const Bytes jpeg_ = test::MakeJpeg(24, 16);
};

TEST_F(AppnSegments, SegmentsCarryingAJpegYieldItWhole) {
  const Bytes& j = jpeg_;
  struct Case {
    const char* what;
    Bytes file;
    std::vector<std::string> children;
    Bytes preview;
  };
  const Case cases[] = {
      {"JFXX code 0x10", JpegWriter().Segment(0xE0, Cat({Str("JFXX\0"s), {0x10}, j})).Dqt(), {"JFXX"}, j},
      {"QVGA", JpegWriter().Segment(0xE2, Cat({Str("QVGA\0"s), j})).Dqt(), {"JPEGQVGATHUMB"}, j},
      {"PDBigTN", JpegWriter().Segment(0xE4, Cat({Str("PDBigTN\0"s), Fill(10, 9), j})).Dqt(), {"APP4THUMB1"}, j},
      {"APP2 JPEG in one segment", JpegWriter().Segment(0xE2, j).Dqt(), {"APP2_1THUMB"}, j},
      {"APP2 JPEG in two segments",
       JpegWriter().Segment(0xE2, Slice(j, 0, 10)).Segment(0xE2, Slice(j, 10, j.size())).Dqt(),
       {"APP2_1THUMB"},
       j},
      {"APP2 group ends after two segments",
       JpegWriter()
           .Segment(0xE2, Slice(j, 0, 10))
           .Segment(0xE2, Slice(j, 10, 20))
           .Segment(0xE2, Slice(j, 20, j.size()))
           .Dqt(),
       {"APP2_1THUMB"},
       Slice(j, 0, 20)},
      {"APP2 JPEG behind one free byte", JpegWriter().Segment(0xE2, Cat({{0x07}, j})).Dqt(), {"APP2_2THUMB"}, j},
      {"APP3, APP4, APP5 in turn",
       JpegWriter()
           .Segment(0xE3, Slice(j, 0, 10))
           .Segment(0xE4, Slice(j, 10, 20))
           .Segment(0xE5, Slice(j, 20, j.size()))
           .Dqt(),
       {"APP3THUMB"},
       j},
      {"APP3 group without its APP4 part",
       JpegWriter().Segment(0xE3, Slice(j, 0, 10)).Segment(0xE5, Slice(j, 20, j.size())).Dqt(),
       {"APP3THUMB"},
       Slice(j, 0, 10)},
  };
  for (const Case& c : cases) {
    auto meta = LoadJpeg(c.file);
    EXPECT_EQ(ChildNames(*meta), c.children) << c.what;
    ASSERT_EQ(meta->GetThumbnailCount(), 1) << c.what;
    EXPECT_EQ(Preview(*meta, 0), c.preview) << c.what;
  }
}

TEST_F(AppnSegments, SegmentsThatAreNotPreviewsAreSteppedOver) {
  // APP2 payload without a JPEG start, JFXX with an unknown code, QVGA with
  // nothing after its signature, an APP5 without the 00 00 00 01 mark.
  const Bytes file = JpegWriter()
                         .Segment(0xE2, Str("ICC_PROFILE\0 data"s))
                         .Segment(0xE0, Cat({Str("JFXX\0"s), {0x12}, Fill(20, 1)}))
                         .Segment(0xE2, Str("QVGA\0"s))
                         .Segment(0xE5, Fill(140, 0))
                         .Segment(0xE2, Cat({Str("QVGA\0"s), jpeg_}))
                         .Dqt();
  auto meta = LoadJpeg(file);
  EXPECT_EQ(ChildNames(*meta), (std::vector<std::string>{"JFXX", "JPEGQVGATHUMB", "JPEGQVGATHUMB"}));
  EXPECT_EQ(meta->GetThumbnailCount(), 1);
  EXPECT_EQ(meta->Items(2)->GetThumbnailCount(), 1);
}

// ---- JFIF / JFXX bitmaps -----------------------------------------------------------

TEST_F(AppnSegments, JfifThumbnailBecomesABmpAndTheHeaderIsRead) {
  const Bytes payload = Cat({Str("JFIF\0"s), {1, 2, 1}, BE16(72), BE16(96), {2, 1}, {255, 0, 0, 0, 0, 255}, {0xEE}});
  auto meta = LoadJpeg(JpegWriter().Segment(0xE0, payload).Dqt());
  auto* jfif = dynamic_cast<TzanJpegFileJFIFSegment*>(meta->Items(0));
  ASSERT_NE(jfif, nullptr);
  EXPECT_EQ(jfif->Version(), "1.02");
  EXPECT_EQ(jfif->Header().ResolutionUnit, 1);
  EXPECT_EQ(jfif->Header().ResolutionX, 72);
  EXPECT_EQ(jfif->Header().ResolutionY, 96);
  EXPECT_EQ(test::BytesOf(jfif->FExtra), Bytes{0xEE}) << "the rest of the payload";
  const Bitmap32* picture = jfif->ThumbnailHandle();
  ASSERT_NE(picture, nullptr);
  EXPECT_EQ(picture->Width(), 2);
  EXPECT_EQ(picture->Height(), 1);
  EXPECT_EQ(test::Rgb(*picture, 0, 0), 0xFF0000u);
  EXPECT_EQ(test::Rgb(*picture, 1, 0), 0x0000FFu);
  EXPECT_EQ(meta->GetThumbnailSize(0), (TSize{2, 1}));

  // The usual JFIF without thumbnail has no preview; one whose pixels are
  // missing keeps a black picture.
  const Bytes none = Cat({Str("JFIF\0"s), {1, 1, 0}, BE16(1), BE16(1), {0, 0}});
  EXPECT_EQ(LoadJpeg(JpegWriter().Segment(0xE0, none).Dqt())->GetThumbnailCount(), 0);
  const Bytes cut = Cat({Str("JFIF\0"s), {1, 1, 0}, BE16(1), BE16(1), {4, 4}, {1, 2, 3}});
  auto partial = LoadJpeg(JpegWriter().Segment(0xE0, cut).Dqt());
  ASSERT_EQ(partial->GetThumbnailCount(), 1);
  const Bitmap32 decoded = DecodeBmp(Preview(*partial, 0));
  EXPECT_EQ(test::Rgb(decoded, 0, 0), 0x010203u);
  EXPECT_EQ(test::Rgb(decoded, 3, 3), 0u);
}

TEST_F(AppnSegments, JfxxPaletteAndRgbThumbnails) {
  Bytes palette;
  for (int i = 0; i < 256; ++i) palette.insert(palette.end(), {uint8_t(i), 0, uint8_t(255 - i)});
  const Bytes indices = {0, 1, 2, 3, 4, 255, 254, 253, 252, 251};
  const Bytes eight = Cat({Str("JFXX\0"s), {0x11}, {5, 2}, palette, indices});
  auto meta = LoadJpeg(JpegWriter().Segment(0xE0, eight).Dqt());
  ASSERT_EQ(meta->GetThumbnailCount(), 1);
  const Bytes bmp = Preview(*meta, 0);
  EXPECT_EQ(U32At(bmp, 2), bmp.size()) << "length equals the declared file size";
  EXPECT_EQ(bmp.size(), 54u + 1024u + 2u * 8u);
  const Bitmap32 decoded = DecodeBmp(bmp);
  EXPECT_EQ(test::Rgb(decoded, 1, 0), 0x0100FEu);
  EXPECT_EQ(test::Rgb(decoded, 0, 1), 0xFF0000u);

  const Bytes rgb = Cat({Str("JFXX\0"s), {0x13}, {1, 1}, {9, 8, 7}});
  auto meta24 = LoadJpeg(JpegWriter().Segment(0xE0, rgb).Dqt());
  ASSERT_EQ(meta24->GetThumbnailCount(), 1);
  EXPECT_EQ(test::Rgb(DecodeBmp(Preview(*meta24, 0)), 0, 0), 0x090807u);
  EXPECT_NE(dynamic_cast<TzanJpegFileJFXXSegment*>(meta24->Items(0))->ThumbnailHandle(), nullptr);
}

// ---- HP 4:2:2 segments -----------------------------------------------------------------

Bytes HpPayload(const std::string& signature, uint32_t width, uint32_t height, uint32_t index, const Bytes& pixels,
                int words = 6) {
  Bytes out = Cat({Str(signature), BE32(0), BE32(width), BE32(height), BE32(0), BE32(index), BE32(3)});
  for (int i = 6; i < words; ++i) out = Cat({out, BE32(0xABCD)});
  return Cat({out, pixels});
}

TEST_F(AppnSegments, HpGroupsConvertYCbCrRowsIntoABmp) {
  // Cb Y Cr Y: the first pixel of a pair still uses the previous Cr.
  struct Case {
    const char* signature;
    int words;
  };
  for (const Case c : {Case{"H3X0", 6}, Case{"HPSC", 8}}) {
    const Bytes file = JpegWriter()
                           .Segment(0xE4, HpPayload(c.signature, 2, 2, 1, {128, 100, 128, 200}, c.words))
                           .Segment(0xE4, HpPayload(c.signature, 2, 2, 2, {200, 100, 50, 100}, c.words))
                           .Dqt();
    auto meta = LoadJpeg(file);
    ASSERT_EQ(meta->ItemCount(), 1) << c.signature;
    ASSERT_EQ(meta->GetThumbnailCount(), 1) << c.signature;
    const Bitmap32 picture = DecodeBmp(Preview(*meta, 0));
    ASSERT_EQ(picture.Width(), 2);
    ASSERT_EQ(picture.Height(), 2);
    EXPECT_EQ(test::Rgb(picture, 0, 0), 0x646464u) << "grey 100";
    EXPECT_EQ(test::Rgb(picture, 1, 0), 0xC8C8C8u) << "grey 200";
    EXPECT_EQ(test::Rgb(picture, 0, 1), 0x644BE4u) << "Cb 200 with the old Cr 128";
    EXPECT_EQ(test::Rgb(picture, 1, 1), 0x0083E4u) << "Cb 200, Cr 50; red clamped at 0";
  }
}

TEST_F(AppnSegments, HpGroupMembersAreCheckedByIndexAndSize) {
  const Bytes grey = {128, 50, 128, 50};
  // Numbered 1, 2, 4: the third is no continuation; as a new segment it fails
  // the index test and becomes an abbreviated APP4 preview.
  auto meta = LoadJpeg(JpegWriter()
                           .Segment(0xE4, HpPayload("H3X0", 2, 3, 1, grey))
                           .Segment(0xE4, HpPayload("H3X0", 2, 3, 2, grey))
                           .Segment(0xE4, HpPayload("H3X0", 2, 3, 4, grey))
                           .Dqt());
  EXPECT_EQ(ChildNames(*meta), (std::vector<std::string>{"H3X0", "APP4THUMB2"}));
  Bitmap32 picture = DecodeBmp(OwnPreview(*meta->Items(0)));
  EXPECT_EQ(test::Rgb(picture, 1, 1), 0x323232u);
  EXPECT_EQ(test::Rgb(picture, 0, 2), 0u) << "no third row arrived";

  // A continuation whose size disagrees adds no pixels, and the group index
  // does not advance past it.
  meta = LoadJpeg(JpegWriter()
                      .Segment(0xE4, HpPayload("H3X0", 2, 3, 1, grey))
                      .Segment(0xE4, HpPayload("H3X0", 4, 3, 2, {128, 200, 128, 200}))
                      .Segment(0xE4, HpPayload("H3X0", 2, 3, 3, grey))
                      .Dqt());
  ASSERT_EQ(meta->ItemCount(), 2);
  picture = DecodeBmp(OwnPreview(*meta->Items(0)));
  EXPECT_EQ(test::Rgb(picture, 0, 1), 0u);

  // A header whose size the data cannot back gives no preview at all.
  meta = LoadJpeg(JpegWriter().Segment(0xE4, HpPayload("H3X0", 40000, 40000, 1, grey)).Dqt());
  ASSERT_EQ(meta->ItemCount(), 1);
  EXPECT_EQ(meta->GetThumbnailCount(), 0);
}

TEST_F(AppnSegments, ScrnailTakesEveryFollowingApp4AndFillsRowsUntilTheDataEnds) {
  // 320 x 240 at 2 bytes a pixel: 640 bytes a row; 10 rows in two segments.
  const Bytes rows = Fill(10 * 640, 0);
  Bytes pixels = rows;
  for (size_t i = 0; i < pixels.size(); i += 2) pixels[i] = 128, pixels[i + 1] = 90;
  const Bytes file = JpegWriter()
                         .Segment(0xE4, Cat({Str("SCRNAIL\0"s), Slice(pixels, 0, 4000)}))
                         .Segment(0xE4, Slice(pixels, 4000, pixels.size()))
                         .Dqt();
  auto meta = LoadJpeg(file);
  ASSERT_EQ(ChildNames(*meta), std::vector<std::string>{"SCRNAIL"});
  const Bitmap32 picture = DecodeBmp(Preview(*meta, 0));
  ASSERT_EQ(picture.Width(), 320);
  ASSERT_EQ(picture.Height(), 240);
  EXPECT_EQ(test::Rgb(picture, 319, 9), 0x5A5A5Au);
  EXPECT_EQ(test::Rgb(picture, 0, 10), 0u);
  EXPECT_EQ(test::Rgb(picture, 319, 239), 0u);
}

// ---- abbreviated JPEGs --------------------------------------------------------------------

TEST_F(AppnSegments, AbbreviatedHeaderHoldsTheStandardTables) {
  const auto& h = AbbreviatedJpegHeader();
  EXPECT_EQ(h.size(), 589u);
  EXPECT_EQ(Bytes(h.begin(), h.begin() + 7), (Bytes{0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x84, 0x00}));
  EXPECT_EQ(Bytes(h.begin() + 136, h.begin() + 141), (Bytes{0xFF, 0xC4, 0x01, 0xA2, 0x00}));
  EXPECT_EQ(Bytes(h.begin() + 556, h.begin() + 565), (Bytes{0xFF, 0xC0, 0x00, 0x11, 0x08, 0x00, 0x78, 0x00, 0xA0}));
  EXPECT_EQ(Bytes(h.begin() + 575, h.end()),
            (Bytes{0xFF, 0xDA, 0x00, 0x0C, 0x03, 0x01, 0x00, 0x02, 0x11, 0x03, 0x11, 0x00, 0x3F, 0x00}));
  // The quantisation tables are Annex K.1 / K.2 at quality 85 (zigzag order).
  const int k1[64] = {16, 11, 12, 14, 12, 10, 16, 14, 13, 14, 18, 17, 16, 19, 24, 40, 26, 24, 22, 22, 24, 49,
                      35, 37, 29, 40, 58, 51, 61, 60, 57, 51, 56, 55, 64, 72, 92, 78, 64, 68, 87, 69, 55, 56,
                      80, 109, 81, 87, 95, 98, 103, 104, 103, 62, 77, 113, 121, 112, 100, 120, 92, 101, 103, 99};
  const int k2[14] = {17, 18, 18, 24, 21, 24, 47, 26, 26, 47, 99, 66, 56, 66};
  for (int i = 0; i < 64; ++i) EXPECT_EQ(h[7 + i], (k1[i] * 30 + 50) / 100) << i;
  for (int i = 0; i < 64; ++i) EXPECT_EQ(h[72 + i], i < 14 ? (k2[i] * 30 + 50) / 100 : 30) << i;
}

TEST_F(AppnSegments, App4ScanDataIsCompletedToA480Or320Jpeg) {
  const Bytes header11 = Fill(11, 0x33);
  // Default tables: bytes 128/129 of the payload are scan data that is neither 00 00 nor 00 01.
  const Bytes shortScan = FlatGreyScan(20 * 30);  // enough for 320 x 240 only
  auto meta = LoadJpeg(JpegWriter().Segment(0xE4, Cat({header11, shortScan})).Dqt());
  ASSERT_EQ(ChildNames(*meta), std::vector<std::string>{"APP4THUMB2"});
  Bytes preview = Preview(*meta, 0);
  const auto& h = AbbreviatedJpegHeader();
  EXPECT_EQ(Bytes(preview.begin(), preview.begin() + 561), Bytes(h.begin(), h.begin() + 561)) << "default tables";
  EXPECT_EQ(Slice(preview, 561, 565), (Bytes{0x00, 0xF0, 0x01, 0x40})) << "240 x 320";
  EXPECT_EQ(Slice(preview, 589, preview.size()), shortScan) << "scan data from payload offset 11";
  EXPECT_EQ(meta->GetThumbnailSize(0), (TSize{320, 240}));
  {
    TMemoryStream s(preview.data(), preview.size());
    bool endedEarly = true;
    const Bitmap32 picture = JpegDecode(s, 1, &endedEarly);
    EXPECT_FALSE(endedEarly);
    EXPECT_EQ(test::Rgb(picture, 100, 100), 0x808080u);
  }

  // Own tables: payload bytes 128/129 are 00 01; the tables come first.
  Bytes lum(64), chroma(64);
  for (int i = 0; i < 64; ++i) lum[i] = uint8_t(i + 1), chroma[i] = uint8_t(100 + i);
  const Bytes fullScan = FlatGreyScan(30 * 45);
  meta = LoadJpeg(JpegWriter().Segment(0xE4, Cat({lum, chroma, {0x00, 0x01}, fullScan})).Dqt());
  preview = Preview(*meta, 0);
  EXPECT_EQ(Slice(preview, 7, 71), lum);
  EXPECT_EQ(Slice(preview, 72, 136), chroma);
  EXPECT_EQ(Slice(preview, 561, 565), (Bytes{0x01, 0x68, 0x01, 0xE0})) << "360 x 480";
  EXPECT_EQ(Slice(preview, 589, preview.size()), fullScan) << "scan data from payload offset 130";

  // Bytes 12 34 there: default tables.
  meta = LoadJpeg(JpegWriter().Segment(0xE4, Cat({lum, chroma, {0x12, 0x34}, fullScan})).Dqt());
  preview = Preview(*meta, 0);
  EXPECT_EQ(Slice(preview, 7, 71), Slice(Bytes(h.begin(), h.end()), 7, 71));
  EXPECT_EQ(Slice(preview, 589, 589 + 10), Slice(lum, 11, 21));
}

TEST_F(AppnSegments, App5CarriesTablesSizeAndScanData) {
  const Bytes lum = Fill(64, 2), chroma = Fill(64, 3);
  const Bytes scan = FlatGreyScan(10 * 15);
  const Bytes payload = Cat({lum, chroma, {0, 0, 0, 1}, {0x00, 0xA0, 0x00, 0x78}, scan});
  auto meta = LoadJpeg(JpegWriter().Segment(0xE5, payload).Dqt());
  ASSERT_EQ(ChildNames(*meta), std::vector<std::string>{"APP5THUMB"});
  const Bytes preview = Preview(*meta, 0);
  EXPECT_EQ(Slice(preview, 7, 71), lum);
  EXPECT_EQ(Slice(preview, 72, 136), chroma);
  EXPECT_EQ(meta->GetThumbnailSize(0), (TSize{160, 120}));
  TMemoryStream s(preview.data(), preview.size());
  const Bitmap32 picture = JpegDecode(s, 1);
  EXPECT_EQ(picture.Width(), 160);
  EXPECT_EQ(test::Rgb(picture, 80, 60), 0x808080u);
}

// ---- prv and SIEMENS -------------------------------------------------------------------------

TEST_F(AppnSegments, PrvPiecesAreJoinedWithEightZeroBytesEach) {
  // 4 x 2 pixels: each row is one piece (4 bytes) and its eight zero bytes.
  const Bytes first = Cat({Str("prv0"), BE16(24), BE16(4), BE16(2), Fill(16, 0xEE), {1, 2, 3, 4}});
  const Bytes second = Cat({Str("prv1"), {5, 6, 7, 8}});
  auto meta = LoadJpeg(JpegWriter().Segment(0xEA, first).Segment(0xEA, second).Dqt());
  ASSERT_EQ(ChildNames(*meta), std::vector<std::string>{"PRV"});
  auto* prv = dynamic_cast<TzanJpegFilePrvSegment*>(meta->Items(0));
  EXPECT_EQ(prv->FBitCount, 24);
  const Bytes bmp = Preview(*meta, 0);
  ASSERT_EQ(bmp.size(), 54u + 2u * 12u);
  // Bottom row first; R and B exchanged in every whole pixel.
  EXPECT_EQ(Slice(bmp, 54, 66), (Bytes{7, 6, 5, 0, 0, 8, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(Slice(bmp, 66, 78), (Bytes{3, 2, 1, 0, 0, 4, 0, 0, 0, 0, 0, 0}));

  // Digits out of turn end the group; the stray piece is stepped over.
  meta = LoadJpeg(JpegWriter().Segment(0xEA, first).Segment(0xEA, Cat({Str("prv2"), {9, 9}})).Dqt());
  EXPECT_EQ(ChildNames(*meta), std::vector<std::string>{"PRV"});
  EXPECT_EQ(Slice(Preview(*meta, 0), 54, 66), Fill(12, 0));
}

TEST_F(AppnSegments, SiemensThumbnailIsA565Bitmap) {
  Bytes pixels(2048);
  for (size_t x = 0; x < 32; ++x) pixels[2 * x + 1] = 0xF8;  // top row red: 0xF800 little-endian
  const Bytes payload = Cat({Str("<SIEMENS THUMBNAIL>"), Fill(9, 0), pixels, {0x42}});
  auto meta = LoadJpeg(JpegWriter().Segment(0xE7, payload).Dqt());
  ASSERT_EQ(meta->GetThumbnailCount(), 1);
  const Bytes bmp = Preview(*meta, 0);
  ASSERT_EQ(bmp.size(), 2114u);
  EXPECT_EQ(U32At(bmp, 2), 2114u);
  EXPECT_EQ(U32At(bmp, 30), 3u) << "bit fields";
  const Bitmap32 picture = DecodeBmp(bmp);
  EXPECT_GE(test::Rgb(picture, 5, 0) >> 16, 0xF8u);
  EXPECT_EQ(test::Rgb(picture, 5, 0) & 0xFFFFu, 0u);
  EXPECT_EQ(test::Rgb(picture, 5, 1), 0u);
  EXPECT_EQ(test::BytesOf(dynamic_cast<TzanMetaFileSegment*>(meta->Items(0))->FExtra), Bytes{0x42});

  // Pixels cut short: the headers only.
  auto cut = LoadJpeg(JpegWriter().Segment(0xE7, Cat({Str("<SIEMENS THUMBNAIL>"), Fill(9, 0), Fill(100, 1)})).Dqt());
  EXPECT_EQ(Preview(*cut, 0).size(), 66u);
}

TEST_F(AppnSegments, ZanThumbSegmentsAreSteppedOverButSplitIntoItemsWhenLoaded) {
  const Bytes payload = Cat({Str("zanThumb\0"s), test::LE32(3), {1, 2, 3}, test::LE32(9), {4, 5}});
  const Bytes file = JpegWriter().Segment(0xE9, payload).Segment(0xE2, Cat({Str("QVGA\0"s), jpeg_})).Dqt();
  EXPECT_EQ(ChildNames(*LoadJpeg(file)), std::vector<std::string>{"JPEGQVGATHUMB"});

  std::unique_ptr<TzanMetaFileSegment> thum(JpegFileThumSegmentClass().Create(nullptr));
  TMemoryStream s(file.data(), file.size());
  s.SetPosition(2);
  thum->LoadFromStream(s);
  ASSERT_EQ(thum->ItemCount(), 2);
  EXPECT_EQ(Preview(*thum, 0), (Bytes{1, 2, 3}));
  EXPECT_EQ(Preview(*thum, 1), (Bytes{4, 5})) << "size cut to what remains";
}

// ---- through the front end ---------------------------------------------------------------------

TEST_F(AppnSegments, TheFrontEndChoosesAmongSegmentPreviews) {
  test::HostVersion host(2);
  const Bytes small = test::MakeJpeg(40, 30), large = test::MakeJpeg(200, 100);
  const Bytes file = JpegWriter()
                         .Segment(0xE2, Cat({Str("QVGA\0"s), small}))
                         .Segment(0xE4, Cat({Str("PDBigTN\0"s), Fill(10, 0), large}))
                         .Image(800, 600);
  TMemoryStream s(file.data(), file.size());
  const Bitmap32 out = test::ReadBack(RegisteredFileToThumbnail(s, 200, 200));
  EXPECT_EQ(out.Width(), 200);
  EXPECT_EQ(out.Height(), 100) << "the 200 x 100 preview, not the 4:3 picture";
}

}  // namespace
}  // namespace zan
