#pragma once

// A small FAT16 or exFAT disk image mounted through FUSE for one test (the FAT drivers this
// machine has), unmounted at the end. Where a tool, FUSE or a loop device is missing,
// mounted() is false and why() says so, for the test to skip with.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/TempTree.h"

enum class DiskKind { Fat16, Exfat };

class RemovableDisk {
 public:
  RemovableDisk(DiskKind kind, const TempTree& tree)
      : image_(tree.path("disk.img")), mountPoint_(tree.path("disk")) {
    if (::access("/dev/fuse", R_OK | W_OK) != 0) {
      why_ = "no /dev/fuse";
      return;
    }
    const_cast<TempTree&>(tree).mkdir("disk");
    if (!run("truncate -s 32M '" + image_ + "'")) return;
    if (kind == DiskKind::Fat16) {
      if (!run("mkfs.vfat -F 16 '" + image_ + "'") ||
          !run("fusefat -o rw+ '" + image_ + "' '" + mountPoint_ + "'"))
        return;
    } else {
      if (!run("mkfs.exfat '" + image_ + "'")) return;
      loop_ = output("losetup -f --show '" + image_ + "'");
      if (loop_.empty()) {
        why_ = "no loop device";
        return;
      }
      if (!run("mount.exfat-fuse '" + loop_ + "' '" + mountPoint_ + "'")) return;
    }
    mounted_ = true;
  }
  ~RemovableDisk() {
    if (mounted_) run("umount '" + mountPoint_ + "'");
    if (!loop_.empty()) run("losetup -d '" + loop_ + "'");
  }
  RemovableDisk(const RemovableDisk&) = delete;
  RemovableDisk& operator=(const RemovableDisk&) = delete;

  bool mounted() const { return mounted_; }
  const std::string& why() const { return why_; }
  const std::string& mountPoint() const { return mountPoint_; }

 private:
  bool run(const std::string& command) {
    if (std::system((command + " >/dev/null 2>&1").c_str()) == 0) return true;
    if (why_.empty()) why_ = "failed: " + command;
    return false;
  }
  static std::string output(const std::string& command) {
    std::string text;
    if (FILE* pipe = ::popen((command + " 2>/dev/null").c_str(), "r")) {
      char buffer[256];
      while (std::fgets(buffer, sizeof buffer, pipe)) text += buffer;
      ::pclose(pipe);
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
  }

  std::string image_;
  std::string mountPoint_;
  std::string loop_;
  std::string why_;
  bool mounted_ = false;
};
