#pragma once

#include <string>

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
