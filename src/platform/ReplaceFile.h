#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

// Writes a file's whole new content so that readers see the old file or the new one, never
// a mix: the bytes go to a new file beside the target (unnamed where the file system allows,
// so a killed program leaves nothing behind), which is flushed to the disk and renamed over
// the target only by commit(). Until then, and whenever anything fails, the old file stays
// as it was. A link at the target is replaced, never followed. Every failure throws
// "Unable to write to <target>" with the system's reason.
class ReplaceFile {
 public:
  // Creates the new file in the target's folder with exactly `mode` (the umask aside).
  ReplaceFile(std::string target, mode_t mode);
  // Without commit() the new content is thrown away.
  ~ReplaceFile();
  ReplaceFile(const ReplaceFile&) = delete;
  ReplaceFile& operator=(const ReplaceFile&) = delete;

  const std::string& target() const { return target_; }

  // Appends to the new content (buffered).
  void write(std::string_view bytes);
  // Puts the new content in place of the target. Once only.
  void commit();

 private:
  void flush();
  void fail(int err);
  void discard() noexcept;

  std::string target_;
  std::string folder_;    // the target's folder, "" for the current one
  std::string tempName_;  // the new file's name while it has one
  int fd_ = -1;
  std::string buffer_;
};

// The whole content at once: ReplaceFile, write, commit.
void replaceFile(const std::string& target, std::string_view content, mode_t mode);
