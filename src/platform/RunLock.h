#pragma once

#include <string>

#include "platform/UniqueFd.h"

// One backup run per destination at a time, across processes: a lock file in the state
// folder, named after the destination, held with flock for as long as the run goes on. The
// system releases it when the process ends, however it ends, so a killed run never leaves
// the destination locked.
class RunLock {
 public:
  enum class State {
    Held,         // this run has the destination to itself
    Busy,         // another run holds it
    Unavailable,  // no lock could be taken (no state folder, a folder that is not private...)
  };

  // Takes the lock of the destination `destination` (absolute, links resolved, so that two
  // spellings of one folder share a lock) in the folder `stateFolder`, without waiting.
  static RunLock take(const std::string& stateFolder, const std::string& destination);

  State state() const { return state_; }
  // Why it is unavailable: an errno (0 when there is no state folder at all).
  int error() const { return error_; }

  // Takes the lock that the destination folder itself (existing, links resolved) carries, for
  // runs that have no state folder in common: another user's, or one whose state folder is a
  // link. Nothing is written there.
  static RunLock onFolder(const std::string& destination);

  // The lock file's name for a destination; the same in every build of the program.
  static std::string fileName(const std::string& destination);

 private:
  UniqueFd fd_;
  State state_ = State::Unavailable;
  int error_ = 0;

  // Locks the open `fd_` without waiting.
  void lockOpened();
};
