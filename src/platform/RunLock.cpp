#include "platform/RunLock.h"

#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>

#include "platform/PathText.h"
#include "platform/PrivateFolder.h"

std::string RunLock::fileName(const std::string& destination) {
  // FNV-1a: a fixed function, so that an older and a newer program agree on the name.
  std::uint64_t hash = 14695981039346656037ull;
  for (const char c : withoutTrailingSlash(destination)) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ull;
  }
  char name[40];
  std::snprintf(name, sizeof name, "copia-%016llx.lock", static_cast<unsigned long long>(hash));
  return name;
}

RunLock RunLock::take(const std::string& stateFolder, const std::string& destination) {
  RunLock lock;
  if (stateFolder.empty()) return lock;
  const std::string folder = withoutTrailingSlash(stateFolder);
  if ((lock.error_ = makePrivateFolder(folder)) != 0) return lock;
  const std::string path = folder + "/" + fileName(destination);
  lock.fd_.reset(::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!lock.fd_) {
    lock.error_ = errno;
    return lock;
  }
  lock.lockOpened();
  return lock;
}

RunLock RunLock::onFolder(const std::string& destination) {
  RunLock lock;
  lock.fd_.reset(::open(destination.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!lock.fd_) {
    lock.error_ = errno;
    return lock;
  }
  lock.lockOpened();
  return lock;
}

void RunLock::lockOpened() {
  while (::flock(fd_.get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    error_ = errno;
    state_ = errno == EWOULDBLOCK ? State::Busy : State::Unavailable;
    fd_.reset();
    return;
  }
  state_ = State::Held;
}
