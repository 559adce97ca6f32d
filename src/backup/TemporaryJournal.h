#pragma once

#include <sys/stat.h>

#include <string>

#include "backup/UniqueFd.h"

// The named temporaries this program has at destinations, recorded while they exist, so
// that a later run removes what a killed run left and nothing else: a user's file that only
// looks like one of ours is never in it. The journal is a private folder,
// $XDG_STATE_HOME/resguarda/temporales (default ~/.local/state/resguarda/temporales), with one
// entry per live temporary: a symbolic link named after the temporary's device and inode,
// whose target is its full path, so recording it costs one system call. Without a journal
// (no home folder, or a folder that is not private) named leftovers are simply left alone.
class TemporaryJournal {
 public:
  TemporaryJournal() = default;
  TemporaryJournal(const TemporaryJournal&) = delete;
  TemporaryJournal& operator=(const TemporaryJournal&) = delete;

  // The journal folder as the environment gives it, "" when it cannot be known.
  static std::string folder();

  // Removes every recorded temporary still found as it was recorded (same path, device and
  // inode, one of our names, a regular file that no live writer holds locked), then its
  // entry. Entries of temporaries still being written stay; so do entries whose folder
  // cannot be reached (a disk not mounted now) until they are a month old.
  static void removeLeftovers();

  // Records the temporary whose status is `file` under the absolute `path`. False when
  // there is no journal. The folder is made (0700) on the first record.
  bool record(const struct stat& file, const std::string& path);
  void forget(const struct stat& file);

 private:
  int folderFd();

  UniqueFd fd_;
  bool tried_ = false;
};
