#pragma once

#include <sys/stat.h>

#include <string>

#include "platform/UniqueFd.h"

// What tells a file apart from one that later gets its inode.
struct FileIdentity {
  dev_t dev = 0;
  ino_t ino = 0;
  mode_t type = 0;  // S_IFMT bits
  bool hasBirth = false;
  struct timespec birth {};

  // Of `name` in `dirFd` as statx takes them (AT_EMPTY_PATH with "" for an open file);
  // false when it cannot be read.
  static bool of(int dirFd, const char* name, int flags, FileIdentity& identity);
  // True when `found` is the file this identity was taken of.
  bool matches(const FileIdentity& found) const;
};

// The named temporaries of new files (see NewFile) this program has, recorded while they exist, so
// that a later run removes what a killed run left and nothing else: a user's file that only
// looks like one of ours is never in it. The journal is a private folder,
// $XDG_STATE_HOME/resguarda/temporales (default ~/.local/state/resguarda/temporales), with one
// entry per live temporary: a symbolic link named after the temporary's device and inode,
// whose target is its full path, so recording it costs one system call. Where the file system
// keeps the time a file was born, that goes into the name too: an inode number is soon given
// to the next file made, so a user's file put under a leftover's name may well have it. Without a
// journal (no home folder, or a folder that is not private) named leftovers are simply left alone.
class TemporaryJournal {
 public:
  TemporaryJournal() = default;
  TemporaryJournal(const TemporaryJournal&) = delete;
  TemporaryJournal& operator=(const TemporaryJournal&) = delete;

  // The journal folder as the environment gives it, "" when it cannot be known.
  static std::string folder();

  // Removes every recorded temporary still found as it was recorded (same path, device,
  // inode and birth time, one of our names, a regular file that no live writer holds
  // locked), then its entry. Entries of temporaries still being written stay; so do entries whose
  // folder cannot be reached (a disk not mounted now) until they are a month old.
  static void removeLeftovers();

  // Records the temporary `file` under the absolute `path`. False when there is no
  // journal. The folder is made (0700) on the first record.
  bool record(const FileIdentity& file, const std::string& path);
  void forget(const FileIdentity& file);

 private:
  int folderFd();

  UniqueFd fd_;
  bool tried_ = false;
};
