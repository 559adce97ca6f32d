#include "backup/OwnerAccess.h"

#include <fcntl.h>
#include <grp.h>
#include <linux/capability.h>
#include <pwd.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <exception>
#include <thread>

OwnerRights OwnerRights::of(const struct stat& link) {
  OwnerRights who;
  who.uid = link.st_uid;
  who.gid = link.st_gid;
  std::vector<char> buffer(16384);
  struct passwd entry {};
  struct passwd* found = nullptr;
  if (::getpwuid_r(link.st_uid, &entry, buffer.data(), buffer.size(), &found) != 0 || !found)
    return who;
  int count = 32;
  for (int attempt = 0; attempt < 4; ++attempt) {
    who.groups.resize(static_cast<std::size_t>(count));
    const int wanted = count;
    if (::getgrouplist(found->pw_name, link.st_gid, who.groups.data(), &count) >= 0) {
      who.groups.resize(static_cast<std::size_t>(count));
      return who;
    }
    if (count <= wanted) count = wanted * 2;
  }
  who.groups.clear();
  return who;
}

int openWithRightsOf(const OwnerRights& who, int dirFd, const char* name, int flags) {
  int fd = -1;
  int err = EPERM;
  // The raw system calls change the calling thread alone (the C library would change every
  // thread's groups); the thread ends with them.
  const auto body = [&] {
    if (::syscall(SYS_setgroups, who.groups.size(), who.groups.data()) != 0) {
      err = errno;
      return;
    }
    ::syscall(SYS_setfsgid, who.gid);
    ::syscall(SYS_setfsuid, who.uid);
    // The change of ids drops root's power over permissions, unless the process asked to
    // keep it: it is dropped here in any case.
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct caps[2]{};
    if (::syscall(SYS_capget, &header, caps) != 0) return;
    for (const int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER})
      caps[cap / 32].effective &= ~(1u << (cap % 32));
    if (::syscall(SYS_capset, &header, caps) != 0) return;
    // Asking with an impossible id changes nothing and tells the ids in force.
    if (static_cast<gid_t>(::syscall(SYS_setfsgid, -1)) != who.gid ||
        static_cast<uid_t>(::syscall(SYS_setfsuid, -1)) != who.uid)
      return;
    fd = ::openat(dirFd, name, flags | O_CLOEXEC);
    err = errno;
  };
  try {
    std::thread(body).join();
  } catch (const std::exception&) {
    err = EAGAIN;
  }
  if (fd < 0) errno = err;
  return fd;
}
