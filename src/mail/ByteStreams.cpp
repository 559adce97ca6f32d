#include "mail/ByteStreams.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/Errors.h"
#include "platform/WriteAll.h"

std::size_t MemoryInputStream::read(char* buffer, std::size_t n) {
  if (position_ >= data_.size()) return 0;
  const std::size_t count = std::min<std::uint64_t>(n, data_.size() - position_);
  std::memcpy(buffer, data_.data() + position_, count);
  position_ += count;
  return count;
}

FdInputStream::FdInputStream(int fd, std::string path) : fd_(fd), path_(std::move(path)) {
  struct stat st {};
  if (::fstat(fd_, &st) != 0) throw cannotOpenFile(path_, errno);
  size_ = st.st_size > 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
}

std::size_t FdInputStream::read(char* buffer, std::size_t n) {
  if (position_ >= size_) return 0;
  n = std::min<std::uint64_t>(n, size_ - position_);
  for (;;) {
    const ssize_t got = ::pread(fd_, buffer, n, static_cast<off_t>(position_));
    if (got >= 0) {
      position_ += static_cast<std::uint64_t>(got);
      return static_cast<std::size_t>(got);
    }
    if (errno != EINTR) {
      const int err = errno;
      throw ResguardaError(kStreamReadError, path_, systemReason(err));
    }
  }
}

void FdOutputStream::write(const char* data, std::size_t n) {
  if (const int err = writeAll(fd_, data, n)) throw unableToWrite(path_, err);
}
