#include "platform/ReplaceFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "platform/Errors.h"

namespace {

constexpr size_t kBufferSize = 64 * 1024;

std::string folderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// A short hidden name in folder; short, so that a target at the name length limit still works.
std::string hiddenName(const std::string& folder) {
  static std::atomic<unsigned> counter{0};
  return (folder == "/" ? "" : folder) + "/.rgtmp-" + std::to_string(::getpid()) + "-" +
         std::to_string(++counter);
}

// Gives the unnamed file a name of its own, for the instant before the rename.
int nameUnnamedFile(int fd, const std::string& folder, std::string& name) {
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  for (int attempt = 0; attempt < 100; ++attempt) {
    name = hiddenName(folder);
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) return 0;
    int err = errno;
    // Without /proc, only a privileged process can link a file by its descriptor.
    if (err == ENOENT && ::linkat(fd, "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH) == 0) return 0;
    if (err == ENOENT) err = errno;
    if (err != EEXIST) {
      name.clear();
      return err;
    }
  }
  name.clear();
  return EEXIST;
}

}  // namespace

ReplaceFile::ReplaceFile(std::string target, mode_t mode)
    : target_(std::move(target)), folder_(folderOf(target_)) {
  fd_ = ::open(folder_.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode & 07777);
  if (fd_ < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
    // A file system without unnamed files: a hidden name, removed again on failure.
    std::string name = (folder_ == "/" ? "" : folder_) + "/.rgtmp-XXXXXX";
    fd_ = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd_ >= 0) tempName_ = name;
  }
  if (fd_ < 0) throw unableToWrite(target_, errno);
  if (::fchmod(fd_, mode & 07777) != 0) fail(errno);
  buffer_.reserve(kBufferSize);
}

ReplaceFile::~ReplaceFile() {
  discard();
}

void ReplaceFile::write(std::string_view bytes) {
  if (fd_ < 0) throw unableToWrite(target_, EBADF);
  if (buffer_.size() + bytes.size() > kBufferSize) flush();
  if (bytes.size() >= kBufferSize) {
    buffer_.assign(bytes);
    flush();
  } else {
    buffer_.append(bytes);
  }
}

void ReplaceFile::flush() {
  size_t done = 0;
  while (done < buffer_.size()) {
    const ssize_t n = ::write(fd_, buffer_.data() + done, buffer_.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) fail(errno);
    if (n == 0) fail(EIO);
    done += static_cast<size_t>(n);
  }
  buffer_.clear();
}

void ReplaceFile::commit() {
  if (fd_ < 0) throw unableToWrite(target_, EBADF);
  flush();
  if (::fsync(fd_) != 0) fail(errno);
  if (tempName_.empty()) {
    if (const int err = nameUnnamedFile(fd_, folder_, tempName_)) fail(err);
  }
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) fail(errno);
  // rename() replaces a link at the target itself, never what it points to.
  if (::rename(tempName_.c_str(), target_.c_str()) != 0) fail(errno);
  tempName_.clear();
  // The rename itself reaches the disk with the folder.
  const int folder = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder >= 0) {
    ::fsync(folder);
    ::close(folder);
  }
}

void ReplaceFile::fail(int err) {
  discard();
  throw unableToWrite(target_, err);
}

void ReplaceFile::discard() noexcept {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!tempName_.empty()) ::unlink(tempName_.c_str());
  tempName_.clear();
  buffer_.clear();
}

void replaceFile(const std::string& target, std::string_view content, mode_t mode) {
  ReplaceFile file(target, mode);
  file.write(content);
  file.commit();
}
