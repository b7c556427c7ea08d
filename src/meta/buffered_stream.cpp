#include "meta/buffered_stream.h"

#include <algorithm>
#include <cstring>

namespace zan {

TzanBufferedStream::TzanBufferedStream(TStream* AStream, bool AOwner)
    : FStream(AStream), FSize(AStream->Size()), FOwner(AOwner) {}

TzanBufferedStream::~TzanBufferedStream() {
  if (FOwner) delete FStream;
}

int64_t TzanBufferedStream::Seek(int64_t offset, SeekOrigin origin) {
  int64_t pos = FPosition;
  switch (origin) {
    case SeekOrigin::Begin:
      pos = offset;
      break;
    case SeekOrigin::Current:
      pos = ClampSeek(FPosition, offset);
      break;
    case SeekOrigin::End:
      pos = ClampSeek(FSize, offset);
      break;
  }
  FPosition = std::clamp<int64_t>(pos, 0, FSize);
  return FPosition;
}

int64_t TzanBufferedStream::Write(const void*, int64_t) { throw Exception("Cannot write to TzanBufferedStream"); }

// One request is served in steps: bytes before the window come straight
// from the source (or slide the window back over them), bytes inside it are
// copied, and a request past its end drops it and loads a new one where the
// request continues. Each step either returns or makes progress, so the
// loop stands in for the step-by-step recursion it implements.
int64_t TzanBufferedStream::Read(void* buffer, int64_t count) {
  auto* out = static_cast<uint8_t*>(buffer);
  int64_t done = 0;
  for (;;) {
    if (count <= 0 || FSize - FPosition <= 0) return done;

    if (FIntBuffSize == 0) {
      const auto size = static_cast<int32_t>(std::min<int64_t>(kWindowSize, FSize - FPosition));
      if (!FIntBuff) FIntBuff = std::make_unique_for_overwrite<uint8_t[]>(kWindowSize);
      FStream->SetPosition(FPosition);
      // The window counts as loaded only once the source delivered it.
      FStream->ReadBuffer(FIntBuff.get(), size);
      FIntBuffSize = size;
      FIntPos = FPosition;
    }

    if (FPosition < FIntPos) {
      const int64_t gap = FIntPos - FPosition;
      if (count < gap) {
        // The request ends before the window.
        if (FIntBuffSize > gap) {
          // Slide the window back so that it starts at the request, keeping
          // its length: only the gap is read from the source.
          const auto g = static_cast<int32_t>(gap);
          std::memmove(FIntBuff.get() + g, FIntBuff.get(), static_cast<size_t>(FIntBuffSize - g));
          try {
            FStream->SetPosition(FPosition);
            FStream->ReadBuffer(FIntBuff.get(), g);
          } catch (...) {
            FIntBuffSize = 0;  // half moved: no longer a faithful copy
            throw;
          }
          FIntPos = FPosition;
        } else {
          FIntBuffSize = 0;
        }
        continue;
      }
      // The request reaches into the window: the gap straight from the source.
      FStream->SetPosition(FPosition);
      FStream->ReadBuffer(out, gap);
      FPosition += gap;
      out += gap;
      done += gap;
      count -= gap;
      continue;
    }

    const int64_t windowEnd = FIntPos + FIntBuffSize;
    if (FPosition >= windowEnd) {
      FIntBuffSize = 0;  // reload at the position on the next step
      continue;
    }

    const int64_t offset = FPosition - FIntPos;
    const int64_t available = windowEnd - FPosition;
    const int64_t n = std::min(count, available);
    std::memcpy(out, FIntBuff.get() + offset, static_cast<size_t>(n));
    FPosition += n;
    out += n;
    done += n;
    count -= n;
    if (count == 0) return done;
  }
}

}  // namespace zan
