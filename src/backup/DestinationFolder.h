#pragma once

#include <string>

// Creates a folder with all its missing parents. It never creates a folder directly inside
// /media, /media/<user>, /run/media/<user> or /mnt: that is where removable disks are
// mounted, and a disk that is not mounted must not be replaced by a folder on the system
// disk. Returns true when the folder exists afterwards.
bool createDestinationFolder(const std::string& path);

// True when creating `folder` would put it where a removable disk is mounted.
bool isMountPointPlace(const std::string& folder);
