// A small TIFF writer for the tests: either byte order, a chain of
// directories (with links that may point anywhere, loops included), values
// placed after their directory, and blobs (strips, thumbnails) after all
// directories whose offsets entries can name before the layout is known.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace zan::test {

class TiffBuilder {
 public:
  struct Entry {
    uint16_t tag = 0;
    uint16_t type = 0;
    uint32_t count = 0;
    std::vector<uint8_t> value;     // count x item size bytes, in file order
    int blob = -1;                  // >= 0: a LONG holding that blob's offset + blobAdd
    uint32_t blobAdd = 0;
    std::optional<uint32_t> field;  // the value field written as this number instead
  };
  struct Ifd {
    std::vector<Entry> entries;
    // Where the link after the entries points: kNextInList (the following
    // directory, 0 after the last), kRawLink (rawLink as written), or the
    // index of a directory.
    int next = kNextInList;
    uint32_t rawLink = 0;
    std::optional<uint16_t> rawCount;  // the entry count written instead
  };
  static constexpr int kNextInList = -2;
  static constexpr int kRawLink = -1;

  explicit TiffBuilder(bool bigEndian) : be_(bigEndian) {}

  bool BigEndian() const { return be_; }

  Ifd& AddIfd() {
    ifds_.emplace_back();
    return ifds_.back();
  }
  Ifd& ifd(size_t i) { return ifds_[i]; }
  int AddBlob(std::vector<uint8_t> bytes) {
    blobs_.push_back(std::move(bytes));
    return static_cast<int>(blobs_.size()) - 1;
  }
  // The header's IFD0 link written as this number instead.
  void SetFirstLink(uint32_t link) { firstLink_ = link; }

  // ---- entries --------------------------------------------------------------
  Entry Raw(uint16_t tag, uint16_t type, uint32_t count, std::vector<uint8_t> value) const {
    Entry e;
    e.tag = tag;
    e.type = type;
    e.count = count;
    e.value = std::move(value);
    return e;
  }
  Entry Bytes(uint16_t tag, uint16_t type, std::vector<uint8_t> v) const {
    const auto n = static_cast<uint32_t>(v.size());
    return Raw(tag, type, n, std::move(v));
  }
  Entry Ascii(uint16_t tag, const std::string& text) const {
    std::vector<uint8_t> v(text.begin(), text.end());
    v.push_back(0);
    return Bytes(tag, 2, std::move(v));
  }
  Entry Short(uint16_t tag, std::vector<uint16_t> values) const {
    std::vector<uint8_t> v;
    for (uint16_t x : values) Put16(v, x);
    return Raw(tag, 3, static_cast<uint32_t>(values.size()), std::move(v));
  }
  Entry Long(uint16_t tag, std::vector<uint32_t> values, uint16_t type = 4) const {
    std::vector<uint8_t> v;
    for (uint32_t x : values) Put32(v, x);
    return Raw(tag, type, static_cast<uint32_t>(values.size()), std::move(v));
  }
  Entry Rational(uint16_t tag, std::vector<std::pair<uint32_t, uint32_t>> values, uint16_t type = 5) const {
    std::vector<uint8_t> v;
    for (auto [n, d] : values) {
      Put32(v, n);
      Put32(v, d);
    }
    return Raw(tag, type, static_cast<uint32_t>(values.size()), std::move(v));
  }
  // A LONG whose value is the offset of a blob (plus add).
  Entry BlobOffset(uint16_t tag, int blob, uint32_t add = 0) const {
    Entry e = Long(tag, {0});
    e.blob = blob;
    e.blobAdd = add;
    return e;
  }
  // An entry whose value field holds the given number (an offset or an
  // inline value), whatever its count says.
  Entry Field(uint16_t tag, uint16_t type, uint32_t count, uint32_t field) const {
    Entry e = Raw(tag, type, count, {});
    e.field = field;
    return e;
  }

