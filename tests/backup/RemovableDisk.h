#pragma once

// A small FAT16 or exFAT image mounted through FUSE (the FAT drivers this machine has) for one
// test, unmounted at the end. Where a tool, FUSE or a loop device is missing, why() says so.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <string>
#include <utility>

enum class DiskKind { Fat16, Exfat };
inline void PrintTo(DiskKind kind, std::ostream* os) {
  *os << (kind == DiskKind::Fat16 ? "FAT16" : "exFAT");
}

class RemovableDisk {
 public:
  // The image goes to `image`, the disk is mounted on the existing folder `at`.
  RemovableDisk(DiskKind kind, const std::string& image, std::string at) : at_(std::move(at)) {
    const std::string img = "'" + image + "'";
    if (!run("test -w /dev/fuse") || !run("truncate -s 32M " + img)) return;
    if (kind == DiskKind::Fat16) {
      if (run("mkfs.vfat -F 16 " + img)) mounted_ = run("fusefat -o rw+ " + img + " '" + at_ + "'");
      return;
    }
    if (FILE* pipe = ::popen(
            ("mkfs.exfat " + img + " >/dev/null 2>&1 && losetup -f --show " + img + " 2>/dev/null")
                .c_str(),
            "r")) {
      char line[128] = "";
      if (std::fgets(line, sizeof line, pipe)) loop_ = std::string(line, std::strcspn(line, "\n"));
      ::pclose(pipe);
    }
    mounted_ = !loop_.empty() && run("mount.exfat-fuse " + loop_ + " '" + at_ + "'");
    if (loop_.empty()) why_ = "no loop device";
  }
  ~RemovableDisk() {
    if (mounted_) run("umount '" + at_ + "'");
    if (!loop_.empty()) run("losetup -d " + loop_);
  }
  RemovableDisk(const RemovableDisk&) = delete;
  RemovableDisk& operator=(const RemovableDisk&) = delete;

  bool mounted() const { return mounted_; }
  const std::string& why() const { return why_; }

 private:
  bool run(const std::string& command) {
    if (std::system((command + " >/dev/null 2>&1").c_str()) == 0) return true;
    if (why_.empty()) why_ = "failed: " + command;
    return false;
  }

  std::string at_;
  std::string loop_;
  std::string why_;
  bool mounted_ = false;
};
