#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "mail/Oe5Failures.h"
#include "mail/uoexpress.h"
#include "platform/DirectoryListing.h"
#include "platform/Errors.h"
#include "platform/PathText.h"
#include "platform/UniqueFd.h"

namespace {

constexpr char kNameLeadsOut[] = "el nombre sale de la carpeta del almacén; no se lee";
constexpr char kLinkLeadsOut[] = "un enlace que sale de la carpeta del almacén; no se sigue";
constexpr char kLinkToLink[] = "un enlace a otro enlace de la carpeta del almacén; no se sigue";

bool safeStoreName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

// An entry of the store folder opened, or the system's error number when it was not.
struct OpenedEntry {
  int fd = -1;
  int err = 0;
};

// Only a regular file is opened: opening a FIFO waits for a writer and opening a device can
// act on it. O_NONBLOCK and the check after opening cover an entry swapped meanwhile. A link
// is not opened (ELOOP); path names the entry in errors.
OpenedEntry openRegular(int folderFd, const std::string& entry, const std::string& path) {
  constexpr int kFlags = O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY;
  struct stat st {};
  if (::fstatat(folderFd, entry.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return {-1, errno};
  if (S_ISLNK(st.st_mode)) return {-1, ELOOP};
  if (!S_ISREG(st.st_mode)) throw notRegularFile(path, st.st_mode);
  const int fd = ::openat(folderFd, entry.c_str(), kFlags);
  return {fd, fd < 0 ? errno : 0};
}

// The name a link of the store folder holds, empty when it cannot be read or is too long.
std::string linkTarget(int folderFd, const std::string& name) {
  char target[256];
  const ssize_t length = ::readlinkat(folderFd, name.c_str(), target, sizeof target);
  return length > 0 && static_cast<size_t>(length) < sizeof target ? std::string(target, length)
                                                                   : std::string();
}

}  // namespace

// An empty store folder stands for the root, never for the working folder.
Oe5Store::Oe5Store(std::string storeFolder)
    : folder_(storeFolder.empty() ? "/" : withTrailingSlash(std::move(storeFolder))) {}

std::string Oe5Store::entryName(int folderFd, const std::string& fileName) {
  struct stat st {};
  if (!safeStoreName(fileName) ||
      ::fstatat(folderFd, fileName.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
    return fileName;
  }
  const auto names = DirectoryListing::namesOf(folderFd);
  if (!names) return fileName;
  const std::string* match = nullptr;
  int matches = 0;
  for (const std::string& name : *names) {
    if (equalsIgnoringAsciiCase(fileName, name)) {
      match = &name;
      ++matches;
    }
  }
  return matches == 1 ? *match : fileName;
}

std::unique_ptr<Oe5File> Oe5Store::open(const std::string& fileName) const {
  if (fileName.empty()) throw storeFileAbsent(folder_);
  if (!safeStoreName(fileName)) throw storeFileRefused(folder_ + fileName, kNameLeadsOut);
  // The store folder itself may be reached through links (a Wine drive is one); below it,
  // nothing leads out.
  UniqueFd folder(::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!folder) throw cannotOpenFile(folder_ + fileName, errno);
  const std::string name = entryName(folder.get(), fileName);
  const std::string path = folder_ + name;
  OpenedEntry opened = openRegular(folder.get(), name, path);
  if (opened.fd < 0 && opened.err == ELOOP) {
    // A link naming another file of the store folder (a renamed folder file) is followed
    // once; a link leading anywhere else is not.
    const std::string linked = linkTarget(folder.get(), name);
    if (!safeStoreName(linked)) throw storeFileRefused(path, kLinkLeadsOut);
    opened = openRegular(folder.get(), linked, path);
    if (opened.fd < 0 && opened.err == ELOOP) throw storeFileRefused(path, kLinkToLink);
  }
  if (opened.fd < 0 && opened.err == ENOENT) throw storeFileAbsent(path);
  if (opened.fd < 0) throw cannotOpenFile(path, opened.err);
  return std::make_unique<Oe5File>(opened.fd, path);
}

std::string Oe5Store::oe5_ReadIndex(const std::string& fileName, Toe5_IndexList* list) const {
  if (!list) return {};
  const auto file = open(fileName);
  return ::oe5_ReadIndex(*file, fileName == "folders.dbx", *list);
}

std::string Oe5Store::oe5_ReadMessageText(const std::string& fileName, int32_t textPos) const {
  if (textPos <= 0) return {};
  const auto file = open(fileName);
  return ::oe5_ReadMessageText(*file, textPos);
}
