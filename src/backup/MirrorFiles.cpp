#include <dirent.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "backup/MirrorWalk.h"
#include "backup/RunContext.h"
#include "backup/RunTexts.h"
#include "backup/UpdateRule.h"
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

}  // namespace

void MirrorWalk::filePass(std::size_t depth, const DirectoryListing& listing) {
  // The go flag is read again before every entry: a stop request never lets a folder on the
  // way up copy one more file.
  for (std::size_t i = 0; i < listing.size(); ++i) {
    if (!run_.goOn()) break;
    const unsigned char type = listing.type(i);
    if (type == DT_DIR || type == DT_FIFO || type == DT_SOCK || type == DT_CHR || type == DT_BLK)
      continue;
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
                          const SourceFile& source) {
  const bool replacing = decision.verdict == Verdict::Update;
  line_.clear();
  if (replacing) line_ = kActualizadoPrefix;
  line_.append(src_).append(name);
  run_.log(line_);
  try {
    const int folder = dest_->folderFor(depth, name, src_);
    copier_.copy(FileAt{levels_[depth].src.get(), src_, name, source.link, source.opened.get()},
                 FileAt{folder, dest_->path(), name}, &decision.found);
    dest_->placed(depth, name);
    ++(replacing ? run_.estado.Actualizados : run_.estado.Copiados);
  } catch (...) {
    run_.fail(src_ + name, std::current_exception());
  }
  if (copier_.metadataNotKept() && !run_.metadataWarned) {
    run_.metadataWarned = true;
    run_.log("AVISO - " + withoutTrailingSlash(run_.dirDestino) + ": " +
             FileCopier::notKeptNotice(copier_.notKept()) + "; las copias se guardan igualmente");
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
