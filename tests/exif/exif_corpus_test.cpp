// Real files: every camera JPEG of the corpus with an IFD1 thumbnail yields
// it at the size its directory declares, and the TIFF-based files yield the
// previews of their directory chain.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "exif/exif_test_support.h"
#include "exif/jpeg_exif_segment.h"
#include "exif/tiff_file.h"
#include "front/decode.h"
#include "support/fixtures.h"
#include "support/host.h"

namespace zan {
namespace {

using test::ExifBytes;

struct ManifestRow {
  std::string file, category, expected;
};

std::vector<ManifestRow> ReadManifest(const std::filesystem::path& dir) {
  std::vector<ManifestRow> rows;
  std::ifstream in(dir / "manifest.tsv");
  std::string line;
  std::getline(in, line);  // the header
  while (std::getline(in, line)) {
    std::vector<std::string> fields;
    std::stringstream ss(line);
    std::string field;
    while (std::getline(ss, field, '\t')) fields.push_back(field);
    if (fields.size() >= 7) rows.push_back({fields[0], fields[4], fields[6]});
  }
  return rows;
}

// Decodes a preview as the front end would; false when it gives no picture.
bool Decodes(const ExifBytes& preview) {
  TMemoryStream s(preview.data(), preview.size());
  const Bitmap32 out = test::ReadBack(StreamToThumbnail(s, 96, 96, 0, false));
  return !out.Empty();
}

class ExifCorpus : public test::ExifUnitTest {
 protected:
  test::HostVersion host_{2};
};

TEST_F(ExifCorpus, CameraJpegsYieldTheirIfd1ThumbnailAtItsDeclaredSize) {
  const auto dir = test::CorpusDir();
  if (!dir || !std::filesystem::exists(*dir / "manifest.tsv")) GTEST_SKIP() << "corpus absent";
  const std::regex stated("IFD1[^;,+]*?(\\d+)x(\\d+)");
  int checked = 0;
  for (const ManifestRow& row : ReadManifest(*dir)) {
    if (row.category.rfind("jpeg", 0) != 0) continue;
    SCOPED_TRACE(row.file);
    const ExifBytes bytes = test::ReadFileBytes((*dir / row.file).string());
    const auto file = LoadFile(bytes);
    ASSERT_NE(file, nullptr);

    // The first Exif segment's IFD1, if it has a thumbnail of either kind.
    TzanExifIFD* ifd1 = nullptr;
    for (int32_t i = 0; i < file->SegmentCount() && ifd1 == nullptr; ++i) {
      auto* segment = dynamic_cast<TzanJpegFileExifSegment*>(file->Segments(i));
      if (segment != nullptr && segment->Exif().IFDCount() > 1)
        ifd1 = static_cast<TzanExifIFD*>(segment->Exif().GetIFD(1));
    }
    const bool tagPair = ifd1 != nullptr && ifd1->HasTag(kTagJpegOffset) && ifd1->HasTag(kTagJpegLength);
    const bool strips = ifd1 != nullptr && ifd1->HasTag(kTagStripOffsets);
    std::smatch m;
    const bool mentioned = std::regex_search(row.expected, m, stated);
    if (!tagPair && !strips) {
      EXPECT_FALSE(mentioned) << "the manifest promises an IFD1 thumbnail";
      continue;
    }
    if (row.expected.find("dummy") != std::string::npos) {
      EXPECT_FALSE(ifd1->HasOwnThumbnail()) << "a dummy thumbnail is not a JPEG";
      continue;
    }
    ++checked;
    ASSERT_TRUE(ifd1->HasOwnThumbnail());
    const ExifBytes preview = test::OwnPreviewOf(*ifd1);
    TMemoryStream s(preview.data(), preview.size());
    const TSize size = GetGraphicPixelSize(s);
    if (tagPair) {
      EXPECT_EQ(static_cast<int64_t>(preview.size()), ifd1->GetEntryByTag(kTagJpegLength, false)->Data().AsInteger());
      EXPECT_TRUE(test::StartsAsJpeg(preview));
    } else {
      EXPECT_EQ(size.cx, ifd1->GetEntryByTag(kTagImageWidth, false)->Data().AsInteger());
      EXPECT_EQ(size.cy, ifd1->GetEntryByTag(kTagImageLength, false)->Data().AsInteger());
    }
    if (mentioned) {
      EXPECT_EQ(size.cx, std::stoi(m[1].str()));
      EXPECT_EQ(size.cy, std::stoi(m[2].str()));
    }
    EXPECT_TRUE(Decodes(preview));
  }
  EXPECT_GE(checked, 25);
}

TEST_F(ExifCorpus, UncompressedThumbnailsLookLikeTheirMainImage) {
  for (const char* name : {"jpeg_exif_uncompressed/FujiFilm_DS-7_(1).jpg", "jpeg_exif_uncompressed/sony-d700.jpg"}) {
    ZAN_REQUIRE_CORPUS_FILE(path, name);
    SCOPED_TRACE(name);
    const ExifBytes bytes = test::ReadFileBytes(path);
    const auto file = LoadFile(bytes);
    ASSERT_EQ(file->GetThumbnailCount(), 1);
    const ExifBytes preview = test::PreviewOf(*file, 0);
    const Bitmap32 thumb = test::DecodeBmpBytes(preview);
    // The main image brought to the thumbnail's size.
    TMemoryStream s(bytes.data(), bytes.size());
    const Bitmap32 main = test::ReadBack(JpegToThumbnail(s, thumb.Width(), thumb.Height(), 1, false));
    EXPECT_LT(test::CellDistance(thumb, main, 4), 24);
  }
}

TEST_F(ExifCorpus, TiffFilesYieldThePreviewsOfTheirDirectoryChain) {
  struct Case {
    const char* file;
    std::vector<TSize> previews;  // in tree order
  } cases[] = {
      // The thumbnail's strips were removed from this file: no preview
      // rather than a black one.
      {"tiff_raw/Nikon.nef", {}},
      // IFD0's JPEG is stored in strips (not read), IFD1's tag pair is a
      // 28-byte dummy, IFD2 is compressed.
      {"tiff_raw/CanonRaw.cr2", {}},
      {"tiff_raw/DNG.dng", {{8, 8}}},
      {"tiff_raw/testARW.arw", {{64, 48}, {32, 24}}},
      {"tiff_raw/testPEF.pef", {{32, 24}, {64, 48}}},
      {"tiff_raw/testNEF.nef", {{16, 12}}},
      // Its reduced image is in a SubIFD, which is not followed.
      {"tiff/ReaganLargeTiff.tiff", {}},
      {"generated/tiff/lzw_main_none_thumb.tif", {{160, 107}}},
      {"generated/tiff/rgb_none_ifd1thumb.tif", {{1200, 800}, {160, 107}}},
  };
  for (const Case& c : cases) {
    ZAN_REQUIRE_CORPUS_FILE(path, c.file);
    SCOPED_TRACE(c.file);
    const auto file = LoadFile(test::ReadFileBytes(path));
    ASSERT_NE(file, nullptr);
    EXPECT_STREQ(file->ClassName(), "TzanTiffMMFile");
    ASSERT_EQ(file->GetThumbnailCount(), static_cast<int32_t>(c.previews.size()));
    for (size_t i = 0; i < c.previews.size(); ++i) {
      EXPECT_EQ(file->GetThumbnailSize(static_cast<int32_t>(i)), c.previews[i]) << i;
      EXPECT_TRUE(Decodes(test::PreviewOf(*file, static_cast<int32_t>(i)))) << i;
    }
  }
}

TEST_F(ExifCorpus, CameraJpegOrientationsAreRead) {
  struct Case {
    const char* file;
    int32_t orientation;
  } cases[] = {{"jpeg_makernote/exiv2-nikon-d70.jpg", 6},
               {"jpeg_makernote/Leica_T_(Typ_701).jpg", 8},
               {"jpeg_makernote/Nikon_D100.jpg", 0},
               {"jpeg_exif/exiv2-bug443.jpg", 1}};
  for (const Case& c : cases) {
    ZAN_REQUIRE_CORPUS_FILE(path, c.file);
    const ExifBytes bytes = test::ReadFileBytes(path);
    TMemoryStream s(bytes.data(), bytes.size());
    EXPECT_EQ(JpegExifOrientation(s), c.orientation) << c.file;
    EXPECT_EQ(MainImageOrientation(*LoadFile(bytes)), c.orientation) << c.file;
  }
}

}  // namespace
}  // namespace zan
