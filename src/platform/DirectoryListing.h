#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The one way the program lists a folder.
// The names of one folder, read once with getdents64 into a buffer that is kept and reused
// for the next folder, so walking a large tree allocates almost nothing per folder. The
// entries keep the order the file system gives; "." and ".." are left out.
class DirectoryListing {
 public:
  // Reads the whole listing of a freshly opened folder. False, with errno set, when it cannot be
  // read; the listing is then empty.
  bool read(int dirFd);

  std::size_t size() const { return entries_.size(); }
  // NUL-terminated, valid until the next read().
  const char* name(std::size_t i) const { return raw_.data() + entries_[i].nameOffset; }
  // The DT_* type the file system reported (DT_UNKNOWN when it does not say).
  unsigned char type(std::size_t i) const { return entries_[i].type; }

  // The names of the open folder `folderFd`, read through a descriptor of their own (the
  // caller's is left where it was), for a folder listed once; nothing when it cannot be read.
  static std::optional<std::vector<std::string>> namesOf(int folderFd);

 private:
  struct Entry {
    uint32_t nameOffset;
    unsigned char type;
  };
  std::vector<char> raw_;
  std::vector<Entry> entries_;
};
