// Builders for JPEG marker segments and Photoshop resource blocks, byte by
// byte, for fixtures of the JPEG-based readers.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "support/fixtures.h"

namespace zan::test {

using Bytes = std::vector<uint8_t>;

// The bytes of a text, embedded zero bytes included ("Exif\0"s).
inline Bytes Str(const std::string& s) { return Bytes(s.begin(), s.end()); }
inline Bytes BE16(uint32_t v) { return {uint8_t(v >> 8), uint8_t(v)}; }
inline Bytes BE32(uint32_t v) { return {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)}; }
inline Bytes LE16(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8)}; }
inline Bytes LE32(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }
inline Bytes Fill(size_t n, uint8_t value) { return Bytes(n, value); }

// Concatenation: Cat({Str("JFIF"), {0}, BE16(1)}).
inline Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// A JPEG file assembled segment by segment.
class JpegWriter {
 public:
  // Starts with the start-of-image marker FF D8.
  JpegWriter() { bytes_ = {0xFF, 0xD8}; }

  // FF marker, a length counting itself and the payload, the payload.
  JpegWriter& Segment(uint8_t marker, const Bytes& payload) {
    return Segment(marker, static_cast<uint16_t>(payload.size() + 2), payload);
  }
  // The same with a length field of our choice (lying lengths).
  JpegWriter& Segment(uint8_t marker, uint16_t length, const Bytes& payload) {
    Raw({0xFF, marker});
    Raw(BE16(length));
    return Raw(payload);
  }
  JpegWriter& Raw(const Bytes& b) {
    bytes_.insert(bytes_.end(), b.begin(), b.end());
    return *this;
  }
  // A quantisation table segment: where the metadata walk ends.
  JpegWriter& Dqt() { return Segment(0xDB, Cat({{0x00}, Fill(64, 1)})); }
  // The rest of a real baseline JPEG of width x height (everything after its
  // own start-of-image marker), so the file also decodes as a picture.
  JpegWriter& Image(int32_t width, int32_t height) {
    const Bytes jpeg = MakeJpeg(width, height);
    return Raw(Bytes(jpeg.begin() + 2, jpeg.end()));
  }

  const Bytes& bytes() const { return bytes_; }
  operator const Bytes&() const { return bytes_; }

 private:
  Bytes bytes_;
};

// Entropy-coded data of `mcus` MCUs of a flat mid-grey picture with one
// 2x1 luminance pair and one Cb and Cr block per MCU under the Huffman
// tables of ITU-T T.81 Annex K.3 (as camera APP4/APP5 previews store it):
// each block is a DC difference of 0 and an end of block. Ends with EOI.
inline Bytes FlatGreyScan(int mcus) {
  std::string bits;
  for (int i = 0; i < mcus; ++i) bits += "001010" "001010" "0000" "0000";
  while (bits.size() % 8 != 0) bits += '1';
  Bytes out;
  for (size_t i = 0; i < bits.size(); i += 8) {
    uint8_t b = 0;
    for (size_t k = 0; k < 8; ++k) b = static_cast<uint8_t>((b << 1) | (bits[i + k] == '1' ? 1 : 0));
    out.push_back(b);
    if (b == 0xFF) out.push_back(0x00);
  }
  out.insert(out.end(), {0xFF, 0xD9});
  return out;
}

// One Photoshop image resource block: signature, identifier, padded name,
// size, data and the pad byte of an odd size. sizeOverride replaces the
// size field (a size running past the list).
inline Bytes ResourceBlock(uint16_t id, const Bytes& data, const std::string& name = "",
                           const std::string& signature = "8BIM", int64_t sizeOverride = -1) {
  Bytes out = Str(signature);
  const Bytes idBytes = BE16(id);
  out.insert(out.end(), idBytes.begin(), idBytes.end());
  out.push_back(static_cast<uint8_t>(name.size()));
  out.insert(out.end(), name.begin(), name.end());
  if ((1 + name.size()) % 2 == 1) out.push_back(0);
  const Bytes size = BE32(sizeOverride >= 0 ? static_cast<uint32_t>(sizeOverride) : static_cast<uint32_t>(data.size()));
  out.insert(out.end(), size.begin(), size.end());
  out.insert(out.end(), data.begin(), data.end());
  if (data.size() % 2 == 1) out.push_back(0);
  return out;
}

// The data of a thumbnail resource (1033 / 1036): the 28-byte header and the
// image (raw rows or a JPEG).
inline Bytes ThumbnailResourceData(uint32_t format, uint32_t width, uint32_t height, uint32_t rowLength,
                                   const Bytes& image, uint16_t bitsPerPixel = 24) {
  return Cat({BE32(format), BE32(width), BE32(height), BE32(rowLength), BE32(rowLength * height),
              BE32(static_cast<uint32_t>(image.size())), BE16(bitsPerPixel), BE16(1), image});
}

// A JPEG thumbnail resource block.
inline Bytes JpegThumbnailBlock(uint16_t id, const Bytes& jpeg, uint32_t width, uint32_t height) {
  return ResourceBlock(id, ThumbnailResourceData(1, width, height, (width * 3 + 3) / 4 * 4, jpeg));
}

// A PSD file: header (version 1, 3 channels, rows x columns, 8 bits, RGB),
// colour mode data, image resources and an empty rest.
inline Bytes PsdFile(const Bytes& resources, uint32_t rows = 4, uint32_t columns = 4, const Bytes& colorMode = {},
                     uint16_t version = 1) {
  return Cat({Str("8BPS"), BE16(version), Fill(6, 0), BE16(3), BE32(rows), BE32(columns), BE16(8), BE16(3),
              BE32(static_cast<uint32_t>(colorMode.size())), colorMode, BE32(static_cast<uint32_t>(resources.size())),
              resources, BE32(0), BE32(0), BE16(0)});
}

}  // namespace zan::test