  // ---- layout -------------------------------------------------------------------
  // Header, then each directory followed by its out-of-line values, then
  // the blobs in order.
  std::vector<uint8_t> Build() {
    ifdOffsets_.assign(ifds_.size(), 0);
    valueOffsets_.assign(ifds_.size(), {});
    uint32_t pos = 8;
    for (size_t i = 0; i < ifds_.size(); ++i) {
      ifdOffsets_[i] = pos;
      pos += 2 + 12 * static_cast<uint32_t>(ifds_[i].entries.size()) + 4;
      valueOffsets_[i].assign(ifds_[i].entries.size(), 0);
      for (size_t j = 0; j < ifds_[i].entries.size(); ++j) {
        const Entry& e = ifds_[i].entries[j];
        if (e.field || e.blob >= 0 || e.value.size() <= 4) continue;
        valueOffsets_[i][j] = pos;
        pos += static_cast<uint32_t>(e.value.size());
        pos += pos & 1;
      }
    }
    blobOffsets_.clear();
    for (const auto& b : blobs_) {
      blobOffsets_.push_back(pos);
      pos += static_cast<uint32_t>(b.size());
    }

    std::vector<uint8_t> out;
    out.push_back(be_ ? 'M' : 'I');
    out.push_back(be_ ? 'M' : 'I');
    Put16(out, 42);
    Put32(out, firstLink_ ? *firstLink_ : (ifds_.empty() ? 0 : ifdOffsets_[0]));
    for (size_t i = 0; i < ifds_.size(); ++i) {
      const Ifd& d = ifds_[i];
      Pad(out, ifdOffsets_[i]);
      Put16(out, d.rawCount ? *d.rawCount : static_cast<uint16_t>(d.entries.size()));
      for (size_t j = 0; j < d.entries.size(); ++j) {
        const Entry& e = d.entries[j];
        Put16(out, e.tag);
        Put16(out, e.type);
        Put32(out, e.count);
        if (e.field) {
          Put32(out, *e.field);
        } else if (e.blob >= 0) {
          Put32(out, blobOffsets_[static_cast<size_t>(e.blob)] + e.blobAdd);
        } else if (e.value.size() <= 4) {
          std::vector<uint8_t> v = e.value;
          v.resize(4, 0);
          out.insert(out.end(), v.begin(), v.end());
        } else {
          Put32(out, valueOffsets_[i][j]);
        }
      }
      uint32_t link = 0;
      if (d.next == kRawLink)
        link = d.rawLink;
      else if (d.next >= 0)
        link = ifdOffsets_[static_cast<size_t>(d.next)];
      else if (i + 1 < ifds_.size())
        link = ifdOffsets_[i + 1];
      Put32(out, link);
      for (size_t j = 0; j < d.entries.size(); ++j) {
        if (valueOffsets_[i][j] == 0) continue;
        Pad(out, valueOffsets_[i][j]);
        out.insert(out.end(), d.entries[j].value.begin(), d.entries[j].value.end());
      }
    }
    for (size_t k = 0; k < blobs_.size(); ++k) {
      Pad(out, blobOffsets_[k]);
      out.insert(out.end(), blobs_[k].begin(), blobs_[k].end());
    }
    return out;
  }

  uint32_t IfdOffset(size_t i) const { return ifdOffsets_[i]; }
  uint32_t BlobOffsetOf(int k) const { return blobOffsets_[static_cast<size_t>(k)]; }

  void Put16(std::vector<uint8_t>& v, uint16_t x) const {
    if (be_) {
      v.push_back(static_cast<uint8_t>(x >> 8));
      v.push_back(static_cast<uint8_t>(x));
    } else {
      v.push_back(static_cast<uint8_t>(x));
      v.push_back(static_cast<uint8_t>(x >> 8));
    }
  }
  void Put32(std::vector<uint8_t>& v, uint32_t x) const {
    for (int i = 0; i < 4; ++i) v.push_back(static_cast<uint8_t>(x >> (be_ ? 24 - 8 * i : 8 * i)));
  }

 private:
  static void Pad(std::vector<uint8_t>& out, uint32_t pos) {
    if (out.size() < pos) out.resize(pos, 0);
  }

  bool be_;
  std::vector<Ifd> ifds_;
  std::vector<std::vector<uint8_t>> blobs_;
  std::optional<uint32_t> firstLink_;
  std::vector<uint32_t> ifdOffsets_;
  std::vector<std::vector<uint32_t>> valueOffsets_;
  std::vector<uint32_t> blobOffsets_;
};

// A JPEG file: start of image, one APP1 "Exif" segment per TIFF block given,
// then the rest of `image` (a complete JPEG file whose own start marker is
// dropped). cut > 0 makes the first segment's length field count only the
// first `cut` bytes of its TIFF block; the rest of the block then follows
// the segment in the file.
inline std::vector<uint8_t> JpegWithExif(const std::vector<std::vector<uint8_t>>& tiffs,
                                         const std::vector<uint8_t>& image, size_t cut = 0) {
  std::vector<uint8_t> out = {0xFF, 0xD8};
  for (size_t i = 0; i < tiffs.size(); ++i) {
    const std::vector<uint8_t>& tiff = tiffs[i];
    const size_t counted = (i == 0 && cut > 0) ? cut : tiff.size();
    const size_t length = 2 + 6 + counted;
    out.insert(out.end(), {0xFF, 0xE1, static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)});
    out.insert(out.end(), {'E', 'x', 'i', 'f', 0, 0});
    out.insert(out.end(), tiff.begin(), tiff.end());
  }
  if (image.size() > 2) out.insert(out.end(), image.begin() + 2, image.end());
  return out;
}

}  // namespace zan::test
