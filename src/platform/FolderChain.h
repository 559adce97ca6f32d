#pragma once

#include <sys/types.h>

#include <string>

#include "platform/UniqueFd.h"

// Creates every missing folder of `folder` (with or without a trailing "/"), outermost
// first. Returns 0, or the errno of the first folder that could not be made. A folder is
// never created where removable disks are mounted (isMountPointPlace): there a missing
// folder means a disk that is not mounted, and creating it would send the copy onto the
// system disk (ENOENT then).
// The folder's links, "." and ".." are resolved first (resolveFolderPath), so the guard
// sees where the folder really goes.
int createFolderChain(const std::string& folder);

// The absolute form of `folder` without a trailing "/": every link, "." and ".." of the part
// that exists resolved, the rest appended as written (without "." parts). Empty when `folder`
// is not absolute, or a ".." follows a folder that is not there.
std::string resolveFolderPath(const std::string& folder);

// True when creating `folder` would put it where a removable disk is mounted: directly
// inside /mnt, /media, /media/<user> (unless that is itself a disk) or /run/media/<user>.
bool isMountPointPlace(const std::string& folder);

// One level of a folder chain below an open folder, never reached through a link.
struct ChildFolder {
  UniqueFd fd;               // open, or not
  int error = 0;             // why not: ENOENT when missing (and not made), else the system's errno
  bool link = false;         // a symbolic link stands there: never followed
  bool made = false;         // made just now
  bool nameRefused = false;  // the disk cannot store its name (FAT, exFAT)
};

// Opens the folder `name` inside the open folder `parent` without following a link; when it
// is missing and `create`, makes it with `mode` first, unless `path` (its full path; "" for
// no check) is where a removable disk is mounted (isMountPointPlace).
ChildFolder openChildFolder(int parent, const char* name, bool create, mode_t mode,
                            const std::string& path);
