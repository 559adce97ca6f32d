#pragma once

#include <ctime>
#include <string>
#include <unordered_set>
#include <vector>

#include "platform/UniqueFd.h"

// Where the copies an update replaces are kept: <destination>versiones/<run's start>/<task
// folder name>/<path below the task>. A copy is moved there by rename (same disk, no second
// copy of its data), and the folders on the way are made below the destination without ever
// following a link. Each run folder holds a list of what this program moved and made there
// (kVersionListName), so that pruning removes that and nothing else.
//
// The walk makes one VersionStore per run when VERSIONES is on and, just before an update
// replaces the copy `name` in the open destination folder `copyFolderFd` (its new content
// written whole, before NewFile::commit()), calls
//   store.keep(copyFolderFd, name, taskFolderName, below, sourcePath);
// If that throws, the copy must stay as it is: the walk drops the new file, logs the error
// ("ERROR - ...") and goes on with the next file. If commit() then fails, restore() puts the
// old copy back. At the start of the run, before the tasks, the run calls
//   pruneVersions(dirDestino, diasVersiones, now)
// when DIAS_VERSIONES is above 0, and logs each problem it returns as an ERROR line.

inline constexpr const char* kVersionsFolder = "versiones";
inline constexpr const char* kVersionListName = ".resguarda-versiones";

class VersionStore {
 public:
  // `destination` is DIR_DESTINO (ending in "/"); `runStart` the run's start.
  VersionStore(std::string destination, time_t runStart);
  ~VersionStore();
  VersionStore(const VersionStore&) = delete;
  VersionStore& operator=(const VersionStore&) = delete;

  // "AAAA-MM-DD HH.MM.SS" in local time.
  static std::string stampOf(time_t when);
  const std::string& stamp() const { return stamp_; }
  // Where the copy of `below` (path below the task folder) goes.
  std::string versionPath(const std::string& taskFolderName, const std::string& below) const;

  // Moves the regular file `name` of `copyFolderFd` to versionPath(taskFolderName, below).
  // False when there is nothing there that an update may replace (no file, a read-only one,
  // a link or anything else): it is left where it is. False too when this store kept that
  // path already: what stands there now is a copy of this run (tasks merged in one folder). Throws
  // ResguardaError "Unable to write to <version path>" with the reason, naming `logPath` in the
  // log, when it cannot be kept (the copy is then where it was). Nothing already under the
  // version's name is replaced.
  bool keep(int copyFolderFd, const char* name, const std::string& taskFolderName,
            const std::string& below, const std::string& logPath);
  // Puts a kept copy back under `name` when the new copy could not be put in place after
  // all, unless something stands there now. False when it could not.
  bool restore(int copyFolderFd, const char* name, const std::string& taskFolderName,
               const std::string& below);

 private:
  // The open version folder for the folder part of `relative` (below the run folder),
  // made where missing.
  int versionFolder(const std::string& relative, const std::string& logPath);
  void openRunFolder(const std::string& logPath);
  void record(const std::string& line, const std::string& logPath);

  std::string destination_;
  std::string stamp_;
  UniqueFd root_;
  UniqueFd runFolder_;
  UniqueFd list_;
  std::string lastFolder_;  // relative path of lastFolderFd_, below the run folder
  UniqueFd lastFolderFd_;
  std::unordered_set<std::string> kept_;  // relative paths kept by this store
};

// What pruning could not remove, for an ERROR line.
struct VersionProblem {
  std::string path;
  std::string reason;
};

// Removes what this program kept in run folders of `destination`versiones/ older than `days`
// days at `now`: each file on a run folder's list that is still the regular file it moved,
// then the folders it made once they are empty, then the list and the run folder if empty.
// Anything else (a user's file, a folder holding one, a link, a folder with no list) stays.
// Links are never followed.
std::vector<VersionProblem> pruneVersions(const std::string& destination, int days, time_t now);
