#include <dirent.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "backup/CopiarCarpeta.h"
#include "backup/CopyCheck.h"
#include "backup/MirrorWalk.h"
#include "backup/RunContext.h"
#include "backup/RunTexts.h"
#include "backup/UpdateRule.h"
#include "backup/VersionStore.h"
#include "platform/Errors.h"
#include "platform/PathText.h"

namespace {

constexpr int kSourceFlags = O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC;

std::string localDateText(time_t when) {
  std::tm local{};
  char text[64] = "?";
  if (::localtime_r(&when, &local)) std::strftime(text, sizeof text, "%d/%m/%Y %H:%M:%S", &local);
  return text;
}

// A damaged copy is dated this long ago before it is copied again, so that should that copy
// fail, or the program die meanwhile, the next run takes it again. FAT keeps no earlier day.
constexpr time_t kLongAgo = 315705600;  // 1980-01-03

// The copy an update replaces, moved to the run's versions folder just before the new copy
// takes its name, and moved back if the new one cannot.
class KeptVersion final : public ReplacedCopy {
 public:
  KeptVersion(VersionStore& store, int folder, const char* name, const std::string& taskName,
              const std::string& below, const std::string& logPath)
      : store_(store),
        folder_(folder),
        name_(name),
        taskName_(taskName),
        below_(below),
        logPath_(logPath) {}

  void keep() override { kept_ = store_.keep(folder_, name_, taskName_, below_, logPath_); }
  void putBack() noexcept override {
    try {
      // Should it fail, the old copy is still whole under versiones/: the next run copies anew.
      if (kept_) store_.restore(folder_, name_, taskName_, below_);
    } catch (...) {
    }
  }

 private:
  VersionStore& store_;
  int folder_;
  const char* name_;
  const std::string& taskName_;
  const std::string& below_;
  const std::string& logPath_;
  bool kept_ = false;
};

}  // namespace

void MirrorWalk::filePass(std::size_t depth, const DirectoryListing& listing) {
  // The go flag is read again before every entry: a stop request never lets a folder on the
  // way up copy one more file.
  for (std::size_t i = 0; i < listing.size(); ++i) {
    if (!run_.goOn()) break;
    const unsigned char type = listing.type(i);
    if (type == DT_DIR || type == DT_FIFO || type == DT_SOCK || type == DT_CHR || type == DT_BLK)
      continue;
    // A link to a folder passed over here is the subfolder pass's all the same.
    if (excluded_ && excludes(listing.name(i), false)) continue;
    handleFile(depth, listing.name(i), type);
  }
}

void MirrorWalk::handleFile(std::size_t depth, const char* name, unsigned char type) {
  const std::optional<SourceFile> source = openSource(depth, name, type);
  if (!source) return;
  const time_t now = ::time(nullptr);
  warnFutureDate(name, source->st, now);
  const Decision decision = decide(depth, name, source->st, now);
  switch (decision.verdict) {
    case Verdict::Clash:
      run_.fail(src_ + name, unableToWrite(dest_->path() + name, decision.clash, src_ + name));
      break;
    case Verdict::Copy:
    case Verdict::Update:
      copyInto(depth, name, decision, *source);
      break;
    case Verdict::Current:
      if (task_.checker) checkCopy(depth, name, decision, *source);
      break;
  }
  countExamined();
}

std::optional<MirrorWalk::SourceFile> MirrorWalk::openSource(std::size_t depth, const char* name,
                                                             unsigned char type) {
  const Level& level = levels_[depth];
  SourceFile file;
  std::shared_ptr<const OwnerRights> owner = level.owner;
  // Only links are followed: a link put in place of a file after the listing is not.
  file.link = type != DT_REG;
  bool linkOfAnother = false;
  const auto fail = [&](int err) {
    run_.fail(src_ + name, cannotOpenFile(src_ + name, err));
    countExamined();
    return std::nullopt;
  };
  if (root_ && (type == DT_LNK || type == DT_UNKNOWN)) {
    if (::fstatat(level.src.get(), name, &file.st, AT_SYMLINK_NOFOLLOW) != 0)
      return errno == ENOENT ? std::nullopt : fail(errno);
    file.link = S_ISLNK(file.st.st_mode);
    linkOfAnother = file.link && file.st.st_uid != 0;
    if (linkOfAnother) owner = rightsOf(file.st);
  }
  if (::fstatat(level.src.get(), name, &file.st, 0) != 0) {
    // A dangling link (or a file gone since the listing) has nothing to copy.
    return errno == ENOENT || errno == ELOOP ? std::nullopt : fail(errno);
  }
  // Folders behind links were handled by the subfolder pass; special files are never opened
  // and counted nowhere.
  if (!S_ISREG(file.st.st_mode)) return std::nullopt;
  // A link to a file of /proc or /sys is a view of the system, not data.
  if (file.st.st_dev != level.st.st_dev && type != DT_REG) {
    UniqueFd probe(::openat(level.src.get(), name, O_PATH | O_CLOEXEC));
    if (probe && pseudo_.contains(file.st.st_dev, probe.get())) return std::nullopt;
  }
  if (!owner) return file;
  // Root copies through another user's link only what that user could read.
  file.opened.reset(
      openWithRightsOf(*owner, level.src.get(), name, kSourceFlags | (file.link ? 0 : O_NOFOLLOW)));
  if (!file.opened) {
    const int err = errno;
    if (err == ENOENT || err == ELOOP) return std::nullopt;
    if (err != EACCES && err != EPERM) return fail(err);
    warnUnreadable(src_ + name, linkOfAnother);
    return std::nullopt;
  }
  if (::fstat(file.opened.get(), &file.st) != 0 || !S_ISREG(file.st.st_mode)) return std::nullopt;
  return file;
}

