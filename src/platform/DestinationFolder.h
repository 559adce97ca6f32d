#pragma once

#include <string>
#include <vector>

// Creates the destination folder with all its missing parents, never where a removable disk
// is mounted (see createFolderChain). 0 when the folder exists afterwards, else the errno of
// the first folder that could not be made (ENOENT also for an empty path).
int createDestinationFolder(const std::string& path);

// A folder where a disk may be mounted, and the folder it stands in: a disk is there when
// their devices differ.
struct MountPlace {
  std::string folder;
  std::string parent;
};

// The places where the disk of `destination` (absolute, links resolved) would be mounted
// when it lies in a mount area (/mnt, /media/<user>, /run/media/<user>): the component right
// below the area, and the area itself, which may be a disk of its own (a disk mounted at
// /mnt or straight at /media/<name>). Empty elsewhere.
std::vector<MountPlace> diskMountPlaces(const std::string& destination);

// True when `destination` lies in a mount area but on no disk mounted there: a folder left
// behind by a disk that is not plugged in, on the system disk.
bool destinationDiskMissing(const std::string& destination);

// 0 when copies can be written to the existing folder `path`; EROFS for a folder on a file
// system mounted read-only.
int destinationReadOnly(const std::string& path);
