#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <optional>
#include <string>

// What tells a file or folder apart from others, under any name, and from one that later gets
// its inode.
struct FileIdentity {
  dev_t dev = 0;
  ino_t ino = 0;
  mode_t type = 0;  // S_IFMT bits
  bool hasBirth = false;
  struct timespec birth {};
  // The mount it was found on, never given to another mount while the machine runs; 0 when
  // the kernel does not tell.
  uint64_t mount = 0;
  uint64_t size = 0;

  // Of `name` in `dirFd` as statx takes them (AT_EMPTY_PATH with "" for an open file);
  // false when it cannot be read.
  static bool of(int dirFd, const char* name, int flags, FileIdentity& identity);
  // Device, inode, type and size of what `st` describes (no birth time).
  static FileIdentity of(const struct stat& st);
  // Of the folder `path` names, links followed; nullopt when it is no folder or cannot be read.
  static std::optional<FileIdentity> ofFolder(const std::string& path);

  // The same inode on the same device: the same file while the disk stays mounted.
  bool sameInode(const FileIdentity& other) const { return dev == other.dev && ino == other.ino; }
  // True when `found` is the file this identity was taken of, also after its inode was freed.
  bool matches(const FileIdentity& found) const;
};
