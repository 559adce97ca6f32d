#include "backup/CopyFiles.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

#include "backup/CopyTime.h"
#include "platform/Errors.h"
#include "platform/ExtendedAttributes.h"
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

// A file system that cannot store times refuses them; the copy is still good if what it
// keeps instead does not make it look newer. (ENOTSUP is EOPNOTSUPP here.)
bool cannotStore(int err) {
  return err == EPERM || err == EOPNOTSUPP || err == ENOSYS || err == EINVAL;
}

bool operator==(const timespec& a, const timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// The two-second step a time falls in, the finest the update rule tells apart.
time_t stepOf(const timespec& t) {
  return t.tv_sec >= 0 ? t.tv_sec / 2 : -((1 - t.tv_sec) / 2);
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
                      const struct stat* knownDestination, ReplacedCopy* replaced) {
  UniqueFd in(source.openFd >= 0 ? ::fcntl(source.openFd, F_DUPFD_CLOEXEC, 0)
                                 : ::openat(source.dirFd, source.name,
                                            O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC |
                                                (source.followLink ? 0 : O_NOFOLLOW)));
  if (!in) throw cannotOpenFile(source.path(), errno);
  struct stat before {};
  if (::fstat(in.get(), &before) != 0) throw cannotReadFile(source.path(), systemReason(errno));
  if (!S_ISREG(before.st_mode)) throw cannotOpenFile(source.path(), std::string(kNotRegular));

  const std::string destinationPath = destination.path();
  options_.sizeLimit = static_cast<uint64_t>(before.st_size);
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
  if (::fstat(in.get(), &after) != 0) throw cannotReadFile(source.path(), systemReason(errno));
  if (after.st_size < before.st_size) throw cannotReadFile(source.path(), kShrank);
  Dated dated = finish(temporary, in.get(), before, after, now);
  // The old copy steps aside only once the new one is whole.
  if (replaced) replaced->keep();
  try {
    temporary.commit();
  } catch (...) {
    if (replaced) replaced->putBack();
    throw;
  }
  checkPlacedTime(destination, dated);
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
        throw cannotReadFile(source.path(), systemReason(errno));
      }
      if (got == 0) throw cannotReadFile(source.path(), kShrank);
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
        throw cannotReadFile(source.path(), systemReason(errno));
      // No map of holes here: the rest is copied as it reads.
      copyRange(in, source, out, destination, offset, size - offset, done, inKernel);
      break;
    }
    if (static_cast<uint64_t>(data) >= size) break;
    const off_t hole = ::lseek(in, data, SEEK_HOLE);
    if (hole < 0)
      throw cannotReadFile(source.path(),
                           errno == ENXIO ? std::string(kShrank) : systemReason(errno));
    uint64_t end = std::min<uint64_t>(static_cast<uint64_t>(hole), size);
    // A map that does not move on: the rest is copied as it reads.
    if (end <= static_cast<uint64_t>(data)) end = size;
    copyRange(in, source, out, destination, static_cast<uint64_t>(data),
              end - static_cast<uint64_t>(data), done, inKernel);
    offset = end;
  }
  if (::ftruncate(out, static_cast<off_t>(size)) != 0) throw unableToWrite(destination, errno);
}

