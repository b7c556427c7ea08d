// Time per thumbnail through the whole pipeline (file opened, sniffed,
// decoded at the smallest scale that serves, Lanczos-fitted into the box).
// Run: build/linux/bench/zan_bench --benchmark_repetitions=9 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "front/hooks.h"
#include "front/pipeline.h"
#include "front/render.h"
#include "module/plugin_api.h"
#include "platform/codecs.h"
#include "platform/gdi.h"
#include "platform/system.h"

namespace {

zan::Bitmap32 Pattern(int32_t w, int32_t h) {
  zan::Bitmap32 b(w, h);
  uint32_t seed = 12345;
  for (int32_t y = 0; y < h; ++y) {
    uint32_t* row = b.Row(y);
    for (int32_t x = 0; x < w; ++x) {
      seed = seed * 1103515245u + 12345u;
      const uint32_t noise = (seed >> 16) & 0x1F;
      const uint32_t r = (uint32_t(x) * 255u / uint32_t(w)) ^ noise;
      const uint32_t g = (uint32_t(y) * 255u / uint32_t(h));
      const uint32_t bl = ((x / 64 + y / 64) & 1) ? 200u : 40u;
      row[x] = 0xFF000000u | ((r & 0xFF) << 16) | (g << 8) | bl;
    }
  }
  return b;
}

std::string WriteSample(const std::string& name, zan::TMemoryStream& data) {
  const std::string path = (std::filesystem::temp_directory_path() / ("zan_bench_" + name)).string();
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(data.Memory()), static_cast<std::streamsize>(data.GetSize()));
  return path;
}

const std::string& JpegFile(int32_t w, int32_t h) {
  static std::string big, small;
  std::string& path = (w > 1000) ? big : small;
  if (path.empty()) {
    zan::TMemoryStream s;
    zan::JpegEncode(s, Pattern(w, h), 90);
    path = WriteSample(std::to_string(w) + "x" + std::to_string(h) + ".jpg", s);
  }
  return path;
}

const std::string& PngFile() {
  static std::string path;
  if (path.empty()) {
    const zan::Bitmap32 b = Pattern(4000, 3000);
    zan::PngImage png;
    png.width = b.Width();
    png.height = b.Height();
    png.colorType = zan::PngImage::kRGB;
    png.Allocate();
    for (int32_t y = 0; y < png.height; ++y)
      for (int32_t x = 0; x < png.width; ++x) {
        uint8_t* p = png.PixelPtr(x, y);
        const uint32_t c = b.Pixel(x, y);
        p[0] = uint8_t(c >> 16);
        p[1] = uint8_t(c >> 8);
        p[2] = uint8_t(c);
      }
    zan::TMemoryStream s;
    zan::PngWrite(s, png, 1);
    path = WriteSample("4000x3000.png", s);
  }
  return path;
}

// A camera-style JPEG: the 24-megapixel picture with a 160x120 thumbnail in
// an Exif APP1 segment (IFD0 empty, IFD1 naming the thumbnail by 513/514).
const std::string& CameraJpegFile() {
  static std::string path;
  if (path.empty()) {
    zan::TMemoryStream thumb;
    zan::JpegEncode(thumb, Pattern(160, 120), 85);
    std::vector<uint8_t> tiff = {'I', 'I', 42, 0, 8, 0, 0, 0};
    auto put16 = [&](uint32_t v) {
      tiff.push_back(uint8_t(v));
      tiff.push_back(uint8_t(v >> 8));
    };
    auto put32 = [&](uint32_t v) {
      put16(v & 0xFFFF);
      put16(v >> 16);
    };
    put16(0);   // IFD0: no entries
    put32(14);  // next: IFD1 at 14
    put16(2);
    const uint32_t dataAt = 14 + 2 + 2 * 12 + 4;
    put16(513), put16(4), put32(1), put32(dataAt);
    put16(514), put16(4), put32(1), put32(static_cast<uint32_t>(thumb.GetSize()));
    put32(0);
    tiff.insert(tiff.end(), thumb.Memory(), thumb.Memory() + thumb.GetSize());
    const size_t segLen = 2 + 6 + tiff.size();

    zan::TMemoryStream big;
    zan::JpegEncode(big, Pattern(6000, 4000), 90);
    zan::TMemoryStream file;
    file.WriteBuffer(big.Memory(), 2);  // SOI
    const uint8_t app1[] = {0xFF, 0xE1, uint8_t(segLen >> 8), uint8_t(segLen), 'E', 'x', 'i', 'f', 0, 0};
    file.WriteBuffer(app1, sizeof app1);
    file.WriteBuffer(tiff.data(), static_cast<int64_t>(tiff.size()));
    file.WriteBuffer(big.Memory() + 2, big.GetSize() - 2);
    path = WriteSample("camera-24mpx.jpg", file);
  }
  return path;
}

void RunThumb(benchmark::State& state, const std::string& path) {
  zan::LoadModule();
  // Every iteration makes the thumbnail afresh: no cache answers.
  zan::Hooks().cache = nullptr;
  ListDefaultParamStruct params{};
  params.PluginInterfaceVersionHi = 2;
  zan::SetDefaultParams(&params);
  const std::u16string name = zan::Utf8ToUtf16(path);
  for (auto _ : state) {
    ZanHBITMAP bmp = zan::GetPreviewBitmap(name, 256, 256);
    if (bmp == nullptr) state.SkipWithError("no thumbnail");
    zanGdiDeleteObject(bmp);
  }
}

void BM_Jpeg24Mpx(benchmark::State& state) { RunThumb(state, JpegFile(6000, 4000)); }
void BM_Png4000x3000(benchmark::State& state) { RunThumb(state, PngFile()); }
void BM_Jpeg160x120(benchmark::State& state) { RunThumb(state, JpegFile(160, 120)); }
void BM_CameraJpegExifThumbnail(benchmark::State& state) { RunThumb(state, CameraJpegFile()); }

}  // namespace

BENCHMARK(BM_Jpeg24Mpx)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Png4000x3000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Jpeg160x120)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CameraJpegExifThumbnail)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