// A file dated in the future is copied all the same, and named once per run.
void MirrorWalk::warnFutureDate(const char* name, const struct stat& st, time_t now) {
  if (isFutureDate(st.st_mtime, now) && run_.futureWarned.emplace(st.st_dev, st.st_ino).second)
    run_.log("AVISO - " + src_ + name + ": la fecha del archivo (" + localDateText(st.st_mtime) +
             ") es posterior a la actual; se copia igualmente");
}

MirrorWalk::Decision MirrorWalk::decide(std::size_t depth, const char* name,
                                        const struct stat& source, time_t now) {
  Decision decision{Verdict::Current, dest_->existing(depth, name), {}};
  if (decision.found.st_mode == 0) {
    decision.verdict = Verdict::Copy;
  } else if (std::optional<std::string> clash = dest_->clashOf(depth, name)) {
    decision.verdict = Verdict::Clash;
    decision.clash = std::move(*clash);
  } else if (!S_ISREG(decision.found.st_mode) ||
             sourceIsNewer(source.st_mtime, decision.found.st_mtime, now)) {
    // Anything but a file where the copy goes (a link, a folder) is tried, so that its
    // failure shows.
    decision.verdict = Verdict::Update;
  }
  return decision;
}

void MirrorWalk::copyInto(std::size_t depth, const char* name, const Decision& decision,
                          const SourceFile& source, bool repairing) {
  const bool replacing = decision.verdict == Verdict::Update;
  if (!repairing) {
    line_.clear();
    if (replacing) line_ = kActualizadoPrefix;
    line_.append(src_).append(name);
    run_.log(line_);
  }
  try {
    const int folder = dest_->folderFor(depth, name, src_);
    std::optional<KeptVersion> kept;
    // Only an earlier version is worth keeping: a damaged copy is not one.
    if (replacing && !repairing && task_.versions) {
      line_.assign(src_).append(name);
      kept.emplace(*task_.versions, folder, name, taskName_, below(name), line_);
    }
    copier_.copy(FileAt{levels_[depth].src.get(), src_, name, source.link, source.opened.get()},
                 FileAt{folder, dest_->path(), name}, &decision.found, kept ? &*kept : nullptr);
    dest_->placed(depth, name);
    if (repairing) {
      ++run_.failures;
      run_.log("ERROR - " + src_ + name + ": " + kDamagedCopyReason);
    } else {
      ++(replacing ? run_.estado.Actualizados : run_.estado.Copiados);
    }
  } catch (...) {
    run_.fail(src_ + name, std::current_exception());
  }
  if (copier_.metadataNotKept() && !run_.metadataWarned) {
    run_.metadataWarned = true;
    run_.log("AVISO - " + withoutTrailingSlash(run_.dirDestino) + ": " +
             FileCopier::notKeptNotice(copier_.notKept()) + "; las copias se guardan igualmente");
  }
}

void MirrorWalk::checkCopy(std::size_t depth, const char* name, const Decision& decision,
                           const SourceFile& source) {
  const std::string sourcePath = src_ + name;
  CopyChecker::Result result;
  int folder = -1;
  try {
    folder = dest_->folderFor(depth, name, src_);
  } catch (...) {
    run_.fail(sourcePath, std::current_exception());
    return;
  }
  const std::string copyPath = dest_->path() + name;
  // The source is read as it is copied: through a link only when it is one, with its
  // owner's rights when it was opened with them.
  UniqueFd opened(source.opened ? -1
                                : ::openat(levels_[depth].src.get(), name,
                                           O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC |
                                               (source.link ? 0 : O_NOFOLLOW)));
  const int in = source.opened ? source.opened.get() : opened.get();
  if (in < 0) {
    result = {CopyChecker::Outcome::Unreadable, sourcePath, systemReason(errno)};
  } else if (UniqueFd copy(::openat(folder, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
             !copy) {
    result = {CopyChecker::Outcome::Unreadable, copyPath, systemReason(errno)};
  } else {
    result = task_.checker->compare(in, sourcePath, copy.get(), copyPath, run_.control.go);
  }
  switch (result.outcome) {
    case CopyChecker::Outcome::Unreadable:
      run_.fail(result.path, cannotReadFile(result.path, result.reason));
      break;
    case CopyChecker::Outcome::Stopped:
      break;
    case CopyChecker::Outcome::Different: {
      ++run_.estado.Comprobados;
      ++run_.estado.Danados;
      const timespec longAgo[2] = {{kLongAgo, 0}, {kLongAgo, 0}};
      ::utimensat(folder, name, longAgo, AT_SYMLINK_NOFOLLOW);
      Decision repair = decision;
      repair.verdict = Verdict::Update;
      copyInto(depth, name, repair, source, true);
      break;
    }
    case CopyChecker::Outcome::Same:
    case CopyChecker::Outcome::SourceChanged:
      ++run_.estado.Comprobados;
      break;
  }
}

void MirrorWalk::countExamined() {
  ++run_.estado.Revisados;
  try {
    run_.observer.countersChanged();
  } catch (...) {
    // The counters are shown again with the next file.
  }
}
