// Helpers shared by the tests: temporary files, the corpus of real files,
// images made in memory.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/bitmap32.h"
#include "platform/stream.h"

namespace zan::test {

// A folder under the system's temporary folder, removed with the object.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) const;
  std::string Write(const std::string& name, TMemoryStream& bytes) const;

 private:
  std::filesystem::path dir_;
};

std::vector<uint8_t> ReadFileBytes(const std::string& path);
std::vector<uint8_t> StreamBytes(TMemoryStream& s);

// The corpus folder of real files, or nothing when it is absent.
std::optional<std::filesystem::path> CorpusDir();
// Skips the current test when the corpus (or the named file) is absent.
#define ZAN_REQUIRE_CORPUS_FILE(var, relative)                                    \
  auto var##_dir = ::zan::test::CorpusDir();                                      \
  if (!var##_dir || !std::filesystem::exists(*var##_dir / (relative)))            \
    GTEST_SKIP() << "corpus file absent: " << (relative);                         \
  const std::string var = (*var##_dir / (relative)).string()

// A deterministic picture: gradients with a few sharp edges, opaque.
Bitmap32 TestPattern(int32_t width, int32_t height, uint32_t seed = 1);

// Encoded files made from a picture.
std::vector<uint8_t> MakeJpeg(int32_t width, int32_t height, int quality = 90);
std::vector<uint8_t> MakePng(const Bitmap32& picture, bool withAlpha);
std::vector<uint8_t> MakeBmp24(const Bitmap32& picture);

}  // namespace zan::test
