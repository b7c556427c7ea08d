// The registered-format step: previews tried best area match first, with
// fallback to the next when one does not decode.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "front/choice.h"
#include "front/hooks.h"
#include "front/pipeline.h"
#include "meta/buffered_stream.h"
#include "meta/meta.h"
#include "support/fixtures.h"
#include "support/host.h"
#include "platform/system.h"

namespace zan {
namespace {

// A toy container: "ZTST", then records of (u32 length, bytes, u32 orientation).
// Each record becomes a segment that carries the bytes as its preview.
class TTestSegment : public TzanMetaFileSegment {
 public:
  using TzanMetaFileSegment::TzanMetaFileSegment;
  const TzanMetaFileSegmentClass& GetClass() const override;
};
class TTestSegmentClass : public TSegmentClassOf<TTestSegment> {
 public:
  const char* ClassName() const override { return "TTestSegment"; }
};
const TTestSegmentClass kTestSegmentClass;
const TzanMetaFileSegmentClass& TTestSegment::GetClass() const { return kTestSegmentClass; }

class TTestFile : public TzanMetaFile {
 public:
  const TzanMetaFileClass& GetClass() const override;
  void DoLoadFromStream(TStream& s) override {
    s.Skip(4);
    while (s.Remaining() >= 8) {
      const uint32_t len = s.ReadU32LE();
      if (len > s.Remaining() - 4) throw EzanMetaException("record runs past the end");
      auto* seg = kTestSegmentClass.Create(this);
      seg->FStreamOffset = s.Position();
      seg->ThumbnailStream().CopyFrom(s, len);
      seg->FThumbnailRotateMirror = static_cast<int32_t>(s.ReadU32LE());
    }
  }
};
class TTestFileClass : public TFileClassOf<TTestFile> {
 public:
  const char* ClassName() const override { return "TTestFile"; }
  std::string GetSignature() const override { return "ZTST"; }
};
const TTestFileClass kTestFileClass;
const TzanMetaFileClass& TTestFile::GetClass() const { return kTestFileClass; }

std::vector<uint8_t> Container(const std::vector<std::pair<std::vector<uint8_t>, uint32_t>>& records) {
  std::vector<uint8_t> out = {'Z', 'T', 'S', 'T'};
  auto put32 = [&](uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
  };
  for (const auto& [bytes, orientation] : records) {
    put32(static_cast<uint32_t>(bytes.size()));
    out.insert(out.end(), bytes.begin(), bytes.end());
    put32(orientation);
  }
  return out;
}

// Registers the toy class for one test and restores the registry after.
class FrontChoice : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = MetaFileClassRegistry();
    savedHooks_ = Hooks();
    MetaFileClassRegistry().clear();
    RegisterMetaFileClass(kTestFileClass);
  }
  void TearDown() override {
    MetaFileClassRegistry() = saved_;
    Hooks() = savedHooks_;
  }

  static Bitmap32 Thumb(const std::vector<uint8_t>& file, int32_t w, int32_t h) {
    TMemoryStream s(file.data(), file.size());
    return test::ReadBack(RegisteredFileToThumbnail(s, w, h));
  }

  std::vector<const TzanMetaFileClass*> saved_;
  FrontHooks savedHooks_;
  test::HostVersion host_{2};
};

// A JPEG of the given size whose colour tells which one was used.
std::vector<uint8_t> Jpeg(int32_t w, int32_t h) { return test::MakeJpeg(w, h, 80); }

TEST_F(FrontChoice, MetricComparesAreas) {
  EXPECT_NEAR(ThumbnailMetric(256, 256, {160, 120}), 2.4133, 1e-4);
  EXPECT_NEAR(ThumbnailMetric(256, 256, {1600, 1200}), 0.9659, 1e-4);
  EXPECT_NEAR(ThumbnailMetric(120, 120, {160, 120}), 0.25, 1e-9);
  EXPECT_NEAR(ThumbnailMetric(120, 120, {1600, 1200}), 0.9925, 1e-9);
  EXPECT_EQ(ThumbnailMetric(100, 100, {0, 0}), 0.0) << "unknown size counts as a perfect match";
  EXPECT_EQ(ThumbnailMetric(100, 100, {0, 50}), 0.0);
}

