#include "support/SmallTmpfs.h"

#include <sys/mount.h>
#include <sys/stat.h>

SmallTmpfs::SmallTmpfs(std::string folder, const std::string& size) : folder_(std::move(folder)) {
  ::mkdir(folder_.c_str(), 0755);
  const std::string options = "size=" + size + ",mode=0755";
  mounted_ = ::mount("tmpfs", folder_.c_str(), "tmpfs", 0, options.c_str()) == 0;
}

SmallTmpfs::~SmallTmpfs() {
  if (mounted_) ::umount2(folder_.c_str(), MNT_DETACH);
}
