#include "backup/CopyFiles.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "backup/CopyTime.h"
#include "platform/Errors.h"
#include "platform/FolderChain.h"
#include "platform/NewFile.h"
#include "platform/TemporaryJournal.h"
#include "platform/UniqueFd.h"
#include "platform/WriteAll.h"

namespace {

constexpr std::size_t kKernelChunk = 8u << 20;  // abandon is checked between chunks
constexpr std::size_t kBufferSize = 1u << 20;   // read/write fallback
constexpr char kNotRegular[] = "no es un archivo normal";
constexpr char kShrank[] = "el archivo se ha acortado mientras se copiaba";

ResguardaError readFailed(const std::string& path, const std::string& reason) {
  return ResguardaError("Cannot read file " + path, path, reason);
}

// A file system that cannot store owners, modes or times (vfat) refuses them; the copy is
// still good. (ENOTSUP is EOPNOTSUPP here.)
bool cannotStore(int err) {
  return err == EPERM || err == EOPNOTSUPP;
}

bool operator==(const timespec& a, const timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

timespec realTime() {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  return now;
}

}  // namespace

FileCopier::FileCopier(const std::atomic<bool>& abandon)
    : abandon_(abandon),
      chunk_(kKernelChunk),
      root_(::geteuid() == 0),
      clock_(realTime),
      journal_(std::make_unique<TemporaryJournal>()) {}

FileCopier::~FileCopier() = default;

void FileCopier::copy(const FileAt& source, const FileAt& destination,
                      const struct stat* knownDestination) {
  UniqueFd in(source.openFd >= 0 ? ::fcntl(source.openFd, F_DUPFD_CLOEXEC, 0)
                                 : ::openat(source.dirFd, source.name,
                                            O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC |
                                                (source.followLink ? 0 : O_NOFOLLOW)));
  if (!in) throw cannotOpenFile(source.path(), errno);
  struct stat before {};
  if (::fstat(in.get(), &before) != 0) throw readFailed(source.path(), systemReason(errno));
  if (!S_ISREG(before.st_mode))
    throw ResguardaError("Cannot open file " + source.path(), source.path(), kNotRegular);

  const std::string destinationPath = destination.path();
  NewFile temporary(destination.dirFd, destination.name, destinationPath, options_,
                    knownDestination, journal_.get());
  const timespec now = clock_();
  const auto size = static_cast<uint64_t>(before.st_size);
  // Fewer blocks than the size needs: there are holes, which stay holes.
  if (static_cast<uint64_t>(before.st_blocks) * 512 < size) {
    copySparse(in.get(), source, temporary.fd(), destinationPath, size);
  } else {
    uint64_t done = 0;
    bool inKernel = true;
    copyRange(in.get(), source, temporary.fd(), destinationPath, 0, size, done, inKernel);
  }
  struct stat after {};
  if (::fstat(in.get(), &after) != 0) throw readFailed(source.path(), systemReason(errno));
  if (after.st_size < before.st_size) throw readFailed(source.path(), kShrank);
  finish(temporary, before, after, now);
  temporary.commit();
}

void FileCopier::copyRange(int in, const FileAt& source, int out, const std::string& destination,
                           uint64_t offset, uint64_t length, uint64_t& done, bool& inKernel) {
  const uint64_t end = offset + length;
  while (offset < end) {
    if (abandon_.load(std::memory_order_relaxed)) throw unableToWrite(destination, ECANCELED);
    const uint64_t left = end - offset;
    ssize_t got;
    if (inKernel) {
      loff_t from = static_cast<loff_t>(offset);
      loff_t to = from;
      got = ::copy_file_range(in, &from, out, &to, std::min<uint64_t>(left, chunk_), 0);
      if (got < 0) {
        if (errno == EINTR) continue;
        if (errno == ENOSPC || errno == EDQUOT || errno == EFBIG)
          throw unableToWrite(destination, errno);
      }
      if (got <= 0) {
        // Not supported here, or an error: the plain copy carries on and tells a read
        // error from a write error (and a file that shrank from a file system that
        // cannot copy in the kernel).
        inKernel = false;
        continue;
      }
    } else {
      if (!buffer_) {
        bufferSize_ = kBufferSize;
        buffer_ = std::make_unique<char[]>(bufferSize_);
      }
      const std::size_t want = std::min<uint64_t>({left, chunk_, bufferSize_});
      got = ::pread(in, buffer_.get(), want, static_cast<off_t>(offset));
      if (got < 0) {
        if (errno == EINTR) continue;
        throw readFailed(source.path(), systemReason(errno));
      }
      if (got == 0) throw readFailed(source.path(), kShrank);
      if (const int err = writeAllAt(out, buffer_.get(), static_cast<std::size_t>(got),
                                     static_cast<off_t>(offset)))
        throw unableToWrite(destination, err);
    }
    offset += static_cast<uint64_t>(got);
    done += static_cast<uint64_t>(got);
    if (chunkObserver_) chunkObserver_(done);
  }
}

void FileCopier::copySparse(int in, const FileAt& source, int out, const std::string& destination,
                            uint64_t size) {
  uint64_t offset = 0;
  uint64_t done = 0;
  bool inKernel = true;
  while (offset < size) {
    if (abandon_.load(std::memory_order_relaxed)) throw unableToWrite(destination, ECANCELED);
    const off_t data = ::lseek(in, static_cast<off_t>(offset), SEEK_DATA);
    if (data < 0) {
      // Only a hole is left, or the file shrank: its size afterwards tells.
      if (errno == ENXIO) break;
      if (errno != EINVAL && errno != EOPNOTSUPP)
        throw readFailed(source.path(), systemReason(errno));
      // No map of holes here: the rest is copied as it reads.
      copyRange(in, source, out, destination, offset, size - offset, done, inKernel);
      break;
    }
    if (static_cast<uint64_t>(data) >= size) break;
    const off_t hole = ::lseek(in, data, SEEK_HOLE);
    if (hole < 0)
      throw readFailed(source.path(), errno == ENXIO ? std::string(kShrank) : systemReason(errno));
    uint64_t end = std::min<uint64_t>(static_cast<uint64_t>(hole), size);
    // A map that does not move on: the rest is copied as it reads.
    if (end <= static_cast<uint64_t>(data)) end = size;
    copyRange(in, source, out, destination, static_cast<uint64_t>(data),
              end - static_cast<uint64_t>(data), done, inKernel);
    offset = end;
  }
  if (::ftruncate(out, static_cast<off_t>(size)) != 0) throw unableToWrite(destination, errno);
}

void FileCopier::finish(NewFile& out, const struct stat& before, const struct stat& after,
                        const timespec& now) {
  const timespec modified = copyModificationTime(before, after, now);
  const timespec times[2] = {{0, UTIME_OMIT}, modified};
  if (::futimens(out.fd(), times) != 0) {
    const int err = errno;
    // Where no time can be set the copy keeps the time of the copy, later than its source;
    // but a copy that has to look older than its source cannot stand.
    if (!cannotStore(err) || !(modified == before.st_mtim)) throw unableToWrite(out.path(), err);
  }
  const bool ownerKept = root_ && out.keepOwner(before.st_uid, before.st_gid);
  // The owner may always write our copy, so that it can be brought up to date next time.
  mode_t mode = (before.st_mode & 0777) | S_IWUSR;
  // Set-id bits are only safe for the owner and group they were given for.
  if (ownerKept) mode |= before.st_mode & (S_ISUID | S_ISGID | S_ISVTX);
  out.setMode(mode);
}

void FileCopier::removeRecordedLeftovers() {
  NewFile::removeLeftovers();
}

void CopyFiles(const std::string& source, const std::string& destination,
               const std::atomic<bool>& abandon) {
  const std::size_t slash = destination.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "" : destination.substr(0, slash + 1);
  const std::string name = destination.substr(folder.size());
  if (name.empty()) throw unableToWrite(destination, EISDIR);
  const int chainErr = folder.empty() ? 0 : createFolderChain(folder);
  UniqueFd dir(::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!dir) throw unableToWrite(destination, chainErr ? chainErr : errno);
  const std::string noFolder;
  FileCopier copier(abandon);
  copier.copy(FileAt{AT_FDCWD, noFolder, source.c_str()}, FileAt{dir.get(), folder, name.c_str()});
}
