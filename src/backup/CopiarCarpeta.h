#pragma once

#include <sys/types.h>

#include <string>

struct RunContext;

// A folder by device and inode, so the walk can recognise it under any name.
struct FolderIdentity {
  dev_t dev = 0;
  ino_t ino = 0;
  bool valid = false;

  // The identity of an existing folder (links followed); invalid when it cannot be read.
  static FolderIdentity of(const std::string& path);
  bool operator==(const FolderIdentity&) const = default;
};

// One folder task of a run.
struct MirrorTask {
  std::string taskRoot;           // R: the task's path, without a trailing "/"
  FolderIdentity excludedFolder;  // the destination folder: never walked as part of a source
};

// Mirrors `folder` (ending in "/", inside task.taskRoot) and all its subfolders into
// run.dirDestino by the update rule. Never throws for a single file or folder. Run as root, a
// link of another user is followed only to what that user could read. On a disk that does not
// tell names apart by case, a name that lands on another one's copy fails instead of replacing
// it or passing for it.
void CopiarCarpeta(const std::string& folder, const MirrorTask& task, RunContext& run);
