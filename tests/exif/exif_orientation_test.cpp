// Orientation: plain JPEG decoding honours the file's own EXIF orientation,
// and previews that record none take the main image's.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "exif/exif_test_support.h"
#include "exif/tiff_builder.h"
#include "front/choice.h"
#include "front/decode.h"
#include "front/graphic.h"
#include "support/fixtures.h"
#include "support/host.h"

namespace zan {
namespace {

using test::ExifBytes;
using test::JpegWithExif;
using test::TiffBuilder;

constexpr uint32_t kRed = 0xFF0000, kBlue = 0x0000FF;

// A picture whose left half is red and whose right half is blue.
Bitmap32 Halves(int32_t w, int32_t h) {
  Bitmap32 b(w, h);
  b.Clear(0xFF000000u | kBlue);
  b.FillRect(0, 0, w / 2, h, 0xFF000000u | kRed);
  return b;
}

ExifBytes HalvesJpeg(int32_t w, int32_t h) {
  TMemoryStream s;
  JpegEncode(s, Halves(w, h), 95);
  return ExifBytes(s.Memory(), s.Memory() + s.GetSize());
}

// The colour nearest to red or blue of a pixel.
uint32_t Hue(const Bitmap32& b, int32_t x, int32_t y) {
  const uint32_t p = b.Pixel(x, y);
  return ((p >> 16) & 0xFF) > (p & 0xFF) ? kRed : kBlue;
}

// Where the red half ended up: "left", "right", "top" or "bottom".
std::string RedSide(const Bitmap32& b) {
  const int32_t w = b.Width(), h = b.Height();
  if (Hue(b, 1, h / 2) == kRed && Hue(b, w - 2, h / 2) == kBlue) return "left";
  if (Hue(b, 1, h / 2) == kBlue && Hue(b, w - 2, h / 2) == kRed) return "right";
  if (Hue(b, w / 2, 1) == kRed && Hue(b, w / 2, h - 2) == kBlue) return "top";
  if (Hue(b, w / 2, 1) == kBlue && Hue(b, w / 2, h - 2) == kRed) return "bottom";
  return "?";
}

class ExifOrientation : public test::ExifUnitTest {
 protected:
  static Bitmap32 Plain(const ExifBytes& jpeg, int32_t orientation) {
    TMemoryStream s(jpeg.data(), jpeg.size());
    return test::ReadBack(JpegToThumbnail(s, 64, 64, orientation, false));
  }
  static Bitmap32 Registered(const ExifBytes& file, int32_t box) {
    TMemoryStream s(file.data(), file.size());
    return test::ReadBack(RegisteredFileToThumbnail(s, box, box));
  }
  // IFD0 with an orientation (0: none), IFD1 with a JPEG thumbnail and
  // optionally an orientation of its own.
  static ExifBytes Block(uint16_t orientation, const ExifBytes& thumb, uint16_t ifd1Orientation = 0) {
    TiffBuilder b(false);
    auto& ifd0 = b.AddIfd();
    if (orientation != 0) ifd0.entries.push_back(b.Short(274, {orientation}));
    const int blob = b.AddBlob(thumb);
    auto& ifd1 = b.AddIfd();
    ifd1.entries = {b.BlobOffset(513, blob), b.Long(514, {static_cast<uint32_t>(thumb.size())})};
    if (ifd1Orientation != 0) ifd1.entries.push_back(b.Short(274, {ifd1Orientation}));
    return b.Build();
  }

