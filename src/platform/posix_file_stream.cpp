// The file stream on POSIX systems: pread on a read-only descriptor, so other
// processes may read, write and delete the file meanwhile.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/stream.h"
#include "platform/system.h"

namespace zan {

TFileStream::TFileStream(const std::u16string& name) : TFileStream(Utf16ToUtf8(name)) {}

TFileStream::TFileStream(const std::string& utf8Name) {
  const int fd = ::open(utf8Name.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw EFOpenError("Cannot open file \"" + utf8Name + "\". " + std::strerror(errno));
  struct stat st {};
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(fd);
    throw EFOpenError("Cannot open file \"" + utf8Name + "\". Not a regular file");
  }
  handle_ = fd;
}

TFileStream::~TFileStream() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
}

int64_t TFileStream::Read(void* buffer, int64_t count) {
  if (count <= 0) return 0;
  auto* out = static_cast<uint8_t*>(buffer);
  int64_t done = 0;
  while (done < count) {
    const ssize_t n = ::pread(static_cast<int>(handle_), out + done,
                              static_cast<size_t>(std::min<int64_t>(count - done, 1 << 30)), pos_);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw EReadError("Stream read error");
    }
    if (n == 0) break;
    done += n;
    pos_ += n;
  }
  return done;
}

int64_t TFileStream::Seek(int64_t offset, SeekOrigin origin) {
  pos_ = SeekTarget(pos_, origin == SeekOrigin::End ? GetSize() : 0, offset, origin);
  return pos_;
}

int64_t TFileStream::GetSize() {
  struct stat st {};
  if (::fstat(static_cast<int>(handle_), &st) != 0) throw EReadError("Stream read error");
  return st.st_size;
}

}  // namespace zan
