// The command-line tool, run as a user runs it.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "platform/codecs.h"
#include "platform/process.h"
#include "support/fixtures.h"

namespace zan {
namespace {

struct CliRun {
  int status;
  std::string out;
};

CliRun Cli(const std::string& args) {
  CliRun r{-1, {}};
  r.status = RunCommand(std::string(ZAN_CLI_PATH) + " " + args + " 2>&1", r.out);
  return r;
}

std::string Q(const std::string& s) { return "'" + s + "'"; }

PngImage ReadPng(const std::string& path) {
  const auto bytes = test::ReadFileBytes(path);
  TMemoryStream s(bytes.data(), bytes.size());
  return PngRead(s);
}

TEST(CliThumb, WritesPngsAndReportsByExitStatus) {
  test::TempDir dir;
  const std::string jpg = dir.Write("a.jpg", test::MakeJpeg(400, 300));
  const std::string bad = dir.Write("b.dat", std::vector<uint8_t>(100, 7));

  CliRun r = Cli("thumb " + Q(jpg) + " -s 100x80 -o " + Q(dir.Path("a.png")));
  EXPECT_EQ(r.status, 0) << r.out;
  PngImage png = ReadPng(dir.Path("a.png"));
  EXPECT_EQ(png.width, 100);
  EXPECT_EQ(png.height, 75);
  EXPECT_EQ(png.colorType, PngImage::kRGBA) << "version 2 hosts get alpha";

  r = Cli("thumb " + Q(jpg) + " -s 64 --host-version 1 -o " + Q(dir.Path("b.png")));
  EXPECT_EQ(r.status, 0) << r.out;
  png = ReadPng(dir.Path("b.png"));
  EXPECT_EQ(png.width, 64);
  EXPECT_EQ(png.colorType, PngImage::kRGB);

  r = Cli("thumb " + Q(jpg) + " " + Q(bad) + " -d " + Q(dir.Path("out")));
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_NE(r.out.find("b.dat"), std::string::npos) << "the failing file is named";
  EXPECT_EQ(ReadPng(dir.Path("out/a.jpg.png")).width, 256);
}

TEST(CliThumb, UsageAndIoErrorsExitTwoWithOneLine) {
  test::TempDir dir;
  const std::string jpg = dir.Write("a.jpg", test::MakeJpeg(40, 30));
  const std::string cases[] = {
      "thumb",
      "thumb " + Q(dir.Path("missing.jpg")),
      "thumb " + Q(jpg) + " -s 0x10",
      "thumb " + Q(jpg) + " -s big",
      "thumb " + Q(jpg) + " --host-version 3",
      "thumb " + Q(jpg) + " " + Q(jpg) + " -o x.png",
      "thumb " + Q(jpg) + " -o " + Q(dir.Path("no/such/dir/x.png")),
      "frobnicate",
      "list",
      "extract " + Q(jpg),
  };
  for (const auto& args : cases) {
    const CliRun r = Cli(args);
    EXPECT_EQ(r.status, 2) << args << "\n" << r.out;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << args << "\n" << r.out;
  }
  for (const char* cmd : {"thumb --help", "list --help", "extract --help", "--help"}) {
    const CliRun r = Cli(cmd);
    EXPECT_EQ(r.status, 0) << cmd;
    EXPECT_NE(r.out.find("usage:"), std::string::npos) << cmd;
  }
}

TEST(CliList, PlainFileHasNoClassAndNoPreviews) {
  test::TempDir dir;
  const std::string png = dir.Write("a.png", test::MakePng(test::TestPattern(10, 10), false));
  CliRun r = Cli("list " + Q(png) + " --json");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out, "{\"class\": null, \"previews\": []}\n");
  r = Cli("extract " + Q(png) + " -i 0 -o " + Q(dir.Path("x")));
  EXPECT_EQ(r.status, 1) << r.out;
}

}  // namespace
}  // namespace zan

namespace zan {
namespace {

// Real camera and raw files through the module, which is unloaded when the
// tool ends: every one gives a thumbnail and the tool exits cleanly.
TEST(CliThumb, CameraAndRawFilesEndCleanly) {
  auto dir = test::CorpusDir();
  if (!dir) GTEST_SKIP() << "corpus absent";
  std::string files;
  for (const char* f : {"jpeg_makernote/Nikon_D100.jpg", "jpeg_exif/exiv2-bug443.jpg", "tiff_raw/testARW.arw",
                        "psd/testPSD2.psd", "ico_cur/deerstalker.cur"}) {
    if (std::filesystem::exists(*dir / f)) files += " " + Q((*dir / f).string());
  }
  if (files.empty()) GTEST_SKIP() << "corpus files absent";
  test::TempDir out;
  const CliRun r = Cli("thumb" + files + " -s 96 -d " + Q(out.Path("")));
  EXPECT_EQ(r.status, 0) << r.out;
}

}  // namespace
}  // namespace zan
