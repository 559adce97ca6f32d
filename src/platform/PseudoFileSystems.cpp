#include "platform/PseudoFileSystems.h"

#include <sys/statfs.h>
#include <sys/sysmacros.h>

#include <array>
#include <cstdlib>
#include <string_view>

#include "platform/ReadWholeFile.h"

namespace {

// Not autofs: its mount points are where real disks (often users' homes) appear.
constexpr std::array<std::string_view, 21> kPseudoTypes = {
    "proc",     "sysfs",      "devtmpfs", "devpts", "cgroup",    "cgroup2", "debugfs",
    "tracefs",  "securityfs", "pstore",   "bpf",    "configfs",  "fusectl", "binfmt_misc",
    "efivarfs", "selinuxfs",  "smackfs",  "mqueue", "hugetlbfs", "nsfs",    "rpc_pipefs"};

// The magic numbers of the same file systems (devtmpfs shares tmpfs's and is known only by
// the mount table).
constexpr std::array<long, 19> kPseudoMagics = {
    0x9fa0,     0x62656572, 0x1cd1,     0x27e0eb,   0x63677270, 0x64626720, 0x74726163,
    0x73636673, 0x6165676c, 0xcafe4a11, 0x62656570, 0x65735543, 0x42494e4d, 0xde5e81e4,
    0xf97cff8c, 0x43415d53, 0x19800202, 0x958458f6, 0x6e736673};

std::string_view field(std::string_view line, std::size_t index) {
  std::size_t start = 0;
  for (std::size_t i = 0; i < index; ++i) {
    start = line.find(' ', start);
    if (start == std::string_view::npos) return {};
    ++start;
  }
  return line.substr(start, line.find(' ', start) - start);
}

}  // namespace

PseudoFileSystems::PseudoFileSystems() {
  // Without the mount table the magic numbers still tell most of them.
  if (const auto table = readWholeFileIfReadable("/proc/self/mountinfo", 16u << 20))
    readMountTable(*table);
}

void PseudoFileSystems::readMountTable(const std::string& mountinfo) {
  std::string_view rest = mountinfo;
  while (!rest.empty()) {
    const std::size_t end = rest.find('\n');
    const std::string_view line = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end + 1);
    // "36 35 98:0 /mnt1 /mnt2 rw,noatime master:1 - ext3 /dev/root rw": the device is the
    // third field, the type follows the " - " separator.
    const std::string_view device = field(line, 2);
    const std::size_t separator = line.find(" - ");
    const std::size_t colon = device.find(':');
    if (separator == std::string_view::npos || colon == std::string_view::npos) continue;
    const std::string_view type = field(line.substr(separator + 3), 0);
    const unsigned major = std::strtoul(std::string(device.substr(0, colon)).c_str(), nullptr, 10);
    const unsigned minor = std::strtoul(std::string(device.substr(colon + 1)).c_str(), nullptr, 10);
    const dev_t dev = makedev(major, minor);
    if (isPseudoType(std::string(type)))
      pseudoMounts_.insert(dev);
    else
      realMounts_.insert(dev);
  }
}

bool PseudoFileSystems::isPseudoType(const std::string& fileSystemType) {
  for (std::string_view type : kPseudoTypes)
    if (fileSystemType == type) return true;
  return false;
}

bool PseudoFileSystems::isPseudoMagic(long magic) {
  for (long m : kPseudoMagics)
    if (magic == m) return true;
  return false;
}

bool PseudoFileSystems::contains(dev_t dev, int fd) {
  if (const auto found = known_.find(dev); found != known_.end()) return found->second;
  bool pseudo;
  if (pseudoMounts_.count(dev))
    pseudo = true;
  else if (realMounts_.count(dev))
    pseudo = false;
  else {
    struct statfs fs {};
    pseudo = ::fstatfs(fd, &fs) == 0 && isPseudoMagic(static_cast<long>(fs.f_type));
  }
  known_.emplace(dev, pseudo);
  return pseudo;
}
