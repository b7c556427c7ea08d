// The file stream on Windows: a read-only handle opened with full sharing
// (others may read, write, rename and delete the file meanwhile); every read
// names its own offset, like pread.
#include <windows.h>

#include <algorithm>

#include "platform/stream.h"
#include "platform/system.h"
#include "platform/win32_util.h"

namespace zan {

namespace {

HANDLE Handle(intptr_t h) { return reinterpret_cast<HANDLE>(h); }

}  // namespace

TFileStream::TFileStream(const std::u16string& name) {
  const std::wstring wide = win32::Wide(name);
  HANDLE h = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    throw EFOpenError("Cannot open file \"" + Utf16ToUtf8(name) + "\". " + win32::ErrorText(code));
  }
  // Directories cannot be opened this way (no backup semantics); devices
  // and pipes are refused: only disk files are read.
  if (GetFileType(h) != FILE_TYPE_DISK) {
    CloseHandle(h);
    throw EFOpenError("Cannot open file \"" + Utf16ToUtf8(name) + "\". Not a regular file");
  }
  handle_ = reinterpret_cast<intptr_t>(h);
}

TFileStream::TFileStream(const std::string& utf8Name) : TFileStream(Utf8ToUtf16(utf8Name)) {}

TFileStream::~TFileStream() {
  if (Handle(handle_) != INVALID_HANDLE_VALUE) CloseHandle(Handle(handle_));
}

int64_t TFileStream::Read(void* buffer, int64_t count) {
  if (count <= 0) return 0;
  auto* out = static_cast<uint8_t*>(buffer);
  int64_t done = 0;
  while (done < count) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(static_cast<uint64_t>(pos_));
    at.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(pos_) >> 32);
    const DWORD want = static_cast<DWORD>(std::min<int64_t>(count - done, 1 << 30));
    DWORD got = 0;
    if (!ReadFile(Handle(handle_), out + done, want, &got, &at)) {
      if (GetLastError() == ERROR_HANDLE_EOF) break;
      throw EReadError("Stream read error");
    }
    if (got == 0) break;
    done += got;
    pos_ += got;
  }
  return done;
}

int64_t TFileStream::Seek(int64_t offset, SeekOrigin origin) {
  switch (origin) {
    case SeekOrigin::Begin:
      pos_ = offset < 0 ? 0 : offset;
      break;
    case SeekOrigin::Current:
      pos_ = ClampSeek(pos_, offset);
      break;
    case SeekOrigin::End:
      pos_ = ClampSeek(GetSize(), offset);
      break;
  }
  return pos_;
}

int64_t TFileStream::GetSize() {
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(Handle(handle_), &size)) throw EReadError("Stream read error");
  return size.QuadPart;
}

}  // namespace zan
