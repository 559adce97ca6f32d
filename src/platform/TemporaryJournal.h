#pragma once

#include <cstdint>
#include <limits>
#include <string>

#include "platform/FileIdentity.h"
#include "platform/UniqueFd.h"

// The named temporaries of new files (see NewFile) this program has, recorded while they exist,
// so that a later run removes what a killed run left and nothing else: a user's file that only
// looks like one of ours is never in it. The journal is a private folder, temporales in the
// state folder (see stateFolder), with one entry per live temporary: a symbolic link whose target
// is the temporary's full path (with its random name) and whose name holds what else is known of
// it: device, inode, birth time where the file system keeps one, the mount and the boot it was made
// on, the most bytes it could come to hold. So recording it costs one system call.
//
// While the disk stays mounted, the file must be that very one (an inode number is soon given
// to the next file made). A disk plugged in again (FAT and exFAT above all, whose inode and
// device numbers are made up at each mount) is told by its mount: there the file must stand at
// the recorded path under its random name, be no larger than recorded, and keep its birth time
// where the file system has one. The state folder is made and checked as every private
// folder of the program (see makePrivateFolder), else there is no journal. Without a journal (no
// home folder, or a folder that is not private) named leftovers are simply left alone.
class TemporaryJournal {
 public:
  static constexpr uint64_t kNoSizeLimit = std::numeric_limits<uint64_t>::max();

  TemporaryJournal() = default;
  TemporaryJournal(const TemporaryJournal&) = delete;
  TemporaryJournal& operator=(const TemporaryJournal&) = delete;

  // The journal folder as the environment gives it, "" when it cannot be known.
  static std::string folder();

  // Removes every recorded temporary still found as it was recorded (see above: one of our
  // names at its recorded path, a regular file that no live writer holds locked), then its
  // entry. Entries of temporaries still being written stay; so do entries whose file cannot
  // be looked at, or is missing from a disk that may not be the one it was written on (a disk
  // not mounted now), until they are a month old.
  static void removeLeftovers();

  // Records the temporary `file` under the absolute `path`, never to grow beyond `sizeLimit`
  // bytes. False when there is no journal. The folders are made (0700) on the first record.
  bool record(const FileIdentity& file, const std::string& path, uint64_t sizeLimit = kNoSizeLimit);
  void forget(const FileIdentity& file, uint64_t sizeLimit = kNoSizeLimit);

 private:
  int folderFd();

  UniqueFd fd_;
  bool tried_ = false;
};
