#include "support/fixtures.h"

#include <atomic>
#include <fstream>
#include <iterator>

#include "meta/utils.h"
#include "platform/codecs.h"

namespace zan::test {

TempDir::TempDir() {
  static std::atomic<int> counter{0};
  dir_ = std::filesystem::temp_directory_path() /
         ("zan_test_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
          std::to_string(reinterpret_cast<uintptr_t>(this)) + "_" + std::to_string(counter++));
  std::filesystem::create_directories(dir_);
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

std::string TempDir::Write(const std::string& name, const std::vector<uint8_t>& bytes) const {
  const std::string path = Path(name);
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return path;
}

std::string TempDir::Write(const std::string& name, TMemoryStream& bytes) const {
  return Write(name, StreamBytes(bytes));
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<uint8_t> StreamBytes(TMemoryStream& s) {
  return std::vector<uint8_t>(s.Memory(), s.Memory() + s.GetSize());
}

std::optional<std::filesystem::path> CorpusDir() {
  const std::filesystem::path dir(ZAN_CORPUS_DIR);
  if (std::filesystem::exists(dir / "manifest.tsv")) return dir;
  return std::nullopt;
}

Bitmap32 TestPattern(int32_t width, int32_t height, uint32_t seed) {
  Bitmap32 b(width, height);
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      const uint32_t r = static_cast<uint32_t>((x * 255) / (width > 1 ? width - 1 : 1));
      const uint32_t g = static_cast<uint32_t>((y * 255) / (height > 1 ? height - 1 : 1));
      const uint32_t bl = (((x * 7 + seed) / 5 + y / 3) & 1) ? 230u : 20u;
      b.SetPixel(x, y, 0xFF000000u | (r << 16) | (g << 8) | bl);
    }
  }
  return b;
}

std::vector<uint8_t> MakeJpeg(int32_t width, int32_t height, int quality) {
  TMemoryStream s;
  JpegEncode(s, TestPattern(width, height), quality);
  return StreamBytes(s);
}

std::vector<uint8_t> MakePng(const Bitmap32& picture, bool withAlpha) {
  PngImage png;
  png.width = picture.Width();
  png.height = picture.Height();
  png.colorType = withAlpha ? PngImage::kRGBA : PngImage::kRGB;
  png.Allocate();
  for (int32_t y = 0; y < png.height; ++y)
    for (int32_t x = 0; x < png.width; ++x) {
      const uint32_t c = picture.Pixel(x, y);
      uint8_t* p = png.PixelPtr(x, y);
      p[0] = uint8_t(c >> 16);
      p[1] = uint8_t(c >> 8);
      p[2] = uint8_t(c);
      if (withAlpha) p[3] = uint8_t(c >> 24);
    }
  TMemoryStream s;
  PngWrite(s, png, 6);
  return StreamBytes(s);
}

std::vector<uint8_t> MakeBmp24(const Bitmap32& picture) {
  TMemoryStream s;
  WriteBitmapHeaders(s, picture.Width(), picture.Height(), 24, false);
  const int32_t rowSize = BitmapRowSize(picture.Width(), 24);
  std::vector<uint8_t> row(static_cast<size_t>(rowSize));
  for (int32_t y = picture.Height() - 1; y >= 0; --y) {
    std::fill(row.begin(), row.end(), 0);
    for (int32_t x = 0; x < picture.Width(); ++x) {
      const uint32_t c = picture.Pixel(x, y);
      row[size_t(x) * 3] = uint8_t(c);
      row[size_t(x) * 3 + 1] = uint8_t(c >> 8);
      row[size_t(x) * 3 + 2] = uint8_t(c >> 16);
    }
    s.WriteBuffer(row.data(), rowSize);
  }
  return StreamBytes(s);
}

}  // namespace zan::test
