#include "platform/DirectoryListing.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

constexpr std::size_t kChunk = 32 * 1024;
// getdents64 records start with two 64-bit fields; the name sits after reclen and type.
constexpr std::size_t kReclenOffset = 16;
constexpr std::size_t kTypeOffset = 18;
constexpr std::size_t kNameOffset = 19;

}  // namespace

bool DirectoryListing::read(int dirFd) {
  // raw_ only grows: it is reused for every folder without being cleared or zeroed again.
  entries_.clear();
  std::size_t used = 0;
  for (;;) {
    // Offsets are 32-bit: a listing beyond 4 GiB is refused rather than misread.
    if (used + kChunk > UINT32_MAX) {
      entries_.clear();
      errno = EOVERFLOW;
      return false;
    }
    if (raw_.size() < used + kChunk) raw_.resize(used + kChunk);
    const ssize_t got = ::getdents64(dirFd, raw_.data() + used, kChunk);
    if (got < 0) {
      if (errno == EINTR) continue;
      entries_.clear();
      return false;
    }
    if (got == 0) break;
    std::size_t pos = used;
    const std::size_t end = used + static_cast<std::size_t>(got);
    while (pos < end) {
      uint16_t reclen;
      std::memcpy(&reclen, raw_.data() + pos + kReclenOffset, sizeof reclen);
      if (reclen <= kNameOffset || pos + reclen > end) break;
      const char* nm = raw_.data() + pos + kNameOffset;
      const std::size_t len = ::strnlen(nm, reclen - kNameOffset);
      const bool dots = nm[0] == '.' && (len == 1 || (len == 2 && nm[1] == '.'));
      if (!dots && len > 0 && len < reclen - kNameOffset) {
        entries_.push_back({static_cast<uint32_t>(pos + kNameOffset),
                            static_cast<unsigned char>(raw_[pos + kTypeOffset])});
      }
      pos += reclen;
    }
    used = end;
  }
  return true;
}

std::optional<std::vector<std::string>> DirectoryListing::namesOf(int folderFd) {
  const int own = ::openat(folderFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (own < 0) return std::nullopt;
  DirectoryListing listing;
  const bool read = listing.read(own);
  ::close(own);
  if (!read) return std::nullopt;
  std::vector<std::string> names;
  names.reserve(listing.size());
  for (std::size_t i = 0; i < listing.size(); ++i) names.emplace_back(listing.name(i));
  return names;
}
