// The shared module as a host sees it: loaded at run time, driven through
// its exports only.
#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>

#include "module/plugin_api.h"
#include "platform/dynamic_library.h"
#include "platform/process.h"
#include "platform/system.h"
#include "support/fixtures.h"

namespace zan {
namespace {

class ModuleHost : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(lib_.Open(ZAN_MODULE_PATH)) << lib_.Error();
    getW_ = reinterpret_cast<ListGetPreviewBitmapWProc>(lib_.Symbol("ListGetPreviewBitmapW"));
    getA_ = reinterpret_cast<ListGetPreviewBitmapProc>(lib_.Symbol("ListGetPreviewBitmap"));
    setParams_ = reinterpret_cast<ListSetDefaultParamsProc>(lib_.Symbol("ListSetDefaultParams"));
    getObject_ = reinterpret_cast<decltype(&zanGdiGetObject)>(lib_.Symbol("zanGdiGetObject"));
    getBits_ = reinterpret_cast<decltype(&zanGdiGetDIBits32)>(lib_.Symbol("zanGdiGetDIBits32"));
    delete_ = reinterpret_cast<decltype(&zanGdiDeleteObject)>(lib_.Symbol("zanGdiDeleteObject"));
    live_ = reinterpret_cast<decltype(&zanGdiLiveObjects)>(lib_.Symbol("zanGdiLiveObjects"));
    ASSERT_TRUE(getW_ && getA_ && setParams_ && getObject_ && getBits_ && delete_ && live_);
  }

  void Announce(int32_t version) {
    ListDefaultParamStruct p{};
    p.size = sizeof p;
    p.PluginInterfaceVersionLow = 5;
    p.PluginInterfaceVersionHi = version;
    setParams_(&p);
  }

  std::vector<uint32_t> Pixels(ZanHBITMAP h, ZanBitmapInfo& info) {
    EXPECT_NE(getObject_(h, &info), 0);
    std::vector<uint32_t> px(size_t(info.width) * size_t(info.height));
    EXPECT_EQ(getBits_(h, 0, info.height, px.data()), info.height);
    return px;
  }

  DynamicLibrary lib_;
  ListGetPreviewBitmapWProc getW_ = nullptr;
  ListGetPreviewBitmapProc getA_ = nullptr;
  ListSetDefaultParamsProc setParams_ = nullptr;
  decltype(&zanGdiGetObject) getObject_ = nullptr;
  decltype(&zanGdiGetDIBits32) getBits_ = nullptr;
  decltype(&zanGdiDeleteObject) delete_ = nullptr;
  decltype(&zanGdiLiveObjects) live_ = nullptr;
  test::TempDir dir_;
};

TEST_F(ModuleHost, ExportsExactlyThePluginFunctionsAndTheGdiStandIn) {
  std::string listing;
  ASSERT_EQ(RunCommand(std::string("nm -D --defined-only ") + ZAN_MODULE_PATH, listing), 0);
  std::set<std::string> names;
  std::istringstream lines(listing);
  for (std::string s; std::getline(lines, s);) {
    const size_t sp = s.rfind(' ');
    const std::string name = sp == std::string::npos ? s : s.substr(sp + 1);
    if (name.find('@') != std::string::npos) continue;  // version nodes
    names.insert(name);
  }
  const std::set<std::string> expected = {
      "ListGetPreviewBitmapW",  "ListGetPreviewBitmap",   "ListSetDefaultParams", "ListGetDetectString",
      "zanGdiCreateDIBSection32", "zanGdiCreateCompatibleBitmap", "zanGdiFillRect",
      "zanGdiGetObject",        "zanGdiGetDIBits32",      "zanGdiDeleteObject",
      "zanGdiLiveObjects"};
  std::set<std::string> plugin;
  for (const auto& n : names)
    if (n.rfind("List", 0) == 0 || n.rfind("zanGdi", 0) == 0) plugin.insert(n);
  EXPECT_EQ(names, plugin) << "nothing but the plug-in's functions is exported";
  for (const auto& n : expected) EXPECT_TRUE(names.count(n)) << n;
}

TEST_F(ModuleHost, VersionTwoGetsAlphaOthersGetOpaqueOnWhite) {
  Bitmap32 picture(8, 8);
  picture.Clear(0);
  picture.FillRect(2, 2, 6, 6, 0xFF00FF00u);
  const std::string file = dir_.Write("alpha.png", test::MakePng(picture, true));
  const std::u16string name = Utf8ToUtf16(file);

  struct Case {
    int32_t version;  // -1: the host never calls ListSetDefaultParams
    int32_t kind;
    uint32_t corner;
  };
  for (const Case c : {Case{2, ZAN_BITMAP_DIB_SECTION, 0u}, Case{1, ZAN_BITMAP_DEVICE, 0x00FFFFFFu},
                       Case{-1, ZAN_BITMAP_DEVICE, 0x00FFFFFFu}}) {
    // Load afresh for each host so that "never told" really means never told.
    SetUp();
    if (c.version >= 0) Announce(c.version);
    ZanHBITMAP h = getW_(reinterpret_cast<const ZanWChar*>(name.c_str()), 64, 64, nullptr, 0);
    ASSERT_NE(h, nullptr);
    ZanBitmapInfo info{};
    const auto px = Pixels(h, info);
    EXPECT_EQ(info.kind, c.kind) << c.version;
    EXPECT_EQ(info.width, 8);
    EXPECT_EQ(px[0], c.corner) << c.version;
    EXPECT_EQ(px[4 * 8 + 4] & 0x00FFFFFFu, 0x0000FF00u);
    EXPECT_EQ(delete_(h), 1);
  }
}

TEST_F(ModuleHost, AnsiNameContentBufferAndMissingFiles) {
  Announce(2);
  const std::string file = dir_.Write("photo \xC3\xA9t\xC3\xA9.jpg", test::MakeJpeg(120, 80));
  const std::u16string wide = Utf8ToUtf16(file);
  char garbage[16] = "not the file";
  ZanHBITMAP a = getA_(file.c_str(), 48, 48, garbage, 12345);
  ZanHBITMAP w = getW_(reinterpret_cast<const ZanWChar*>(wide.c_str()), 48, 48, nullptr, 0);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(w, nullptr);
  EXPECT_NE(a, w) << "each call returns its own bitmap";
  ZanBitmapInfo ia{}, iw{};
  EXPECT_EQ(Pixels(a, ia), Pixels(w, iw));
  EXPECT_EQ(ia.width, 48);
  EXPECT_EQ(ia.height, 32);
  delete_(a);
  delete_(w);

  EXPECT_EQ(getA_((file + ".missing").c_str(), 48, 48, nullptr, 0), nullptr);
  EXPECT_EQ(getA_(dir_.Path("").c_str(), 48, 48, nullptr, 0), nullptr) << "a folder is not a file";
  EXPECT_EQ(getW_(nullptr, 48, 48, nullptr, 0), nullptr);
  EXPECT_EQ(getA_(nullptr, 48, 48, nullptr, 0), nullptr);
}

}  // namespace
}  // namespace zan
