#include "backup/CopyCheck.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>

#include "platform/Errors.h"
#include "platform/PathText.h"
#include "platform/PrivateFolder.h"
#include "platform/ReadWholeFile.h"
#include "platform/ReplaceFile.h"
#include "platform/UniqueFd.h"

namespace {

// Fills `buffer` but at the end of the file; the count, or -1 with errno.
ssize_t readFull(int fd, char* buffer, size_t size) {
  size_t done = 0;
  while (done < size) {
    const ssize_t got = ::read(fd, buffer + done, size - done);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return -1;
    if (got == 0) break;
    done += static_cast<size_t>(got);
  }
  return static_cast<ssize_t>(done);
}

// Days since 1970-01-01 of the local calendar date of `when`.
long long localDay(time_t when) {
  struct tm local {};
  ::localtime_r(&when, &local);
  // Days from the civil date (proleptic Gregorian), as in H. Hinnant's algorithm.
  long long y = local.tm_year + 1900LL;
  const unsigned m = static_cast<unsigned>(local.tm_mon + 1);
  const unsigned d = static_cast<unsigned>(local.tm_mday);
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long long>(doe) - 719468;
}

bool sameState(const struct stat& a, const struct stat& b) {
  return a.st_size == b.st_size && a.st_mtim.tv_sec == b.st_mtim.tv_sec &&
         a.st_mtim.tv_nsec == b.st_mtim.tv_nsec && a.st_ctim.tv_sec == b.st_ctim.tv_sec &&
         a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

}  // namespace

std::string checkSummaryLine(long long checked, long long damaged) {
  return "Comprobados: " + std::to_string(checked) + " Dañados: " + std::to_string(damaged);
}

CopyChecker::CopyChecker()
    : sourceBlock_(std::make_unique<char[]>(kBlock)),
      copyBlock_(std::make_unique<char[]>(kBlock)) {}

CopyChecker::~CopyChecker() = default;

CopyChecker::Result CopyChecker::compare(int source, const std::string& sourcePath, int copy,
                                         const std::string& copyPath, const std::atomic<bool>& go) {
  struct stat sourceStat {
  }, copyStat{};
  if (::fstat(source, &sourceStat) != 0)
    return {Outcome::Unreadable, sourcePath, systemReason(errno)};
  if (::fstat(copy, &copyStat) != 0) return {Outcome::Unreadable, copyPath, systemReason(errno)};
  // A FIFO or device would block or never end: only regular files are compared.
  if (!S_ISREG(sourceStat.st_mode)) return {Outcome::Unreadable, sourcePath, systemReason(EINVAL)};
  if (!S_ISREG(copyStat.st_mode)) return {Outcome::Unreadable, copyPath, systemReason(EINVAL)};
  // A difference found while the source was being written is the writer's, not the disk's.
  auto different = [&]() -> Result {
    struct stat after {};
    const bool changed = ::fstat(source, &after) != 0 || !sameState(sourceStat, after);
    return {changed ? Outcome::SourceChanged : Outcome::Different, {}, {}};
  };
  if (sourceStat.st_size != copyStat.st_size) return different();
  ::posix_fadvise(source, 0, 0, POSIX_FADV_SEQUENTIAL);
  ::posix_fadvise(copy, 0, 0, POSIX_FADV_SEQUENTIAL);
  // The copy's pages still cached from writing it would hide what the disk really holds.
  ::posix_fadvise(copy, 0, 0, POSIX_FADV_DONTNEED);
  for (;;) {
    if (!go.load(std::memory_order_relaxed)) return {Outcome::Stopped, {}, {}};
    const ssize_t fromSource = readFull(source, sourceBlock_.get(), kBlock);
    if (fromSource < 0) return {Outcome::Unreadable, sourcePath, systemReason(errno)};
    const ssize_t fromCopy = readFull(copy, copyBlock_.get(), kBlock);
    if (fromCopy < 0) return {Outcome::Unreadable, copyPath, systemReason(errno)};
    // Lengths differ when either file changed size meanwhile.
    if (fromSource != fromCopy ||
        std::memcmp(sourceBlock_.get(), copyBlock_.get(), static_cast<size_t>(fromSource)) != 0)
      return different();
    if (fromSource == 0) return {Outcome::Same, {}, {}};
  }
}

bool checkDue(int days, time_t now, const std::string& stateFolder) {
  if (days <= 0) return false;
  if (stateFolder.empty()) return true;
  const std::optional<std::string> text =
      readWholeFileIfReadable(joinPath(stateFolder, kLastCheckFileName), 64);
  long long last = 0;
  if (!text) return true;
  const char* begin = text->data();
  const char* end = begin + text->size();
  const auto [next, ec] = std::from_chars(begin, end, last);
  if (ec != std::errc() || next == begin || (next != end && *next != '\n')) return true;
  const time_t lastTime = static_cast<time_t>(last);
  if (lastTime > now) return true;
  return localDay(now) - localDay(lastTime) >= days;
}

void recordCheck(const std::string& stateFolder, time_t when) {
  const std::string path = joinPath(stateFolder, kLastCheckFileName);
  if (stateFolder.empty()) throw unableToWrite(kLastCheckFileName, ENOENT);
  makePrivateFolderFor(stateFolder, path);
  replaceFile(path, std::to_string(static_cast<long long>(when)) + "\n", 0600);
}
