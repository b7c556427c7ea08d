#include <gtest/gtest.h>

#include "front/render.h"
#include "support/host.h"

namespace zan {
namespace {

struct SizeCase {
  int32_t w, h, mw, mh, ew, eh;
};

TEST(FrontCalcThumbnailSize, FitsTheBoxAndTouchesIt) {
  const SizeCase cases[] = {
      {100, 50, 256, 256, 256, 128},  // enlarged when the function is used
      {1000, 10, 100, 100, 100, 1},   {10, 1000, 100, 100, 1, 100},    {300, 200, 96, 96, 96, 64},
      {200, 300, 96, 96, 64, 96},     {4000, 3000, 256, 256, 256, 192}, {0, 10, 100, 100, 0, 0},
      {10, 0, 100, 100, 0, 0},        {5000, 1, 100, 100, 100, 1},      {1, 5000, 100, 100, 1, 100},
      // halves round to even: 3 x 5 / 2 = 7.5 -> 8, 5 x 5 / 2 = 12.5 -> 12
      {2, 5, 3, 100, 3, 8},           {2, 5, 5, 100, 5, 12},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CalcThumbnailSize(c.w, c.h, c.mw, c.mh), (ThumbSize{c.ew, c.eh}))
        << c.w << "x" << c.h << " in " << c.mw << "x" << c.mh;
  }
}

}  // namespace
}  // namespace zan

namespace zan {
namespace {

// A rendered metafile leaves alpha 0 where it drew nothing: that area is
// transparent for hosts that take alpha and white for the others.
TEST(FrontGraphicToThumbnail, MetafileBackgroundFollowsTheHost) {
  Graphic g;
  g.kind = GraphicKind::Metafile;
  g.bitmap.SetSize(4, 2);
  g.bitmap.Clear(0);
  g.bitmap.SetPixel(1, 1, 0xFF102030u);
  for (int version : {1, 2}) {
    test::HostVersion host(version);
    const Bitmap32 out = test::ReadBack(GraphicToThumbnail(g, 16, 16, 0, false));
    ASSERT_EQ(out.Width(), 4) << version;
    EXPECT_EQ(out.Pixel(1, 1) & 0xFFFFFFu, 0x102030u) << version;
    EXPECT_EQ(out.Pixel(0, 0), version == 2 ? 0u : 0x00FFFFFFu) << version;
  }
}

}  // namespace
}  // namespace zan