TEST_F(FrontChoice, BestAreaMatchIsTriedFirst) {
  const auto file = Container({{Jpeg(160, 120), 0}, {Jpeg(1600, 1200), 0}});
  TMemoryStream s(file.data(), file.size());
  auto meta = kTestFileClass.Create();
  meta->LoadFromStream(s);
  EXPECT_EQ(FindBestThumbnail(*meta, 256, 256, {}), 1);
  EXPECT_EQ(FindBestThumbnail(*meta, 120, 120, {}), 0);
  EXPECT_EQ(FindBestThumbnail(*meta, 256, 256, {1}), 0);
  EXPECT_EQ(FindBestThumbnail(*meta, 256, 256, {0, 1}), -2);

  EXPECT_EQ(Thumb(file, 256, 256).Width(), 256);
  // The small preview is enlarged to the box (every class but animated cursors).
  const Bitmap32 small = Thumb(file, 120, 120);
  EXPECT_EQ(small.Width(), 120);
  EXPECT_EQ(small.Height(), 90);
}

TEST_F(FrontChoice, TiesGoToTheEarlierPreviewAndUnknownSizesComeFirst) {
  const auto a = Jpeg(40, 30);
  const auto b = Jpeg(40, 30);
  const auto file = Container({{a, 0}, {b, 0}, {{1, 2, 3, 4, 5}, 0}});
  TMemoryStream s(file.data(), file.size());
  auto meta = kTestFileClass.Create();
  meta->LoadFromStream(s);
  EXPECT_EQ(FindBestThumbnail(*meta, 100, 100, {}), 2) << "raw bytes without a header: size unknown";
  EXPECT_EQ(FindBestThumbnail(*meta, 100, 100, {2}), 0);
}

TEST_F(FrontChoice, APreviewThatDoesNotDecodeIsExcludedAndTheNextOneUsed) {
  auto corrupt = Jpeg(1600, 1200);
  corrupt.resize(300);  // header intact, so it still sizes as 1600 x 1200
  corrupt[2] = 0x00;     // and the stream no longer starts like a JPEG
  const auto file = Container({{Jpeg(160, 120), 0}, {corrupt, 0}});
  const Bitmap32 out = Thumb(file, 256, 256);
  EXPECT_EQ(out.Width(), 256);
  EXPECT_EQ(out.Height(), 192);
}

TEST_F(FrontChoice, OrientationTravelsWithThePreview) {
  const auto file = Container({{Jpeg(64, 32), 6}});
  const Bitmap32 out = Thumb(file, 64, 64);
  EXPECT_EQ(out.Width(), 32);
  EXPECT_EQ(out.Height(), 64);
}

TEST_F(FrontChoice, NoPreviewOrAFailedParseGivesNothing) {
  EXPECT_TRUE(Thumb(Container({}), 64, 64).Empty()) << "claimed but no preview";
  auto broken = Container({{Jpeg(32, 32), 0}});
  broken[4] = 0xFF;  // the record now runs past the end: the parse raises
  EXPECT_TRUE(Thumb(broken, 64, 64).Empty());
  EXPECT_TRUE(Thumb({'N', 'O', 'P', 'E', 0, 0, 0, 0}, 64, 64).Empty()) << "no class claims it";
}

TEST_F(FrontChoice, ClassesThatKeepTheirFramesSizeAreNotEnlarged) {
  EXPECT_TRUE(EnlargesPreviews(kTestFileClass));
  Hooks().noEnlargeClasses.push_back(&kTestFileClass);
  const auto file = Container({{Jpeg(32, 32), 0}});
  const Bitmap32 out = Thumb(file, 96, 96);
  EXPECT_EQ(out.Width(), 32);
  EXPECT_EQ(out.Height(), 32);
}

TEST_F(FrontChoice, PipelineFallsBackToThePlainDecode) {
  test::TempDir dir;
  const auto plain = dir.Write("plain.jpg", Jpeg(300, 200));
  const Bitmap32 out = test::ReadBack(GetPreviewBitmap(Utf8ToUtf16(plain), 96, 96));
  EXPECT_EQ(out.Width(), 96);
  EXPECT_EQ(out.Height(), 64);
  // A registered format without a preview also falls through to the plain decode (which fails here).
  const auto empty = dir.Write("empty.tst", Container({}));
  EXPECT_EQ(GetPreviewBitmap(Utf8ToUtf16(empty), 96, 96), nullptr);
  EXPECT_EQ(GetPreviewBitmap(Utf8ToUtf16(dir.Path("missing.jpg")), 96, 96), nullptr);
}

}  // namespace
}  // namespace zan
