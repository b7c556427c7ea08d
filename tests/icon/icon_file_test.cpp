// Icon and cursor files: loading their images through the adapter, images
// that cannot be read, the memory one file may claim, saving, and the choice
// of the image for a box.
#include <gtest/gtest.h>

#include <vector>

#include "icon/icon.h"
#include "icon/icon_fixtures.h"

namespace zan {
namespace {

using test::DibSpec;
using test::IcoEntry;
using test::MakeDib;
using test::MakeIco;

std::unique_ptr<TzanIcon> LoadIcon(const std::vector<uint8_t>& file) {
  auto icon = std::make_unique<TzanIcon>();
  TMemoryStream s(file.data(), file.size());
  icon->LoadFromStream(s);
  return icon;
}

uint32_t Gradient(int32_t x, int32_t y) { return 0xFF000000u | (uint32_t(x) << 16) | (uint32_t(y) << 8) | 0x40; }

TEST(IconFile, AdapterAcceptsIcoAndCurHeadersOnly) {
  const TzanIconIcoCurStreamAdapter& adapter = TzanIconIcoCurStreamAdapter::Instance();
  EXPECT_EQ(adapter.GetExtensionCount(), 2);
  EXPECT_EQ(adapter.GetExtension(0), "ico");
  EXPECT_EQ(adapter.GetExtension(1), "cur");
  struct Case {
    std::vector<uint8_t> bytes;
    bool accepted;
  };
  const Case cases[] = {
      {{0, 0, 1, 0, 0, 0}, true},
      {{0, 0, 2, 0, 0xFF, 0xFF}, true},  // the count is not looked at
      {{0, 0, 3, 0, 1, 0}, false},
      {{1, 0, 1, 0, 1, 0}, false},
      {{'B', 'A', 0x5C, 0, 0, 0}, false},
  };
  for (const Case& c : cases) {
    TMemoryStream s(c.bytes.data(), c.bytes.size());
    EXPECT_EQ(adapter.CanLoadFromStream(s), c.accepted) << int(c.bytes[2]);
    // Whatever the adapter says, loading never raises and leaves no image.
    const auto icon = LoadIcon(c.bytes);
    EXPECT_EQ(icon->IconCount(), 0);
    EXPECT_EQ(icon->IconIndex(), -1);
    EXPECT_TRUE(icon->Empty());
    EXPECT_EQ(icon->Width(), 0);
  }
  EXPECT_EQ(LoadIcon({0, 0, 1})->IconCount(), 0);  // header cut short
}

TEST(IconFile, ImagesInFileOrderWithTypeAndHotSpots) {
  const auto file = MakeIco({IcoEntry{MakeDib(test::SolidDib(16, 16, 32, 0xFF0000FF)), 1, 2},
                             IcoEntry{MakeDib(test::SolidDib(32, 32, 32, 0xFF00FF00)), 30, 31}},
                            2);
  const auto icon = LoadIcon(file);
  EXPECT_EQ(icon->Type_(), TzanIconType::itCursor);
  ASSERT_EQ(icon->IconCount(), 2);
  EXPECT_EQ(icon->IconIndex(), 0);
  EXPECT_EQ(icon->Width(), 16);
  EXPECT_EQ(icon->XHotSpot(), 1);
  EXPECT_EQ(icon->YHotSpot(), 2);
  EXPECT_EQ(icon->Icons(1)->Width(), 32);
  EXPECT_EQ(icon->Icons(1)->Type_(), TzanIconType::itCursor);
  EXPECT_EQ(icon->Icons(1)->XHotSpot(), 30);
  icon->SetIconIndex(1);
  EXPECT_EQ(icon->YHotSpot(), 31);
  EXPECT_THROW(icon->SetIconIndex(2), Exception);

  EXPECT_EQ(LoadIcon(MakeIco({}))->IconCount(), 0);  // no images: empty, no exception
}

TEST(IconFile, BrokenImageLosesOnlyItself) {
  // First and last images are good; the middle one is broken in each way.
  const std::vector<uint8_t> first = MakeDib(test::SolidDib(16, 16, 8, 1, {0, 0xFF0000}));
  const std::vector<uint8_t> last = MakeDib(test::SolidDib(32, 32, 24, 0x00FF00));
  const DibSpec middle = test::SolidDib(24, 24, 4, 3, {0, 0, 0, 0x0000FF});
  auto bent = [&](auto change) {
    DibSpec d = middle;
    change(d);
    return MakeDib(d);
  };
  const std::vector<uint8_t> png = test::PngBytes(test::RgbaPng(20, 20, Gradient));
  struct Case {
    const char* name;
    IcoEntry entry;
    std::vector<uint8_t> tail = {};  // when set: appended to the file, and the entry points at it
  };
  auto half = [](std::vector<uint8_t> d) {
    d.resize(d.size() / 2);
    return d;
  };
  const Case cases[] = {
      {"offset beyond the end", IcoEntry{MakeDib(middle), 1, 4, 0x00FFFFFF}},
      {"offset 0xFFFFFFFF", IcoEntry{MakeDib(middle), 1, 4, 0xFFFFFFFFu}},
      {"image running past the end", IcoEntry{MakeDib(middle)}, half(MakeDib(middle))},
      {"PNG cut at the end", IcoEntry{MakeDib(middle)}, half(png)},
      {"odd height", IcoEntry{bent([](DibSpec& d) { d.headerHeight = 47; })}},
      {"zero height", IcoEntry{bent([](DibSpec& d) { d.headerHeight = 0; })}},
      {"bit count 7", IcoEntry{bent([](DibSpec& d) { d.headerBitCount = 7; })}},
      {"bit count 48", IcoEntry{bent([](DibSpec& d) { d.headerBitCount = 48; })}},
      {"PNG cut before the next image", IcoEntry{std::vector<uint8_t>(png.begin(), png.begin() + 60)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> file = MakeIco({IcoEntry{first}, c.entry, IcoEntry{last}});
    if (!c.tail.empty()) {
      const uint32_t offset = static_cast<uint32_t>(file.size());
      for (int k = 0; k < 4; ++k) file[size_t(6 + 16 + 12 + k)] = uint8_t(offset >> (8 * k));
      file.insert(file.end(), c.tail.begin(), c.tail.end());
    }
    const auto icon = LoadIcon(file);
    ASSERT_EQ(icon->IconCount(), 2);
    EXPECT_EQ(icon->IconIndex(), 0);
    EXPECT_EQ(icon->Icons(0)->Width(), 16);
    EXPECT_EQ(icon->Icons(1)->Width(), 32);
    EXPECT_EQ(icon->Icons(1)->GetPixelColor(31, 31), IconRgba(0, 255, 0, 255));
  }
}

TEST(IconFile, DeclaredCountBeyondTheEntries) {
  const std::vector<uint8_t> a = MakeDib(test::SolidDib(16, 16, 32, 0xFF0000FF));
  const std::vector<uint8_t> b = MakeDib(test::SolidDib(8, 8, 32, 0xFF00FF00));
  for (uint16_t count : {3, 100, 65535}) {
    const auto icon = LoadIcon(MakeIco({IcoEntry{a}, IcoEntry{b}}, 1, count));
    ASSERT_EQ(icon->IconCount(), 2) << count;
    EXPECT_EQ(icon->Icons(1)->Width(), 8);
  }
  // A file that ends inside its directory.
  std::vector<uint8_t> cut = MakeIco({IcoEntry{a}, IcoEntry{b}});
  cut.resize(6 + 16 + 10);
  EXPECT_EQ(LoadIcon(cut)->IconCount(), 0);
}

TEST(IconFile, ManyEntriesOnOneImageCannotMultiplyMemory) {
  // 3000 entries that all point at one 512 x 512 32-bit image of about 1 MB:
  // read every time, they would hold 3 GB.
  const std::vector<uint8_t> dib = MakeDib(test::SolidDib(512, 512, 32, 0xFF123456));
  std::vector<IcoEntry> entries(3000);
  const uint32_t offset = 6 + 16 * 3000;
  for (auto& e : entries) e.offset = offset;
  entries[0].data = dib;
  const std::vector<uint8_t> file = MakeIco(entries);
  const auto icon = LoadIcon(file);
  const int64_t budget = std::max(kIconMemoryFloor, kIconMemoryPerFileByte * int64_t(file.size()));
  int64_t held = 0;
  for (int32_t i = 0; i < icon->IconCount(); ++i) held += icon->Icons(i)->MemorySize();
  EXPECT_GT(icon->IconCount(), 10);
  EXPECT_LT(icon->IconCount(), 3000);
  EXPECT_LE(held, budget);

  // The same for a small PNG that decodes to 2048 x 2048: its size is known
  // from its header, before it is decoded again and again.
  PngImage big;
  big.width = big.height = 2048;
  big.colorType = PngImage::kRGBA;
  big.Allocate();
  const std::vector<uint8_t> png = test::PngBytes(big);
  ASSERT_LT(png.size(), 100000u);
  std::vector<IcoEntry> pngEntries(200);
  for (auto& e : pngEntries) e.offset = 6 + 16 * 200;
  pngEntries[0].data = png;
  const auto pngIcon = LoadIcon(MakeIco(pngEntries));
  EXPECT_GE(pngIcon->IconCount(), 1);
  EXPECT_LE(pngIcon->IconCount(), 4);
}

TEST(IconFile, SavedFileLoadsBackTheSameImages) {
  DibSpec masked = test::SolidDib(16, 16, 4, 2, {0, 0x112233, 0x445566});
  masked.mask.assign(256, 0);
  masked.mask[17] = 1;
  const std::vector<uint8_t> png = test::PngBytes(test::RgbaPng(40, 30, Gradient));
  const auto original = LoadIcon(MakeIco({IcoEntry{MakeDib(masked), 3, 4},
                                          IcoEntry{MakeDib(test::SolidDib(33, 5, 24, 0xABCDEF)), 5, 6},
                                          IcoEntry{png, 7, 8}},
                                         2));
  ASSERT_EQ(original->IconCount(), 3);
  original->AddIcon(std::make_shared<TzanIconObject>());  // empty: not written

  TMemoryStream saved;
  original->SaveToStream(saved);
  saved.SetPosition(0);
  TzanIcon copy;
  copy.LoadFromStream(saved);
  EXPECT_EQ(copy.Type_(), TzanIconType::itCursor);
  ASSERT_EQ(copy.IconCount(), 3);
  for (int32_t i = 0; i < 3; ++i) {
    const TzanIconObject& a = *original->Icons(i);
    const TzanIconObject& b = *copy.Icons(i);
    SCOPED_TRACE(i);
    EXPECT_EQ(b.Width(), a.Width());
    EXPECT_EQ(b.Height(), a.Height());
    EXPECT_EQ(b.BitCount(), a.BitCount());
    EXPECT_EQ(b.XHotSpot(), a.XHotSpot());
    EXPECT_EQ(b.YHotSpot(), a.YHotSpot());
    EXPECT_EQ(b.PNGStream(), a.PNGStream());
    for (int32_t y = 0; y < a.Height(); ++y)
      for (int32_t x = 0; x < a.Width(); ++x) ASSERT_EQ(b.GetPixelColor(x, y), a.GetPixelColor(x, y)) << x << "," << y;
  }
  EXPECT_EQ(copy.Icons(2)->PNGStream(), png);
}

TEST(IconChoice, ClosestAreaThenDeepestThenLast) {
  struct Image {
    int32_t w, h, bits;
  };
  struct Case {
    std::vector<Image> images;
    int32_t boxW, boxH;
    int32_t expected;
  };
  const Case cases[] = {
      {{{16, 16, 4}, {32, 32, 4}, {32, 32, 32}}, 32, 32, 2},
      {{{32, 32, 32}, {32, 32, 32}}, 32, 32, 1},           // equal: the later one
      {{{32, 32, 32}, {32, 32, 8}}, 32, 32, 0},            // a later, shallower one does not win
      {{{32, 32, 8}, {32, 32, 32}, {32, 32, 4}}, 32, 32, 1},
      {{{16, 16, 32}, {48, 48, 1}}, 32, 32, 1},            // closer area beats depth
      {{{64, 64, 1}, {16, 16, 32}}, 32, 32, 0},            // |1 - 1/4| < |1 - 4|
      {{{48, 50, 8}, {80, 90, 4}}, 60, 60, 0},             // both 0.5 away: the deeper
      {{{48, 50, 4}, {80, 90, 4}}, 60, 60, 1},             // both 0.5 away, equal depth: the later
      {{{100, 50, 8}, {50, 100, 8}}, 100, 50, 1},          // only the area counts, not the shape
      {{{256, 256, 32}, {48, 48, 32}, {16, 16, 32}}, 40, 40, 1},
      {{{256, 256, 32}, {48, 48, 32}}, 200, 200, 0},
      {{{16, 16, 8}, {32, 32, 8}}, 0, 0, 1},               // an empty box: every image 1 away
      {{}, 32, 32, -1},
  };
  for (const Case& c : cases) {
    TzanIcon icon;
    for (const Image& im : c.images) icon.AddIcon(std::make_shared<TzanIconObject>(im.w, im.h, im.bits));
    EXPECT_EQ(ChooseIconImage(icon, c.boxW, c.boxH), c.expected)
        << c.images.size() << " images, box " << c.boxW << "x" << c.boxH;
  }
}

}  // namespace
}  // namespace zan
