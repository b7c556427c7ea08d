// The two sniffers that tell a preview's type and pixel size from its first
// bytes. Neither ever raises, and both leave the stream where they found it.
#include <cstdlib>

#include "meta/meta.h"
#include "meta/utils.h"

namespace zan {

namespace {

std::string FileTypeOf(const uint8_t b[4]) {
  if (b[0] == 0x42 && b[1] == 0x4D) return "bmp";
  if (b[0] == 0xFF && b[1] == 0xD8 && b[2] == 0xFF) return "jpg";
  const uint32_t v = GetU32BE(b);
  switch (v) {
    case 0x00000100: return "ico";
    case 0x00000200: return "cur";
    case 0x47494638: return "gif";
    case 0x89504E47: return "png";
    case 0xD7CDC69A: return "wmf";
    default: return {};
  }
}

// A start-of-frame marker: C0 to CF except DHT (C4), JPG (C8) and DAC (CC).
bool IsFrameHeader(uint8_t code) { return code >= 0xC0 && code <= 0xCF && code != 0xC4 && code != 0xC8 && code != 0xCC; }

void BmpPixelSize(TStream& stream, TSize& size, int32_t* bits) {
  stream.Skip(14);
  uint8_t info[40];
  stream.ReadBuffer(info, sizeof info);
  size.cx = static_cast<int32_t>(GetU32LE(info + 4));
  const int64_t height = static_cast<int32_t>(GetU32LE(info + 8));
  // |INT32_MIN| has no 32-bit value; such a height is no size at all.
  const int64_t absHeight = height < 0 ? -height : height;
  size.cy = absHeight > INT32_MAX ? 0 : static_cast<int32_t>(absHeight);
  if (bits != nullptr) *bits = GetU16LE(info + 14);
}

void JpegPixelSize(TStream& stream, TSize& size, int32_t* bits) {
  // Every step forward is checked against the stream's end, so no length
  // field can keep the walk going past it.
  const int64_t end = stream.Size();
  stream.Skip(2);
  for (;;) {
    const int64_t pos = stream.Position();
    if (pos + 4 > end) return;
    if (stream.ReadU8() != 0xFF) return;
    const uint8_t code = stream.ReadU8();
    if (code == 0xDA) return;  // start of scan before any frame header
    const uint16_t length = stream.ReadU16BE();
    if (IsFrameHeader(code)) {
      const uint8_t precision = stream.ReadU8();
      size.cy = stream.ReadU16BE();
      if (size.cy == 0) return;
      size.cx = stream.ReadU16BE();
      if (size.cx != 0 && precision != 0 && bits != nullptr) *bits = precision * stream.ReadU8();
      return;
    }
    if (length < 2) return;
    const int64_t next = pos + 2 + length;
    if (next > end) return;
    stream.SetPosition(next);
  }
}

}  // namespace

std::string GetGraphicFileType(TStream& AStream) {
  try {
    PositionGuard guard(AStream);
    uint8_t b[4];
    try {
      AStream.ReadBuffer(b, sizeof b);
    } catch (...) {
      return "dat";
    }
    return FileTypeOf(b);
  } catch (...) {
    // The position itself could not be read: treat it like a short stream.
    return "dat";
  }
}

TSize GetGraphicPixelSize(TStream& AStream, int32_t* ABits) {
  TSize size;
  if (ABits != nullptr) *ABits = 0;
  try {
    const std::string type = GetGraphicFileType(AStream);
    PositionGuard guard(AStream);
    if (type == "bmp")
      BmpPixelSize(AStream, size, ABits);
    else if (type == "jpg")
      JpegPixelSize(AStream, size, ABits);
  } catch (...) {
    // What was found before the failure stays.
  }
  return size;
}

}  // namespace zan
