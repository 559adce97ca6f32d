#include "platform/FileIdentity.h"

#include <fcntl.h>
#include <sys/sysmacros.h>

namespace {

// A mount id that no other mount gets while the machine runs (Linux 6.8); older kernels give
// the plain one, which a later mount may get again.
constexpr unsigned kMountIdUnique = 0x4000U;

}  // namespace

bool FileIdentity::of(int dirFd, const char* name, int flags, FileIdentity& identity) {
  struct statx st {};
  const unsigned want = STATX_TYPE | STATX_INO | STATX_SIZE | STATX_BTIME | STATX_MNT_ID;
  if (::statx(dirFd, name, flags, want | kMountIdUnique, &st) != 0) return false;
  identity.dev = makedev(st.stx_dev_major, st.stx_dev_minor);
  identity.ino = st.stx_ino;
  identity.type = st.stx_mode & S_IFMT;
  identity.size = st.stx_size;
  identity.hasBirth = (st.stx_mask & STATX_BTIME) != 0;
  identity.birth = {};
  if (identity.hasBirth)
    identity.birth = {static_cast<time_t>(st.stx_btime.tv_sec), st.stx_btime.tv_nsec};
  identity.mount = (st.stx_mask & (kMountIdUnique | STATX_MNT_ID)) ? st.stx_mnt_id : 0;
  return true;
}

bool FileIdentity::matches(const FileIdentity& found) const {
  if (found.dev != dev || found.ino != ino) return false;
  return !hasBirth || (found.hasBirth && found.birth.tv_sec == birth.tv_sec &&
                       found.birth.tv_nsec == birth.tv_nsec);
}

FileIdentity FileIdentity::of(const struct stat& st) {
  FileIdentity identity;
  identity.dev = st.st_dev;
  identity.ino = st.st_ino;
  identity.type = st.st_mode & S_IFMT;
  identity.size = static_cast<uint64_t>(st.st_size);
  return identity;
}

std::optional<FileIdentity> FileIdentity::ofFolder(const std::string& path) {
  struct stat st {};
  if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return std::nullopt;
  return of(st);
}
