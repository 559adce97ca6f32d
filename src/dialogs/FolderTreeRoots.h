#pragma once

#include <QString>
#include <string>
#include <vector>

// The top items of the folder picker's tree: the places where a user keeps documents or
// plugs in a backup disk, then the whole file system.
struct FolderRoot {
  enum class Kind { Home, UserFolder, Disk, FileSystem };
  std::string path;
  QString label;
  Kind kind;
};

struct FolderRootSources {
  std::string home;
  std::vector<std::string> userFolders;  // the XDG user folders, in display order
  std::vector<std::string> diskParents;  // folders whose entries are mounted disks

  // This user's: HOME, the XDG folders, /media/<login>, /run/media/<login> and /mnt.
  static FolderRootSources current();
};

// Home, the user folders other than home, every visible folder in the disk parents (sorted),
// then "/". Only existing folders, each path once.
std::vector<FolderRoot> folderTreeRoots(const FolderRootSources& sources);
