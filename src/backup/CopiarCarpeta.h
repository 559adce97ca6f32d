#pragma once

#include <optional>
#include <string>

#include "platform/FileIdentity.h"

struct RunContext;

// One folder task of a run.
struct MirrorTask {
  std::string taskRoot;  // R: the task's path, without a trailing "/"
  // The destination folder, recognised under any name: never walked as part of a source.
  std::optional<FileIdentity> excludedFolder;
};

// Mirrors `folder` (ending in "/", inside task.taskRoot) and all its subfolders into
// run.dirDestino by the update rule. Never throws for a single file or folder. Run as root, a
// link of another user is followed only to what that user could read. On a disk that does not
// tell names apart by case, a name that lands on another one's copy fails instead of replacing
// it or passing for it.
void CopiarCarpeta(const std::string& folder, const MirrorTask& task, RunContext& run);
