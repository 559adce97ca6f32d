#include "support/DiskImage.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>
#include <vector>

#include "support/ForkedChild.h"
#include "support/TempTree.h"

namespace {

// The tools live in the administrator's folders, which a user's PATH may leave out.
std::string toolPath(const std::string& tool) {
  const char* path = std::getenv("PATH");
  std::string folders = std::string(path ? path : "") + ":/usr/sbin:/sbin:/usr/bin:/bin";
  for (size_t start = 0, end; start <= folders.size(); start = end + 1) {
    end = folders.find(':', start);
    if (end == std::string::npos) end = folders.size();
    const std::string candidate = folders.substr(start, end - start) + "/" + tool;
    if (end > start && ::access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return {};
}

// Starts a tool with its output (both streams) in `log`.
pid_t start(const std::vector<std::string>& command, const std::string& log) {
  std::vector<std::string> words = command;
  words[0] = toolPath(command[0]);
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  return startChild([&] {
    const int in = ::open("/dev/null", O_RDONLY);
    const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(out, 2);
    // The FAT driver outlives this call: it must hold none of the test's other files open.
    ::close_range(3, ~0U, 0);
    ::execv(argv[0], argv.data());
    return 127;
  });
}

bool stillRuns(pid_t pid, std::chrono::milliseconds limit) {
  return !waitForChild(pid, limit).has_value();
}

// Runs a tool to its end; "" when it succeeded, otherwise what it said.
std::string run(const std::vector<std::string>& command, const std::string& log) {
  const auto end = waitForChild(start(command, log), std::chrono::seconds(30));
  const int status = end ? end->shellCode() : -1;
  if (status == 0) return {};
  std::string said = TempTree::read(log);
  while (!said.empty() && said.back() == '\n') said.pop_back();
  return command[0] + " failed (" + std::to_string(status) + "): " + said;
}

bool isMountPoint(const std::string& folder) {
  struct stat self {
  }, parent{};
  return ::stat(folder.c_str(), &self) == 0 && ::stat((folder + "/..").c_str(), &parent) == 0 &&
         self.st_dev != parent.st_dev;
}

// One name at a time: nothing here may reach into a disk that is still mounted.
void removeFolder(const std::string& folder) {
  ::unlink((folder + "/disk.img").c_str());
  ::unlink((folder + "/tool.log").c_str());
  ::rmdir((folder + "/stick").c_str());
  ::rmdir(folder.c_str());
}

// A test killed before its end (by a timeout) leaves its disk mounted: the next one unmounts
// it, and its loop device goes with it.
void removeLeftBehind(const std::string& temp) {
  const std::string prefix = "resguarda-disk-";
  for (const std::string& name : TempTree::list(temp)) {
    if (!name.starts_with(prefix)) continue;
    const pid_t owner = std::atoi(name.c_str() + prefix.size());
    if (owner <= 0 || ::kill(owner, 0) == 0 || errno != ESRCH) continue;
    ::umount2((temp + "/" + name + "/stick").c_str(), MNT_DETACH);
    removeFolder(temp + "/" + name);
  }
}

}  // namespace

DiskImage::DiskImage(Kind kind, int megabytes) : kind_(kind) {
  if (::geteuid() != 0) {
    missing_ = "mounting a disk image needs root";
    return;
  }
  const int fuse = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
  if (fuse < 0) {
    missing_ =
        std::string("no FUSE here: /dev/fuse cannot be opened (") + std::strerror(errno) + ")";
    return;
  }
  ::close(fuse);
  const std::vector<std::string> tools =
      kind == Kind::Fat16 ? std::vector<std::string>{"mkfs.vfat", "fusefat"}
                          : std::vector<std::string>{"mkfs.exfat", "losetup", "mount.exfat-fuse"};
  for (const std::string& tool : tools) {
    if (toolPath(tool).empty()) {
      missing_ = tool + " is not installed (tools/deps.sh installs it)";
      return;
    }
  }
  if (kind == Kind::Exfat && !TempTree::exists("/dev/loop-control")) {
    missing_ = "no loop devices here: /dev/loop-control is missing";
    return;
  }
  const std::string temp = std::filesystem::temp_directory_path().string();
  removeLeftBehind(temp);
  // The test's process id in the name tells a later test whether this disk is still in use.
  std::string pattern = temp + "/resguarda-disk-" + std::to_string(::getpid()) + "-XXXXXX";
  if (!::mkdtemp(pattern.data())) {
    missing_ = "no temporary folder";
    return;
  }
  folder_ = pattern;
  image_ = folder_ + "/disk.img";
  mountPoint_ = folder_ + "/stick";
  ::mkdir(mountPoint_.c_str(), 0755);
  const int image = ::open(image_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  const bool made = image >= 0 && ::ftruncate(image, off_t{megabytes} << 20) == 0;
  if (image >= 0) ::close(image);
  if (!made) {
    missing_ = "cannot make the disk image " + image_;
    return;
  }
  missing_ = run(kind == Kind::Fat16 ? std::vector<std::string>{"mkfs.vfat", "-F", "16", image_}
                                     : std::vector<std::string>{"mkfs.exfat", image_},
                 folder_ + "/tool.log");
  if (missing_.empty()) missing_ = mount();
}

std::string DiskImage::mount() {
  const std::string log = folder_ + "/tool.log";
  if (kind_ == Kind::Fat16) {
    // In the foreground, so that unmounting can wait for the driver to have written all.
    daemon_ = start({"fusefat", "-f", "-o", "rw+", image_, mountPoint_}, log);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!isMountPoint(mountPoint_) && std::chrono::steady_clock::now() < deadline) {
      if (!stillRuns(daemon_, std::chrono::milliseconds(0))) {
        daemon_ = -1;
        return "fusefat failed: " + TempTree::read(log);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  } else {
    if (std::string failed = run({"losetup", "-f", "--show", image_}, log); !failed.empty())
      return "no free loop device: " + failed;
    std::string device = TempTree::read(log);
    device = device.substr(0, device.find('\n'));
    const std::string failed = run({"mount.exfat-fuse", device, mountPoint_}, log);
    // Detaching a device in use only marks it to be freed when the driver closes it: so it
    // goes with the mount even when this process dies first.
    run({"losetup", "-d", device}, log);
    if (!failed.empty()) return failed;
  }
  if (isMountPoint(mountPoint_)) return {};
  unmount();
  return "the disk image did not mount on " + mountPoint_;
}

void DiskImage::unmount() {
  // A driver that died leaves a mount that cannot even be looked at: unmount it all the same.
  if (::umount2(mountPoint_.c_str(), 0) != 0 && errno != EINVAL)
    ::umount2(mountPoint_.c_str(), MNT_DETACH);
  if (daemon_ > 0 && stillRuns(daemon_, std::chrono::seconds(10))) killChild(daemon_);
  daemon_ = -1;
}

bool DiskImage::replug() {
  unmount();
  missing_ = mount();
  return missing_.empty();
}

DiskImage::~DiskImage() {
  if (folder_.empty()) return;
  unmount();
  removeFolder(folder_);
}
