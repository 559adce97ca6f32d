#pragma once

#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <string_view>

#include "platform/TemporaryJournal.h"
#include "platform/UniqueFd.h"

// The moments of a new file's life that tests kill a writer at.
enum class NewFileStep {
  Created,  // the temporary exists, nothing written
  Written,  // commit() begins: every byte written, mode set
  Named,    // an unnamed temporary has been given a hidden name just before the rename
  Placed,   // it stands under its own name; the folder is not synced yet
};

// The calls that give a file its owner, mode and times. Tests stand in for file systems that
// refuse them.
struct MetadataCalls {
  int (*changeOwner)(int fd, uid_t owner, gid_t group) = ::fchown;
  int (*changeMode)(int fd, mode_t mode) = ::fchmod;
  int (*setTimes)(int fd, const struct timespec times[2]) = ::futimens;
};

// What a new file may replace and how it is put in place.
struct NewFileOptions {
  // What stands under the file's name at the end. Replace: nothing, or a regular file
  // that may be written (anything else is refused). Keep: whatever is there stays and
  // commit() throws "Unable to write to <path>" (File exists).
  enum class Existing { Replace, Keep };
  Existing existing = Existing::Replace;
  // A symbolic link under the name is replaced itself (never followed) instead of refused.
  bool replaceLink = false;
  // Mode given with fchmod just before the file is put in place (it is written 0600).
  mode_t mode = 0600;
  // fsync of the file before it is put in place and of the folder afterwards. Files written
  // this way are few and slow (settings, a run's log): the name is looked at again too.
  bool durable = false;
  // Unnamed (O_TMPFILE) temporaries, linked in through /proc; off for file systems and
  // tests without them.
  bool unnamedAllowed = true;
  // Who writes: files that this user may not write are not replaced.
  uid_t user = ::geteuid();
  // The most bytes the file will hold, recorded with a named temporary so that a later
  // clean-up never takes a larger file for ours.
  uint64_t sizeLimit = std::numeric_limits<uint64_t>::max();
  MetadataCalls calls;
  // For tests: called at every step.
  std::function<void(NewFileStep)> hook;
};

// A file being written that only ever appears whole: the bytes go to a temporary in the
// target's folder, which commit() puts under the target's name (replacing the old file in
// one rename) and nothing else does. Until then, and whenever anything fails, whatever stood
// there stays as it was. The temporary is created 0600, so nobody else reads it meanwhile;
// unnamed where the file system allows, so a killed writer leaves nothing; otherwise a short
// hidden name (".resguarda-" and six letters or digits, so a target at the name length limit
// still works), locked while in use and recorded in the TemporaryJournal, so that a later
// removeLeftovers() takes what a killed writer left and never a user's file that looks like
// one. A read-only file (no write bit, root included, or not writable for this user), a
// folder, a link (unless asked) or anything that is not a regular file is never replaced.
// Every failure throws ResguardaError "Unable to write to <path>" with the system's reason,
// or, for a name the file system cannot store (FAT, exFAT), with a reason that says so.
class NewFile {
 public:
  // `name` in the open folder `dirFd` (one component); `path` names it in errors and, when
  // absolute, tells the journal where a named temporary is (else /proc is asked).
  // `known` is what the caller already found under the name (st_mode 0: nothing), to spare
  // a look; null to have it looked up. `journal` records named temporaries; null for one of
  // the file's own.
  NewFile(int dirFd, const char* name, const std::string& path, const NewFileOptions& options,
          const struct stat* known = nullptr, TemporaryJournal* journal = nullptr);
  // Without commit() the temporary is removed.
  ~NewFile();
  NewFile(const NewFile&) = delete;
  NewFile& operator=(const NewFile&) = delete;

  // The temporary, for writers of their own (pwrite, copy_file_range, futimens). A caller
  // writes either through it or through write(), not both: write() is buffered.
  int fd() const { return fd_.get(); }
  const std::string& path() const { return path_; }

  // Appends to the content (buffered).
  void write(std::string_view bytes);
  // Gives the file an owner and group; false when the file system or mount cannot store
  // them (the file keeps ours).
  bool keepOwner(uid_t owner, gid_t group);
  // The mode given before the file is put in place, instead of the options' one.
  void setMode(mode_t mode) { mode_ = mode; }
  // Gives the file its mode now rather than at commit() (an access list set afterwards
  // then wins over the group bits). False when the file system cannot store it: the
  // file keeps the mode the file system gives (set-id bits it refuses are dropped).
  bool applyMode();
  // Puts the file in place. Once only.
  void commit();

  // True when `name` has the form of our temporaries' names.
  static bool isTemporaryName(const char* name);
  // A fresh name of that form, for a caller's own short-lived hidden link.
  static std::string temporaryName();
  // True when `name`, refused with `err` while its folder is there, is refused for itself
  // by a FAT or exFAT driver (characters, or letters beyond ASCII, it cannot store).
  static bool refusesName(int err, const std::string& name);
  // Removes the named temporaries that killed writers left (see TemporaryJournal), and
  // nothing else.
  static void removeLeftovers();

 private:
  void create();
  void flush();
  [[noreturn]] void fail(int err);
  // The error of putting the file under its name: the name's own fault when the folder and
  // the temporary are still there but the file system refused the name.
  [[noreturn]] void failToPlace(int err) const;
  bool nameRefused(int err) const;
  void step(NewFileStep at) const;
  // Throws unless `found`, standing under the name, may be replaced.
  void check(const struct stat& found) const;
  // Looks under the name again, for what came to stand there meanwhile.
  void lookAgain();
  bool placeUnnamed();
  bool placeNamed();
  void linkUnderTemporaryName(const char* procPath);
  // Gives the temporary fresh names until `claim` takes one (false with errno EEXIST: taken).
  void takeFreshName(const std::function<bool()>& claim);
  void named();
  void dropName();

  int dirFd_;
  std::string name_;
  std::string path_;
  NewFileOptions options_;
  mode_t mode_;
  bool existed_ = false;
  bool done_ = false;  // committed, or failed half-way: no further write or commit
  bool modeApplied_ = false;
  std::unique_ptr<TemporaryJournal> ownJournal_;
  TemporaryJournal* journal_;
  UniqueFd fd_;
  UniqueFd lock_;  // holds the lock of a named temporary while fd_ is closed
  bool unnamed_ = false;
  bool identified_ = false;
  bool recorded_ = false;
  FileIdentity identity_;
  char tempName_[32] = {};
  std::string buffer_;
};
