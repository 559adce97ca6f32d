#pragma once

#include <sys/stat.h>
#include <time.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/NewFile.h"

// Copies `source` to `destination` (both full file paths), creating the destination's
// folder chain. The bytes go to a temporary file in the destination folder that replaces
// the old copy only once complete, so a failed, abandoned or killed copy leaves the old copy
// (or nothing). A read-only destination file is not replaced, and a link or anything else
// that is not a regular file at the destination is left as it is. The copy keeps the
// source's access and modification times, permission bits plus the owner's write bit (as root
// also owner and group), its user.* attributes and access lists; a source that changed while
// it was copied, or just before, dates its copy one DOS step older so that the next run takes
// it again. A copy whose file system kept a later time than the one given is dated a step
// older still. What the destination cannot store (owners and modes on FAT, attributes) does
// not stop the copy: see FileCopier::metadataNotKept(). Holes stay holes. Raising
// `abandon` gives up the copy at its next chunk. Throws ResguardaError (path and reason) on
// any failure.
void CopyFiles(const std::string& source, const std::string& destination,
               const std::atomic<bool>& abandon);

// A file named relative to an open folder; `folder` (ending in "/") only names it in errors.
struct FileAt {
  int dirFd;
  const std::string& folder;
  const char* name;
  bool followLink = true;  // false: a link standing under the name is refused (ELOOP)
  int openFd = -1;         // a source opened already (the name only names it)

  std::string path() const { return folder + name; }
};

// What becomes of the copy that a new one replaces, told just before the new one is put in
// place.
class ReplacedCopy {
 public:
  virtual ~ReplacedCopy() = default;
  // Moves the old copy aside; when it throws, the new copy is dropped and the old one stays.
  virtual void keep() = 0;
  // The new copy could not be put in place after all: the old one goes back if it can.
  virtual void putBack() noexcept = 0;
};

// The copier behind CopyFiles, for callers that copy many files relative to open folders.
// It keeps its buffer between copies. Not thread-safe: one per thread.
class FileCopier {
 public:
  explicit FileCopier(const std::atomic<bool>& abandon);
  ~FileCopier();
  FileCopier(const FileCopier&) = delete;
  FileCopier& operator=(const FileCopier&) = delete;

  // Copies source to destination; the destination folder must exist. `knownDestination`
  // is what the caller already found at the destination (st_mode 0 = nothing there), or
  // null to have it looked up. A name the destination's file system refuses fails with
  // "el disco de destino no admite este nombre de archivo"; a source that changed during its
  // copy, on a disk that keeps no time older than the copy's, with "el disco de destino no
  // guarda la fecha de la copia" (such a copy would look current). `replaced`, when given,
  // hears of the old copy's replacement.
  void copy(const FileAt& source, const FileAt& destination,
            const struct stat* knownDestination = nullptr, ReplacedCopy* replaced = nullptr);

  // What the destination could not keep of the copies placed so far (FileCopier::notKept()).
  enum NotKept : unsigned {
    OwnerNotKept = 1u,       // as root: owner and group
    ModeNotKept = 2u,        // permission or set-id bits
    AttributesNotKept = 4u,  // user.* attributes or an access list
    TimeNotKept = 8u,        // the time given: dated a step older, or as the copy was made
  };
  // True once any copy of this copier was placed without something its file system cannot
  // store; the copy itself is good. A run tells it once per destination.
  bool metadataNotKept() const { return notKept_ != 0; }
  unsigned notKept() const { return notKept_; }
  // The notice for a notKept() mask, in the user's words ("" for none), e.g. "el disco de
  // destino no guarda propietarios ni permisos de las copias".
  static std::string notKeptNotice(unsigned notKept);

  // Removes the named temporaries that killed copies left (see NewFile), and nothing else.
  // A run calls it once at its start.
  static void removeRecordedLeftovers();

  // For tests: bytes per kernel copy or buffer, a call after every chunk (with the bytes
  // copied so far), whether unnamed (O_TMPFILE) temporaries may be used, the clock read just
  // before copying, stand-ins for the calls that set owner, mode and times, and a call at
  // every step of the temporary.
  void setChunkSize(std::size_t bytes) { chunk_ = bytes; }
  void setChunkObserver(std::function<void(uint64_t)> observer) {
    chunkObserver_ = std::move(observer);
  }
  void setUnnamedTemporaries(bool allowed) { options_.unnamedAllowed = allowed; }
  void setClock(timespec (*clock)()) { clock_ = clock; }
  void setMetadataCalls(const MetadataCalls& calls) { options_.calls = calls; }
  void setStepHook(std::function<void(NewFileStep)> hook) { options_.hook = std::move(hook); }

 private:
  // Copies `length` bytes from `offset` to the same offset of `out`.
  void copyRange(int in, const FileAt& source, int out, const std::string& destination,
                 uint64_t offset, uint64_t length, uint64_t& done, bool& inKernel);
  // Copies only the data of a file with holes, then sets its size.
  void copySparse(int in, const FileAt& source, int out, const std::string& destination,
                  uint64_t size);
  // The times a finished copy was given, and the file they were given to.
  struct Dated {
    timespec times[2];
    dev_t dev;
    ino_t ino;
    bool mustLookOlder;  // its source changed during or just before the copy
  };
  // Gives the finished temporary its owner, mode, attributes and times, and checks what the
  // file system kept of them.
  Dated finish(NewFile& out, int in, const struct stat& before, const struct stat& after,
               const timespec& now);
  // Dates the file again where the file system kept a later time: false when it cannot.
  bool dateOlder(int fd, const char* name, Dated& dated, struct stat& kept);
  // Some drivers (fusefat) date a file anew when it is renamed into place.
  void checkPlacedTime(const FileAt& destination, Dated& dated);

  const std::atomic<bool>& abandon_;
  std::size_t chunk_;
  std::function<void(uint64_t)> chunkObserver_;
  // A copy is not synced on its own: the run ends with one syncfs per file system.
  NewFileOptions options_;
  bool root_;
  timespec (*clock_)();
  std::unique_ptr<TemporaryJournal> journal_;
  std::unique_ptr<char[]> buffer_;
  std::size_t bufferSize_ = 0;
  unsigned notKept_ = 0;
};
