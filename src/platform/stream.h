// Seekable byte streams: the base interface every parser reads through, a
// read-only file stream and a growable memory stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace zan {

// The base exception of the platform: every failure inside the core is one of
// these (or derived from it). Nothing of this kind leaves an exported function.
class Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& message) : std::runtime_error(message) {}
};

// Raised by ReadBuffer on a short read.
class EReadError : public Exception {
 public:
  using Exception::Exception;
};

// Raised when a file cannot be opened.
class EFOpenError : public Exception {
 public:
  using Exception::Exception;
};

// Raised when a size read from a file would need more memory than allowed.
class EOutOfResources : public Exception {
 public:
  using Exception::Exception;
};

enum class SeekOrigin { Begin = 0, Current = 1, End = 2 };

// base + offset, saturating, never below 0.
int64_t ClampSeek(int64_t base, int64_t offset);
// The position a seek from `position` in a stream of `size` bytes lands on
// (never below 0; streams may be positioned past their end).
int64_t SeekTarget(int64_t position, int64_t size, int64_t offset, SeekOrigin origin);

class TStream {
 public:
  virtual ~TStream() = default;

  // Reads up to count bytes; returns the number delivered (fewer only at the end).
  virtual int64_t Read(void* buffer, int64_t count) = 0;
  // Writes count bytes; the base stream is read-only and raises.
  virtual int64_t Write(const void* buffer, int64_t count);
  // Moves the position; the result is the new position.
  virtual int64_t Seek(int64_t offset, SeekOrigin origin) = 0;
  // Total size in bytes.
  virtual int64_t GetSize();
  // Changes the size; the base stream raises.
  virtual void SetSize(int64_t size);

  int64_t Size() { return GetSize(); }
  int64_t Position() { return Seek(0, SeekOrigin::Current); }
  void SetPosition(int64_t pos) { Seek(pos, SeekOrigin::Begin); }
  // Bytes from the position to the end (never negative).
  int64_t Remaining();

  // Reads exactly count bytes or raises EReadError.
  void ReadBuffer(void* buffer, int64_t count);
  // Writes exactly count bytes or raises.
  void WriteBuffer(const void* buffer, int64_t count);
  // Copies exactly count bytes from source's position into this stream
  // (raises EReadError when the source has fewer). Returns count.
  int64_t CopyFrom(TStream& source, int64_t count);
  // Copies everything from source's position to its end.
  int64_t CopyRest(TStream& source);

  // Small typed readers (raise on short read).
  uint8_t ReadU8();
  uint16_t ReadU16LE();
  uint16_t ReadU16BE();
  uint32_t ReadU32LE();
  uint32_t ReadU32BE();
  void Skip(int64_t count) { Seek(count, SeekOrigin::Current); }
};

// Restores a stream's position when it goes out of scope, also on exceptions.
class PositionGuard {
 public:
  explicit PositionGuard(TStream& s) : s_(s), pos_(s.Position()) {}
  ~PositionGuard() {
    try {
      s_.SetPosition(pos_);
    } catch (...) {
    }
  }
  PositionGuard(const PositionGuard&) = delete;
  PositionGuard& operator=(const PositionGuard&) = delete;
  int64_t Saved() const { return pos_; }

 private:
  TStream& s_;
  int64_t pos_;
};

// A read-only file, opened with full sharing (others may read, write and
// delete it meanwhile).
class TFileStream : public TStream {
 public:
  // Raises EFOpenError when the file cannot be opened.
  explicit TFileStream(const std::u16string& name);
  explicit TFileStream(const std::string& utf8Name);
  ~TFileStream() override;
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;

  int64_t Read(void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, SeekOrigin origin) override;
  int64_t GetSize() override;

 private:
  intptr_t handle_ = -1;
  int64_t pos_ = 0;
};

// A growable in-memory stream.
class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;
  // Wraps a copy of the given bytes, positioned at 0.
  TMemoryStream(const void* data, size_t size);

  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, SeekOrigin origin) override;
  int64_t GetSize() override { return static_cast<int64_t>(data_.size()); }
  void SetSize(int64_t size) override;

  uint8_t* Memory() { return data_.data(); }
  const uint8_t* Memory() const { return data_.data(); }
  void Clear();

  // Largest memory stream we allow: previews and pictures never come close.
  static constexpr int64_t kMaxSize = int64_t(1) << 30;

 private:
  std::vector<uint8_t> data_;
  int64_t pos_ = 0;
};

// A read-only stream over bytes owned by somebody else (no copy).
class TReadOnlyMemoryStream : public TStream {
 public:
  TReadOnlyMemoryStream(const void* data, size_t size)
      : data_(static_cast<const uint8_t*>(data)), size_(static_cast<int64_t>(size)) {}
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, SeekOrigin origin) override;
  int64_t GetSize() override { return size_; }

 private:
  const uint8_t* data_;
  int64_t size_;
  int64_t pos_ = 0;
};

}  // namespace zan
