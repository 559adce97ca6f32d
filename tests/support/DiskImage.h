#pragma once

#include <sys/types.h>

#include <string>

// A small disk image formatted as a USB stick is and mounted through FUSE (the file-system
// drivers a stick gets when the kernel has none), in a private temporary folder, for one
// test. The destructor unmounts it (lazily when it is busy), frees its loop device and removes
// the folder, also when the test failed. Mounting needs root, /dev/fuse, a free loop device
// (exFAT) and the tools; where one is missing, missing() says which and the test skips.
class DiskImage {
 public:
  enum class Kind { Fat16, Exfat };

  explicit DiskImage(Kind kind, int megabytes = 32);
  ~DiskImage();
  DiskImage(const DiskImage&) = delete;
  DiskImage& operator=(const DiskImage&) = delete;

  static const char* name(Kind kind) { return kind == Kind::Fat16 ? "Fat16" : "Exfat"; }

  // Empty while mounted; otherwise why it is not.
  const std::string& missing() const { return missing_; }
  const std::string& mountPoint() const { return mountPoint_; }

  // Unmounts the disk, frees its loop device and mounts the image again, as pulling the
  // stick out and plugging it in does (its inode numbers change). False when that failed.
  bool replug();

 private:
  std::string mount();
  void unmount();

  Kind kind_;
  std::string folder_, image_, mountPoint_, missing_;
  pid_t daemon_ = -1;  // the FAT driver, kept in the foreground to know when it has ended
};
