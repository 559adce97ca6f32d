#pragma once

#include <sys/types.h>

#include <string>
#include <unordered_map>
#include <unordered_set>

// Tells the kernel's pseudo file systems (proc, sysfs, devtmpfs, cgroup, debugfs...) from
// real ones: a backup never enters them, since their files are views of the running system
// (some endless, some whole-memory images), not data. Known by the mount table where /proc
// shows it, else by the file system's magic number. Answers are kept per device.
class PseudoFileSystems {
 public:
  // Reads the current mount table (nothing when /proc is not there).
  PseudoFileSystems();

  // True when the file system of device `dev` is a pseudo one; `fd` is any descriptor on it
  // (a folder, or a file opened with O_PATH), used when the mount table does not know it.
  bool contains(dev_t dev, int fd);

  // For tests: the mount table's lines as /proc/self/mountinfo gives them.
  void readMountTable(const std::string& mountinfo);
  static bool isPseudoType(const std::string& fileSystemType);
  static bool isPseudoMagic(long magic);

 private:
  std::unordered_set<dev_t> pseudoMounts_;
  std::unordered_set<dev_t> realMounts_;
  std::unordered_map<dev_t, bool> known_;
};
