#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "mail/Oe5Failures.h"
#include "mail/uoexpress.h"
#include "platform/Errors.h"

namespace {

constexpr size_t kWindowSize = 256 * 1024;

constexpr char kReadsTooMuch[] =
    "archivo dañado: leer sus mensajes costaría mucho más que su tamaño; se deja el resto de la "
    "carpeta";

}  // namespace

Oe5File::Oe5File(const std::string& path) : path_(path) {
  // O_NONBLOCK keeps a FIFO planted under a store file's name from blocking the open.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0 && errno == ENOENT) throw storeFileAbsent(path);
  if (fd < 0) throw cannotOpenFile(path, errno);
  adopt(fd);
}

Oe5File::Oe5File(int fd, std::string path) : path_(std::move(path)) {
  adopt(fd);
}

void Oe5File::adopt(int fd) {
  fd_ = fd;
  struct stat st {};
  if (::fstat(fd_, &st) != 0) {
    const int err = errno;
    ::close(fd_);
    fd_ = -1;
    throw cannotOpenFile(path_, err);
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd_);
    fd_ = -1;
    throw notRegularFile(path_, st.st_mode);
  }
  size_ = static_cast<uint64_t>(st.st_size);
  device_ = st.st_dev;
  inode_ = st.st_ino;
}

void Oe5File::charge(size_t len) {
  if (!allowance_) return;
  if (len > *allowance_) {
    *allowance_ = 0;
    throw Oe5Refused(cannotReadFileText(path_), path_, kReadsTooMuch);
  }
  *allowance_ -= len;
}

Oe5File::~Oe5File() {
  if (fd_ >= 0) ::close(fd_);
}

bool Oe5File::fill(uint64_t offset) {
  if (window_.empty()) window_.resize(kWindowSize);
  size_t filled = 0;
  while (filled < window_.size() && offset + filled < size_) {
    const ssize_t got = ::pread(fd_, window_.data() + filled, window_.size() - filled,
                                static_cast<off_t>(offset + filled));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) throw storeReadFailed(path_, errno);
    if (got == 0) break;
    filled += static_cast<size_t>(got);
  }
  windowStart_ = offset;
  windowLength_ = filled;
  return filled > 0;
}

size_t Oe5File::read(uint64_t offset, void* dst, size_t len) {
  charge(len);
  return readUncharged(offset, dst, len);
}

size_t Oe5File::readUncharged(uint64_t offset, void* dst, size_t len) {
  if (offset >= size_ || len == 0) return 0;
  len = static_cast<size_t>(std::min<uint64_t>(len, size_ - offset));
  if (len > kWindowSize) {
    size_t done = 0;
    while (done < len) {
      const ssize_t got = ::pread(fd_, static_cast<uint8_t*>(dst) + done, len - done,
                                  static_cast<off_t>(offset + done));
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) throw storeReadFailed(path_, errno);
      if (got == 0) break;
      done += static_cast<size_t>(got);
    }
    return done;
  }
  if (offset < windowStart_ || offset + len > windowStart_ + windowLength_) {
    if (!fill(offset)) return 0;
  }
  const size_t n =
      static_cast<size_t>(std::min<uint64_t>(len, windowStart_ + windowLength_ - offset));
  std::memcpy(dst, window_.data() + (offset - windowStart_), n);
  return n;
}

const uint8_t* Oe5File::view(uint64_t offset, size_t len, uint8_t* scratch) {
  charge(len);
  if (len <= kWindowSize && offset < size_ && len <= size_ - offset) {
    if (offset < windowStart_ || offset + len > windowStart_ + windowLength_) fill(offset);
    if (offset >= windowStart_ && offset + len <= windowStart_ + windowLength_) {
      return window_.data() + (offset - windowStart_);
    }
  }
  const size_t got = readUncharged(offset, scratch, len);
  if (got < len) std::memset(scratch + got, 0, len - got);
  return scratch;
}
