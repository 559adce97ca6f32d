#include "platform/ReadWholeFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

#include "platform/Errors.h"

namespace {

// The content, or the errno of the failure.
std::optional<std::string> readWhole(const std::string& path, std::size_t maxBytes, int& err) {
  err = 0;
  // O_NONBLOCK so that opening a FIFO does not wait for a writer; fstat then rejects it.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    err = errno;
    return std::nullopt;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
      static_cast<std::uint64_t>(st.st_size) > maxBytes) {
    err = !S_ISREG(st.st_mode) ? (S_ISDIR(st.st_mode) ? EISDIR : EINVAL) : EFBIG;
    ::close(fd);
    return std::nullopt;
  }
  std::string bytes(static_cast<std::size_t>(st.st_size), '\0');
  std::size_t done = 0;
  // The file may grow after fstat; read on to its end, but never past the limit.
  for (;;) {
    if (done == bytes.size()) {
      if (bytes.size() > maxBytes) break;
      bytes.resize(std::min(maxBytes + 1, bytes.size() + 65536));
    }
    const ssize_t got = ::read(fd, bytes.data() + done, bytes.size() - done);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      err = errno;
      ::close(fd);
      return std::nullopt;
    }
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  ::close(fd);
  if (done > maxBytes) {
    err = EFBIG;
    return std::nullopt;
  }
  bytes.resize(done);
  return bytes;
}

}  // namespace

std::optional<std::string> readWholeFile(const std::string& path, std::size_t maxBytes) {
  int err = 0;
  std::optional<std::string> bytes = readWhole(path, maxBytes, err);
  if (!bytes && err != ENOENT) throw cannotOpenFile(path, err);
  return bytes;
}

std::optional<std::string> readWholeFileIfReadable(const std::string& path, std::size_t maxBytes) {
  int err = 0;
  return readWhole(path, maxBytes, err);
}
