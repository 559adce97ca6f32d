#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <vector>

// A user's file-system rights: the owner of a link, with the groups that user belongs to.
struct OwnerRights {
  uid_t uid = 0;
  gid_t gid = 0;
  std::vector<gid_t> groups;

  // The rights of whoever owns `link` (its lstat): its owner and group, plus the groups the
  // user database gives that user (none for an unknown user).
  static OwnerRights of(const struct stat& link);
};

// Opens `name` in the open folder `dirFd` (links followed unless `flags` says O_NOFOLLOW) with
// `who`'s rights alone, never root's: every folder on the way must let that user search it and
// the target must let that user read it. A thread of its own takes those rights for the one
// call, so the rest of the process keeps its own. The descriptor, or -1 with errno set.
int openWithRightsOf(const OwnerRights& who, int dirFd, const char* name, int flags);
