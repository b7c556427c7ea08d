#include "platform/stream.h"

#include <algorithm>
#include <cstring>

namespace zan {

int64_t TStream::Write(const void*, int64_t) { throw Exception("Stream write error"); }

int64_t TStream::GetSize() {
  const int64_t pos = Seek(0, SeekOrigin::Current);
  const int64_t size = Seek(0, SeekOrigin::End);
  Seek(pos, SeekOrigin::Begin);
  return size;
}

void TStream::SetSize(int64_t) { throw Exception("Stream does not support SetSize"); }

int64_t TStream::Remaining() {
  const int64_t r = GetSize() - Position();
  return r > 0 ? r : 0;
}

void TStream::ReadBuffer(void* buffer, int64_t count) {
  if (count < 0) throw EReadError("Stream read error");
  if (count != 0 && Read(buffer, count) != count) throw EReadError("Stream read error");
}

void TStream::WriteBuffer(const void* buffer, int64_t count) {
  if (count < 0) throw Exception("Stream write error");
  if (count != 0 && Write(buffer, count) != count) throw Exception("Stream write error");
}

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
  if (count < 0) throw EReadError("Stream read error");
  // Refuse before copying anything when the source cannot back the request.
  if (count > source.Remaining()) throw EReadError("Stream read error");
  uint8_t buf[65536];
  int64_t left = count;
  while (left > 0) {
    const int64_t n = std::min<int64_t>(left, sizeof buf);
    source.ReadBuffer(buf, n);
    WriteBuffer(buf, n);
    left -= n;
  }
  return count;
}

int64_t TStream::CopyRest(TStream& source) { return CopyFrom(source, source.Remaining()); }

uint8_t TStream::ReadU8() {
  uint8_t b;
  ReadBuffer(&b, 1);
  return b;
}

uint16_t TStream::ReadU16LE() {
  uint8_t b[2];
  ReadBuffer(b, 2);
  return static_cast<uint16_t>(b[0] | (b[1] << 8));
}

uint16_t TStream::ReadU16BE() {
  uint8_t b[2];
  ReadBuffer(b, 2);
  return static_cast<uint16_t>((b[0] << 8) | b[1]);
}

uint32_t TStream::ReadU32LE() {
  uint8_t b[4];
  ReadBuffer(b, 4);
  return uint32_t(b[0]) | (uint32_t(b[1]) << 8) | (uint32_t(b[2]) << 16) | (uint32_t(b[3]) << 24);
}

uint32_t TStream::ReadU32BE() {
  uint8_t b[4];
  ReadBuffer(b, 4);
  return (uint32_t(b[0]) << 24) | (uint32_t(b[1]) << 16) | (uint32_t(b[2]) << 8) | uint32_t(b[3]);
}

// ---------------------------------------------------------------------------

int64_t ClampSeek(int64_t base, int64_t offset) {
  // Saturating add: hostile offsets must not overflow.
  if (offset > 0 && base > INT64_MAX - offset) return INT64_MAX;
  if (offset < 0 && base < INT64_MIN - offset) return 0;
  const int64_t r = base + offset;
  return r < 0 ? 0 : r;
}

int64_t SeekTarget(int64_t position, int64_t size, int64_t offset, SeekOrigin origin) {
  switch (origin) {
    case SeekOrigin::Begin:
      return offset < 0 ? 0 : offset;
    case SeekOrigin::Current:
      return ClampSeek(position, offset);
    case SeekOrigin::End:
      return ClampSeek(size, offset);
  }
  return position;
}

// ---------------------------------------------------------------------------

TMemoryStream::TMemoryStream(const void* data, size_t size)
    : data_(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size) {}

int64_t TMemoryStream::Read(void* buffer, int64_t count) {
  const int64_t size = GetSize();
  if (count <= 0 || pos_ >= size) return 0;
  const int64_t n = std::min(count, size - pos_);
  std::memcpy(buffer, data_.data() + pos_, static_cast<size_t>(n));
  pos_ += n;
  return n;
}

int64_t TMemoryStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  if (pos_ > kMaxSize - count) throw EOutOfResources("Out of memory while expanding memory stream");
  const int64_t end = pos_ + count;
  if (end > GetSize()) {
    if (static_cast<size_t>(end) > data_.capacity())
      data_.reserve(std::max<size_t>(static_cast<size_t>(end), data_.capacity() * 2));
    data_.resize(static_cast<size_t>(end));
  }
  std::memcpy(data_.data() + pos_, buffer, static_cast<size_t>(count));
  pos_ = end;
  return count;
}

int64_t TMemoryStream::Seek(int64_t offset, SeekOrigin origin) {
  pos_ = SeekTarget(pos_, GetSize(), offset, origin);
  return pos_;
}

void TMemoryStream::SetSize(int64_t size) {
  if (size < 0 || size > kMaxSize) throw EOutOfResources("Out of memory while expanding memory stream");
  data_.resize(static_cast<size_t>(size));
  if (pos_ > size) pos_ = size;
}

void TMemoryStream::Clear() {
  data_.clear();
  data_.shrink_to_fit();
  pos_ = 0;
}

// ---------------------------------------------------------------------------

int64_t TReadOnlyMemoryStream::Read(void* buffer, int64_t count) {
  if (count <= 0 || pos_ >= size_) return 0;
  const int64_t n = std::min(count, size_ - pos_);
  std::memcpy(buffer, data_ + pos_, static_cast<size_t>(n));
  pos_ += n;
  return n;
}

int64_t TReadOnlyMemoryStream::Seek(int64_t offset, SeekOrigin origin) {
  pos_ = SeekTarget(pos_, size_, offset, origin);
  return pos_;
}

}  // namespace zan
