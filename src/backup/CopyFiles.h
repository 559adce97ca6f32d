#pragma once

#include <sys/stat.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// Copies `source` to `destination` (both full file paths), creating the destination's
// folder chain. The bytes go to a temporary file in the destination folder that replaces
// the old copy only once complete, so a failed, abandoned or killed copy leaves the old copy
// (or nothing). A read-only destination file is not replaced. The copy gets the ordinary
// mode and the time of the copy as its modification time. Raising `abandon` gives up the
// copy at its next chunk. Throws ResguardaError (path and reason) on any failure.
void CopyFiles(const std::string& source, const std::string& destination,
               const std::atomic<bool>& abandon);

// A file named relative to an open folder; `folder` (ending in "/") only names it in errors.
struct FileAt {
  int dirFd;
  const std::string& folder;
  const char* name;

  std::string path() const { return folder + name; }
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
  // null to have it looked up.
  void copy(const FileAt& source, const FileAt& destination,
            const struct stat* knownDestination = nullptr);

  // Removes temporaries left in a folder by a copy that was killed. Ones still being
  // written (by another process) are left alone.
  static void removeLeftovers(int dirFd);
  // True when `name` has the form of this copier's temporary names.
  static bool isTemporaryName(const char* name);

  // For tests: bytes per kernel copy or buffer, a call after every chunk (with the bytes
  // copied so far), and whether unnamed (O_TMPFILE) temporaries may be used.
  void setChunkSize(std::size_t bytes) { chunk_ = bytes; }
  void setChunkObserver(std::function<void(uint64_t)> observer) {
    chunkObserver_ = std::move(observer);
  }
  void setUnnamedTemporaries(bool allowed) { unnamedAllowed_ = allowed; }

 private:
  class Temporary;
  void copyBytes(int in, const FileAt& source, int out, const FileAt& destination, uint64_t size);

  const std::atomic<bool>& abandon_;
  std::size_t chunk_;
  std::function<void(uint64_t)> chunkObserver_;
  bool unnamedAllowed_;
  std::unique_ptr<char[]> buffer_;
  std::size_t bufferSize_ = 0;
};
