#pragma once

#include <string>

// Creates every missing folder of `folder` (with or without a trailing "/"), outermost
// first. Returns 0, or the errno of the first folder that could not be made. A folder is
// never created where removable disks are mounted (isMountPointPlace): there a missing
// folder means a disk that is not mounted, and creating it would send the copy onto the
// system disk (ENOENT then).
int createFolderChain(const std::string& folder);

// True when creating `folder` would put it where a removable disk is mounted: directly
// inside /mnt, /media, /media/<user> (unless that is itself a disk) or /run/media/<user>.
bool isMountPointPlace(const std::string& folder);
