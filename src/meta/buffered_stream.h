// A read-only stream that keeps a window of up to 64 KB of its source in
// memory, so the parsers' many small reads cost no system call each.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/stream.h"

namespace zan {

class TzanBufferedStream : public TStream {
 public:
  static constexpr int32_t kWindowSize = 65536;

  TzanBufferedStream(TStream* AStream, bool AOwner);
  ~TzanBufferedStream() override;
  TzanBufferedStream(const TzanBufferedStream&) = delete;
  TzanBufferedStream& operator=(const TzanBufferedStream&) = delete;

  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, SeekOrigin origin) override;
  int64_t GetSize() override { return FSize; }

  // Window state, for tests.
  int64_t WindowStart() const { return FIntPos; }
  int32_t WindowSize() const { return FIntBuffSize; }

 private:
  TStream* FStream;
  int64_t FSize;
  bool FOwner;
  int64_t FPosition = 0;
  int64_t FIntPos = 0;
  std::unique_ptr<uint8_t[]> FIntBuff;
  int32_t FIntBuffSize = 0;
};

}  // namespace zan
