#pragma once

#include <optional>
#include <string>

#include "platform/FileIdentity.h"

class CopyChecker;
class Exclusions;
class VersionStore;
struct RunContext;

// One folder task of a run.
struct MirrorTask {
  std::string taskRoot;  // the task's folder; its last name is its folder's in the destination
  // The destination folder, recognised under any name: never walked as part of a source.
  std::optional<FileIdentity> excludedFolder;
  // Beyond the mirror, each off when null: where replaced copies are kept, the entries never
  // copied nor entered, and the reader that compares every current copy with its source.
  VersionStore* versions = nullptr;
  const Exclusions* exclusions = nullptr;
  CopyChecker* checker = nullptr;
};

// Mirrors the task's folder and all its subfolders into run.dirDestino by the update rule,
// and changes nothing of the run but its counters, log and once-per-run warnings. Never
// throws. Run as root, a link of another user is followed only to what that user could read.
// On a disk that does not tell names apart by case, a name that lands on another one's copy
// fails instead of replacing it or passing for it.
void CopiarCarpeta(const MirrorTask& task, RunContext& run);
