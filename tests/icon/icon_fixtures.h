// Writers of icon and cursor files for the icon tests: DIB images from
// top-down pixel values, PNG images, and ICO/CUR files around them whose
// every header field can be bent.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/codecs.h"

namespace zan::test {

// One DIB image as an icon file stores it.
struct DibSpec {
  int32_t width = 0;
  int32_t height = 0;
  int32_t bitCount = 32;
  // Top-down, width x height values: a palette index at 1 to 8 bits, the raw
  // 5-5-5 word at 16, 0xRRGGBB at 24, 0xAARRGGBB at 32.
  std::vector<uint32_t> pixels;
  // Top-down, 1 = transparent; empty for all 0.
  std::vector<uint8_t> mask;
  // 0xRRGGBB entries; missing ones are written as 0.
  std::vector<uint32_t> palette;
  // Written instead of the real fields when set.
  std::optional<int32_t> headerHeight;
  std::optional<uint16_t> headerBitCount;
};
std::vector<uint8_t> MakeDib(const DibSpec& dib);

// A DIB of width x height where every pixel is `value` (see DibSpec).
DibSpec SolidDib(int32_t width, int32_t height, int32_t bitCount, uint32_t value,
                 std::vector<uint32_t> palette = {});

// One directory entry and the data it points to.
struct IcoEntry {
  std::vector<uint8_t> data;
  uint16_t planesOrHotX = 1;
  uint16_t bitsOrHotY = 32;
  std::optional<uint32_t> offset;  // instead of where the data is written
  std::optional<uint32_t> size;    // instead of the data's length
};

// An ICO (type 1) or CUR (type 2) file; `count` instead of the number of
// entries when set.
std::vector<uint8_t> MakeIco(const std::vector<IcoEntry>& entries, uint16_t type = 1,
                             std::optional<uint16_t> count = {});

// A PNG file of the image.
std::vector<uint8_t> PngBytes(const PngImage& png);
// An RGBA image whose pixels are a function of (x, y) (0xAARRGGBB).
PngImage RgbaPng(int32_t width, int32_t height, uint32_t (*pixel)(int32_t x, int32_t y));

}  // namespace zan::test
