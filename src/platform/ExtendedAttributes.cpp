#include "platform/ExtendedAttributes.h"

#include <sys/xattr.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

constexpr char kUserPrefix[] = "user.";
constexpr char kAccessList[] = "system.posix_acl_access";
constexpr char kDefaultList[] = "system.posix_acl_default";
constexpr std::size_t kFirstListSize = 1024;

// How Linux stores a POSIX access list: a 4-byte version, then entries of a 16-bit tag, 16-bit
// permissions and a 32-bit id, all little-endian.
constexpr std::size_t kListHeader = 4;
constexpr std::size_t kListEntry = 8;
constexpr uint16_t kOwnerEntry = 0x01;
constexpr uint16_t kGroupEntry = 0x04;
constexpr uint16_t kWrite = 0x02;

bool keptOnCopies(const char* name) {
  return std::strncmp(name, kUserPrefix, sizeof kUserPrefix - 1) == 0 ||
         std::strcmp(name, kAccessList) == 0 || std::strcmp(name, kDefaultList) == 0;
}

uint16_t read16(const char* at) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(at);
  return static_cast<uint16_t>(bytes[0] | (bytes[1] << 8));
}

void write16(char* at, uint16_t value) {
  at[0] = static_cast<char>(value & 0xff);
  at[1] = static_cast<char>(value >> 8);
}

// Gives the owner entry write permission; returns the owning group entry's bits (-1: none).
int readAccessList(std::vector<char>& list, bool ownerWrites) {
  int group = -1;
  for (std::size_t at = kListHeader; at + kListEntry <= list.size(); at += kListEntry) {
    const uint16_t tag = read16(&list[at]);
    const uint16_t permissions = read16(&list[at + 2]);
    if (tag == kOwnerEntry && ownerWrites) write16(&list[at + 2], permissions | kWrite);
    if (tag == kGroupEntry) group = permissions & 07;
  }
  return group;
}

// The names of `fd`'s attributes, NUL-separated; false when there are none to read.
bool listNames(int fd, std::vector<char>& names) {
  if (names.size() < kFirstListSize) names.resize(kFirstListSize);
  for (int attempt = 0; attempt < 4; ++attempt) {
    const ssize_t got = ::flistxattr(fd, names.data(), names.size());
    if (got >= 0) {
      names.resize(static_cast<std::size_t>(got));
      return got > 0;
    }
    if (errno != ERANGE) return false;
    const ssize_t needed = ::flistxattr(fd, nullptr, 0);
    if (needed <= 0) return false;
    names.resize(static_cast<std::size_t>(needed));
  }
  return false;
}

// The value of one attribute; false when it went away or cannot be read.
bool readValue(int fd, const char* name, std::vector<char>& value) {
  for (int attempt = 0; attempt < 4; ++attempt) {
    const ssize_t got = ::fgetxattr(fd, name, value.data(), value.size());
    if (got >= 0) {
      value.resize(static_cast<std::size_t>(got));
      return true;
    }
    if (errno != ERANGE) return false;
    const ssize_t needed = ::fgetxattr(fd, name, nullptr, 0);
    if (needed < 0) return false;
    value.resize(static_cast<std::size_t>(needed));
  }
  return false;
}

}  // namespace

CopiedAttributes copyExtendedAttributes(int from, int to, bool ownerWrites) {
  CopiedAttributes result;
  thread_local std::vector<char> names;
  if (!listNames(from, names)) return result;
  std::vector<char> value(256);
  for (std::size_t at = 0; at < names.size();) {
    const char* name = &names[at];
    at += std::strlen(name) + 1;
    if (!keptOnCopies(name)) continue;
    if (!readValue(from, name, value)) {
      // Removed since it was listed: nothing to keep.
      if (errno != ENODATA) result.allKept = false;
      continue;
    }
    const bool accessList = std::strcmp(name, kAccessList) == 0;
    const int group = accessList ? readAccessList(value, ownerWrites) : -1;
    if (::fsetxattr(to, name, value.data(), value.size(), 0) != 0) {
      result.allKept = false;
      if (accessList) result.ownGroupBits = group;
    }
  }
  return result;
}