FileCopier::Dated FileCopier::finish(NewFile& out, int in, const struct stat& before,
                                     const struct stat& after, const timespec& now) {
  const bool ownerKept = root_ && out.keepOwner(before.st_uid, before.st_gid);
  // The owner may always write our copy, so that it can be brought up to date next time.
  mode_t mode = (before.st_mode & 0777) | S_IWUSR;
  // Set-id bits are only safe for the owner and group they were given for.
  if (ownerKept) mode |= before.st_mode & (S_ISUID | S_ISGID | S_ISVTX);
  out.setMode(mode);
  // The mode first: an access list set afterwards makes the group bits its mask.
  bool modeKept = out.applyMode();
  const CopiedAttributes attributes = copyExtendedAttributes(in, out.fd(), true);
  if (!attributes.allKept) {
    notKept_ |= AttributesNotKept;
    // With its list gone, the group bits (the list's mask) would give the owning group what
    // only named users had: the group keeps its own bits.
    if (attributes.ownGroupBits >= 0) {
      mode &= ~(static_cast<mode_t>(~attributes.ownGroupBits & 07) << 3);
      out.setMode(mode);
      modeKept = out.applyMode() && modeKept;
    }
  }

  // Last, as nothing after it may touch the times. Both times: some drivers (exfat-fuse)
  // ignore a change that leaves the access time out.
  const timespec wanted = copyModificationTime(before, after, now);
  Dated dated{{before.st_atim, wanted}, 0, 0, !(wanted == before.st_mtim)};
  if (options_.calls.setTimes(out.fd(), dated.times) != 0 && !cannotStore(errno))
    throw unableToWrite(out.path(), errno);
  // What the file system kept is what the next run compares, and what others may read.
  struct stat kept {};
  if (::fstat(out.fd(), &kept) != 0) throw unableToWrite(out.path(), errno);
  dated.dev = kept.st_dev;
  dated.ino = kept.st_ino;
  if (root_ && (!ownerKept || kept.st_uid != before.st_uid || kept.st_gid != before.st_gid))
    notKept_ |= OwnerNotKept;
  if (!modeKept || (kept.st_mode & 07777) != mode) notKept_ |= ModeNotKept;
  if (!dateOlder(out.fd(), nullptr, dated, kept)) throw timeNotKept(out.path());
  return dated;
}

bool FileCopier::dateOlder(int fd, const char* name, Dated& dated, struct stat& kept) {
  const timespec& wanted = dated.times[1];
  if (stepOf(kept.st_mtim) == stepOf(wanted)) return true;
  notKept_ |= TimeNotKept;
  if (stepOf(kept.st_mtim) < stepOf(wanted)) return true;  // older: the next run takes it again
  // Later than given, the copy would hide an edit made just after it: a step older makes the
  // next run take it again.
  dated.times[1] = {(stepOf(wanted) - 1) * 2, 0};
  const int set = name ? ::utimensat(fd, name, dated.times, AT_SYMLINK_NOFOLLOW)
                       : options_.calls.setTimes(fd, dated.times);
  const int looked = name ? ::fstatat(fd, name, &kept, AT_SYMLINK_NOFOLLOW) : ::fstat(fd, &kept);
  if (set == 0 && looked == 0 && stepOf(kept.st_mtim) <= stepOf(wanted)) return true;
  // No time can be set here. A source that was still during its copy makes a good copy, dated
  // when it was made; one that changed must not look current.
  return !dated.mustLookOlder;
}

void FileCopier::checkPlacedTime(const FileAt& destination, Dated& dated) {
  struct stat placed {};
  if (::fstatat(destination.dirFd, destination.name, &placed, AT_SYMLINK_NOFOLLOW) != 0 ||
      placed.st_dev != dated.dev || placed.st_ino != dated.ino ||
      stepOf(placed.st_mtim) == stepOf(dated.times[1]))
    return;
  // Dated anew by the rename (fusefat): even a time before the one given can be the very step
  // of an edit made just after the copy.
  if (::utimensat(destination.dirFd, destination.name, dated.times, AT_SYMLINK_NOFOLLOW) == 0 &&
      ::fstatat(destination.dirFd, destination.name, &placed, AT_SYMLINK_NOFOLLOW) == 0 &&
      stepOf(placed.st_mtim) <= stepOf(dated.times[1]))
    return;
  if (dateOlder(destination.dirFd, destination.name, dated, placed)) return;
  // A copy of a changed source that looks current is worse than none: the next run copies it.
  if (placed.st_dev == dated.dev && placed.st_ino == dated.ino)
    ::unlinkat(destination.dirFd, destination.name, 0);
  throw timeNotKept(destination.path());
}

std::string FileCopier::notKeptNotice(unsigned notKept) {
  static constexpr std::pair<unsigned, const char*> kWhat[] = {
      {OwnerNotKept, "propietarios"},
      {ModeNotKept, "permisos"},
      {AttributesNotKept, "atributos extendidos"},
      {TimeNotKept, "la fecha exacta"}};
  std::vector<const char*> said;
  for (const auto& [bit, what] : kWhat)
    if (notKept & bit) said.push_back(what);
  if (said.empty()) return {};
  std::string notice = "el disco de destino no guarda ";
  for (std::size_t i = 0; i < said.size(); ++i) {
    if (i > 0) notice += i + 1 == said.size() ? " ni " : ", ";
    notice += said[i];
  }
  return notice + " de las copias";
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