  test::HostVersion host_{2};
};

TEST_F(ExifOrientation, PlainDecodingTurnsAJpegByItsOwnOrientation) {
  const ExifBytes jpeg = JpegWithExif({Block(6, test::SmallJpeg())}, HalvesJpeg(64, 32));
  const Bitmap32 turned = Plain(jpeg, 0);
  ASSERT_EQ(turned.Width(), 32);
  ASSERT_EQ(turned.Height(), 64);
  EXPECT_EQ(RedSide(turned), "top") << "a quarter turn clockwise";
  const Bitmap32 asGiven = Plain(jpeg, 1);
  ASSERT_EQ(asGiven.Width(), 64);
  EXPECT_EQ(RedSide(asGiven), "left") << "a given orientation is used as is";
  EXPECT_EQ(RedSide(Plain(JpegWithExif({Block(0, test::SmallJpeg())}, HalvesJpeg(64, 32)), 0)), "left");
}

TEST_F(ExifOrientation, ThumbnailsWithoutTheirOwnOrientationTakeTheMainImages) {
  const ExifBytes thumb = HalvesJpeg(64, 32);
  const ExifBytes file = JpegWithExif({Block(6, thumb)}, test::MakeJpeg(640, 480));
  const Bitmap32 out = Registered(file, 64);
  ASSERT_EQ(out.Width(), 32);
  ASSERT_EQ(out.Height(), 64);
  EXPECT_EQ(RedSide(out), "top");

  EXPECT_EQ(RedSide(Registered(JpegWithExif({Block(6, thumb, 1)}, test::MakeJpeg(640, 480)), 64)), "left")
      << "a thumbnail with its own orientation keeps it";
  EXPECT_EQ(RedSide(Registered(JpegWithExif({Block(3, thumb, 8)}, test::MakeJpeg(640, 480)), 64)), "bottom");

  Hooks().mainImageOrientation = nullptr;
  EXPECT_EQ(RedSide(Registered(file, 64)), "left") << "without the main image's orientation it lies on its side";
}

TEST_F(ExifOrientation, TiffPreviewsTakeIfd0sOrientation) {
  // IFD0 a 320 x 160 strip image turned by 8, IFD1 a 32 x 16 one without a tag 274.
  auto strip = [](TiffBuilder& b, uint32_t w, uint32_t h) {
    ExifBytes rgb;
    for (uint32_t y = 0; y < h; ++y)
      for (uint32_t x = 0; x < w; ++x) rgb.insert(rgb.end(), {uint8_t(x < w / 2 ? 255 : 0), 0, uint8_t(x < w / 2 ? 0 : 255)});
    const int blob = b.AddBlob(rgb);
    return std::vector<TiffBuilder::Entry>{b.Long(256, {w}),   b.Long(257, {h}),         b.Short(258, {8, 8, 8}),
                                           b.Short(259, {1}),  b.Short(262, {2}),        b.BlobOffset(273, blob),
                                           b.Short(277, {3}),  b.Long(279, {static_cast<uint32_t>(rgb.size())})};
  };
  TiffBuilder b(true);
  auto ifd0 = strip(b, 320, 160);
  ifd0.push_back(b.Short(274, {8}));
  b.AddIfd().entries = ifd0;
  b.AddIfd().entries = strip(b, 32, 16);
  const ExifBytes tiff = b.Build();
  const Bitmap32 small = Registered(tiff, 28);
  ASSERT_EQ(small.Width(), 14) << "IFD1's preview";
  EXPECT_EQ(RedSide(small), "bottom") << "turned a quarter counter-clockwise";
  const Bitmap32 large = Registered(tiff, 300);
  ASSERT_EQ(large.Width(), 150) << "IFD0's preview";
  EXPECT_EQ(RedSide(large), "bottom") << "by its own orientation";
}

// ---- the generated files: IFD0 orientation, IFD1 thumbnail, upright references ----------

Bitmap32 ReadPng(const std::string& path) {
  const ExifBytes bytes = test::ReadFileBytes(path);
  TMemoryStream s(bytes.data(), bytes.size());
  return PngToBitmap32(PngRead(s));
}

TEST_F(ExifOrientation, GeneratedTurnedPhotosComeOutUpright) {
  for (int n = 1; n <= 8; ++n) {
    const std::string name = "orient_" + std::to_string(n);
    ZAN_REQUIRE_CORPUS_FILE(path, "generated/jpeg/" + name + ".jpg");
    const std::string ref = (*path_dir / "generated/ref").string() + "/" + name;
    const ExifBytes file = test::ReadFileBytes(path);
    const bool portrait = n >= 5;

    // The IFD1 thumbnail (the file's only preview), at its own size.
    const Bitmap32 thumb = Registered(file, 160);
    ASSERT_EQ(thumb.Width(), portrait ? 120 : 160) << name;
    ASSERT_EQ(thumb.Height(), portrait ? 160 : 120) << name;
    EXPECT_LT(test::CellDistance(thumb, ReadPng(ref + "_upright_thumb.png")), 24) << name;

    // The plain decode of the main image, in a box of the reference's shape.
    const Bitmap32 upright = ReadPng(ref + "_upright.png");
    TMemoryStream s(file.data(), file.size());
    const Bitmap32 main = test::ReadBack(JpegToThumbnail(s, upright.Width() / 8, upright.Height() / 8, 0, false));
    ASSERT_EQ(main.Width(), upright.Width() / 8) << name;
    ASSERT_EQ(main.Height(), upright.Height() / 8) << name;
    EXPECT_LT(test::CellDistance(main, upright), 24) << name;
  }
}

}  // namespace
}  // namespace zan
