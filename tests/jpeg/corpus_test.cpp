// Real camera and editor files: the previews of APPn segments, Photoshop
// resources and PSD files that the corpus manifest describes, through the
// tree, the front end and the command-line tool.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "front/choice.h"
#include "jpeg/appn_segments.h"
#include "jpeg/photoshop_segments.h"
#include "jpeg_test_support.h"
#include "meta/buffered_stream.h"
#include "platform/process.h"
#include "support/host.h"

namespace zan {
namespace {

struct Expected {
  std::string owner;  // FullName of the preview's owner
  TSize size;
};

struct CorpusCase {
  const char* file;
  std::vector<Expected> previews;
};

const std::string kPsBlock = ".Tzan8BIM.Tzan8BIMThumbnailBlock";
const std::string kJpegPs = "TzanJpegFile.PHOTOSHOP" + kPsBlock;
const std::string kPsdPs = "TzanPsdFile.Adobe resource" + kPsBlock;

const CorpusCase kCases[] = {
    {"jpeg_appn/nikon-e950.jpg", {{kJpegPs, {112, 84}}}},
    {"jpeg_appn_jfxx/olympus-d320l.jpg", {{"TzanJpegFile.JFXX", {80, 60}}}},
    {"jpeg_appn_photoshop/Photoshop_(1).jpg", {{kJpegPs, {76, 112}}}},
    {"jpeg_appn_photoshop/BlueSquare.jpg", {{kJpegPs, {160, 96}}}},
    {"generated/jpeg/photoshop_app13_thumb.jpg", {{kJpegPs, {160, 120}}}},
    {"psd/exiv2-photoshop.psd", {{kPsdPs, {150, 91}}}},
    {"psd/testPSD2.psd", {{kPsdPs, {69, 70}}}},
    {"psd/laba_8bit.psd", {{kPsdPs, {160, 160}}}},
    {"psd/8x4x8bit-Grayscale.psd", {{kPsdPs, {8, 4}}}},
    {"psd/rgb-gimp-2.8.10.psd", {}},
    {"generated/psd/with_1036_thumb.psd", {{kPsdPs, {160, 120}}}},
    {"generated/psd/im_plain.psd", {}},
    {"plain/testJPEG.jpg", {}},
    {"jpeg_exif/exiv2-bug443.jpg", {}},  // its preview is the Exif one, not ours
};

// The tests register only the JPEG and Photoshop classes, so every preview
// found here comes from this unit.
class JpegCorpus : public test::JpegUnitTest {};

TEST_F(JpegCorpus, PreviewsMatchTheManifest) {
  test::HostVersion host(2);
  int checked = 0;
  for (const CorpusCase& c : kCases) {
    auto dir = test::CorpusDir();
    if (!dir || !std::filesystem::exists(*dir / c.file)) continue;
    ++checked;
    const std::string path = (*dir / c.file).string();
    TFileStream file(path);
    TzanBufferedStream s(&file, false);
    const TzanMetaFileClass* cls = FindMetaFileClass(s);
    ASSERT_NE(cls, nullptr) << c.file;
    auto meta = cls->Create();
    ASSERT_NO_THROW(meta->LoadFromStream(s)) << c.file;

    ASSERT_EQ(meta->GetThumbnailCount(), static_cast<int32_t>(c.previews.size())) << c.file;
    for (size_t i = 0; i < c.previews.size(); ++i) {
      const auto n = static_cast<int32_t>(i);
      EXPECT_EQ(meta->FindThumbnailOwner(n)->FullName(), c.previews[i].owner) << c.file;
      EXPECT_EQ(meta->GetThumbnailSize(n), c.previews[i].size) << c.file;
      TMemoryStream preview(meta->GetThumbnailData(n), meta->GetThumbnailDataSize(n));
      EXPECT_EQ(GetGraphicFileType(preview), "jpg") << c.file;
    }

    // The front end uses the preview: the result has the preview's shape.
    s.SetPosition(0);
    const Bitmap32 out = test::ReadBack(RegisteredFileToThumbnail(s, 160, 160));
    if (c.previews.empty()) {
      EXPECT_TRUE(out.Empty()) << c.file;
    } else {
      const TSize size = c.previews[0].size;
      ASSERT_FALSE(out.Empty()) << c.file;
      const bool wide = size.cx >= size.cy;
      EXPECT_EQ(wide ? out.Width() : out.Height(), 160) << c.file;
      EXPECT_NEAR(wide ? out.Height() : out.Width(),
                  160.0 * (wide ? size.cy : size.cx) / (wide ? size.cx : size.cy), 1.0)
          << c.file;
    }
  }
  if (checked == 0) GTEST_SKIP() << "corpus absent";
}

// Every real JPEG and PSD of the corpus loads without an error, and the
// preview classes of this unit claim none of the segments they do not hold.
TEST_F(JpegCorpus, OtherRealFilesLoadAndYieldNoStrayPreviews) {
  auto dir = test::CorpusDir();
  if (!dir) GTEST_SKIP() << "corpus absent";
  std::set<std::string> described;
  for (const CorpusCase& c : kCases) described.insert(c.file);
  int loaded = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(*dir)) {
    if (!entry.is_regular_file()) continue;
    const std::string relative = std::filesystem::relative(entry.path(), *dir).string();
    if (described.count(relative) != 0) continue;
    TFileStream file(entry.path().string());
    TzanBufferedStream s(&file, false);
    const TzanMetaFileClass* cls = FindMetaFileClass(s);
    if (cls == nullptr) continue;
    auto meta = cls->Create();
    ASSERT_NO_THROW(meta->LoadFromStream(s)) << relative;
    ++loaded;
    // Without the Exif and FlashPix units these files hold no preview of ours.
    EXPECT_EQ(meta->GetThumbnailCount(), 0) << relative;
  }
  EXPECT_GT(loaded, 10);
}

TEST(JpegCorpusCli, ListShowsOwnersAndThumbUsesThePreview) {
  ZAN_REQUIRE_CORPUS_FILE(psd, "psd/exiv2-photoshop.psd");
  ZAN_REQUIRE_CORPUS_FILE(jfxx, "jpeg_appn_jfxx/olympus-d320l.jpg");
  std::string out;
  ASSERT_EQ(RunCommand(std::string(ZAN_CLI_PATH) + " list '" + psd + "' 2>&1", out), 0) << out;
  EXPECT_NE(out.find("TzanPsdFile.Adobe resource.Tzan8BIM.Tzan8BIMThumbnailBlock"), std::string::npos) << out;
  EXPECT_NE(out.find("150x91"), std::string::npos) << out;
  ASSERT_EQ(RunCommand(std::string(ZAN_CLI_PATH) + " list '" + jfxx + "' 2>&1", out), 0) << out;
  EXPECT_NE(out.find("TzanJpegFile.JFXX"), std::string::npos) << out;

  test::TempDir tmp;
  ASSERT_EQ(RunCommand(std::string(ZAN_CLI_PATH) + " thumb '" + psd + "' -s 300x300 -o '" + tmp.Path("p.png") + "' 2>&1",
                       out),
            0)
      << out;
  const auto png = test::ReadFileBytes(tmp.Path("p.png"));
  TMemoryStream s(png.data(), png.size());
  const PngImage image = PngRead(s);
  EXPECT_EQ(image.width, 300);
  EXPECT_EQ(image.height, 182) << "the shape of the 150 x 91 preview";
}

}  // namespace
}  // namespace zan
