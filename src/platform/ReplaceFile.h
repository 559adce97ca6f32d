#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <string_view>

#include "platform/NewFile.h"
#include "platform/UniqueFd.h"

// A NewFile named by its path, for the few files that must survive a crash once written
// (the settings, a run's log): flushed to the disk with its folder, and a link at the target
// is replaced (never followed). A read-only file, a folder or anything else that is not a
// regular file at the target is not replaced. Every failure throws
// "Unable to write to <target>" with the system's reason.
class ReplaceFile {
 public:
  // Starts the new file in the target's folder; `mode` is its mode once in place, whatever
  // the umask.
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
  std::string target_;
  UniqueFd folder_;
  std::unique_ptr<NewFile> file_;
};

// The whole content at once: ReplaceFile, write, commit.
void replaceFile(const std::string& target, std::string_view content, mode_t mode);
