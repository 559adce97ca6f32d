#pragma once

#include <string>

// Creates every missing folder of `folder` (with or without a trailing "/"), outermost
// first. Returns 0, or the errno of the first folder that could not be made. A folder is
// never created directly inside /media, /media/<user>, /run/media/<user> or /mnt: there a
// missing folder means a removable disk that is not mounted, and creating it would send the
// copy onto the system disk (ENOENT then).
int createFolderChain(const std::string& folder);

// True when `parent` is one of the places where removable disks are mounted.
bool isMountParent(const std::string& parent);
