// Byte swaps, number texts and BMP builders shared by the format readers.
#pragma once

#include <cstdint>
#include <string>

#include "platform/stream.h"

namespace zan {

uint32_t SwapWord(uint32_t value);
uint32_t SwapLong(uint32_t value);
uint64_t SwapInt64(uint64_t value);

std::string IntToText(int32_t value, int32_t minDigits);
std::string FloatToText(int32_t digits, bool keepTrailingZeros, long double value);

int32_t BitmapRowSize(int32_t width, int32_t bitCount);
int32_t BitmapPaletteSize(int32_t bitCount);
// Writes the BMP file and information headers; returns the pixel data size.
int32_t WriteBitmapHeaders(TStream& stream, int32_t width, int32_t height, int32_t bitCount, bool zeroFill);
// Turns a packed device-independent bitmap into a BMP file.
void DibToBitmapFile(TStream& source, TStream& target);

// Big-endian and little-endian reads from memory.
inline uint16_t GetU16BE(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
inline uint16_t GetU16LE(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t GetU32BE(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}
inline uint32_t GetU32LE(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

}  // namespace zan
