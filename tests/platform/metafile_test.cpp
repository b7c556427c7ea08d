// Metafile headers: natural sizes of placeable WMF and EMF files.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <vector>

#include "platform/codecs.h"

namespace zan {
namespace {

void Put(std::vector<uint8_t>& b, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) b.push_back(uint8_t(v >> (8 * i)));
}

std::vector<uint8_t> Placeable(int16_t left, int16_t top, int16_t right, int16_t bottom, uint16_t inch) {
  std::vector<uint8_t> b = {0xD7, 0xCD, 0xC6, 0x9A, 0, 0};
  for (int16_t v : {left, top, right, bottom}) Put(b, uint16_t(v), 2);
  Put(b, inch, 2);
  Put(b, 0, 4);
  Put(b, 0, 2);  // checksum, not checked
  Put(b, 0x00090001, 4);  // the start of a metafile header record
  return b;
}

std::vector<uint8_t> Emf(std::array<int32_t, 4> bounds, std::array<int32_t, 4> frame) {
  std::vector<uint8_t> b;
  Put(b, 1, 4);    // EMR_HEADER
  Put(b, 108, 4);  // record size
  for (int32_t v : bounds) Put(b, uint32_t(v), 4);
  for (int32_t v : frame) Put(b, uint32_t(v), 4);
  Put(b, 0x464D4520, 4);  // " EMF"
  while (b.size() < 108) b.push_back(0);
  return b;
}

TEST(PlatformMetafile, NaturalSizes) {
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    bool ok;
    int32_t w, h;
  };
  const Case cases[] = {
      {"wmf 1440 units per inch", Placeable(0, 0, 2880, 1440, 1440), true, 192, 96},
      {"wmf with origin", Placeable(-100, 50, 900, 550, 1000), true, 96, 48},
      {"wmf upside down box", Placeable(0, 1440, 1440, 0, 1440), true, 96, 96},
      {"wmf rounding", Placeable(0, 0, 15, 5, 1000), true, 1, 0},  // 1.44 and 0.48
      {"wmf zero units per inch", Placeable(0, 0, 100, 100, 0), false, 0, 0},
      // 100 mm x 50 mm at 96 dpi
      {"emf frame", Emf({0, 0, 377, 188}, {0, 0, 10000, 5000}), true, 378, 189},
      {"emf empty frame uses bounds", Emf({10, 20, 109, 69}, {0, 0, 0, 0}), true, 100, 50},
      {"emf nothing usable", Emf({10, 20, 5, 5}, {0, 0, 0, 0}), false, 0, 0},
      {"too short", {0xD7, 0xCD, 0xC6, 0x9A, 0, 0, 0, 0}, false, 0, 0},
      {"other data", std::vector<uint8_t>(120, 0x41), false, 0, 0},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> bytes(3 + c.bytes.size(), 0xEE);  // read from an offset, which is kept
    std::copy(c.bytes.begin(), c.bytes.end(), bytes.begin() + 3);
    TReadOnlyMemoryStream s(bytes.data(), bytes.size());
    s.SetPosition(3);
    int32_t w = -1, h = -1;
    EXPECT_EQ(MetafileSize(s, w, h), c.ok) << c.name;
    if (c.ok) {
      EXPECT_EQ(w, c.w) << c.name;
      EXPECT_EQ(h, c.h) << c.name;
    }
    EXPECT_EQ(s.Position(), 3) << c.name;
  }
}

TEST(PlatformMetafile, NoRendererYet) {
  const std::vector<uint8_t> wmf = Placeable(0, 0, 1440, 1440, 1440);
  TReadOnlyMemoryStream s(wmf.data(), wmf.size());
  EXPECT_TRUE(MetafileRender(s).Empty());
}

}  // namespace
}  // namespace zan
