#include "mail/ExtraerMensajes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>

#include "mail/ByteStreams.h"
#include "mail/ExportSink.h"
#include "mail/FiltrarNombre.h"
#include "mail/StoreFolder.h"
#include "mail/UUE.h"
#include "platform/Errors.h"
#include "platform/FolderChain.h"

namespace {

constexpr std::string_view kAttachmentHeader = "content-disposition: attachment";
constexpr std::string_view kBlankLine = "\r\n\r\n";
constexpr int32_t kHasAttachments = 0x4000;

}  // namespace

namespace mail_export {

size_t findIgnoringCase(std::string_view text, size_t from, std::string_view needle) {
  auto matchesAt = [&](size_t start) {
    for (size_t i = 0; i < needle.size(); ++i) {
      char c = text[start + i];
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + ('a' - 'A'));
      if (c != needle[i]) return false;
    }
    return true;
  };
  if (needle.empty() || from > text.size() || needle.size() > text.size() - from) {
    return std::string_view::npos;
  }
  // Anchor on the needle's first non-letter ("-" or "="), which encoded bodies never hold, so
  // memchr skips most of the text; the rest is compared without regard to case.
  size_t anchor = 0;
  while (anchor < needle.size() && needle[anchor] >= 'a' && needle[anchor] <= 'z') ++anchor;
  if (anchor == needle.size()) {
    for (size_t start = from; start + needle.size() <= text.size(); ++start) {
      if (matchesAt(start)) return start;
    }
    return std::string_view::npos;
  }
  const char* begin = text.data();
  const char* last = begin + (text.size() - needle.size() + anchor);  // last anchor place
  for (const char* p = begin + from + anchor; p <= last; ++p) {
    p = static_cast<const char*>(std::memchr(p, needle[anchor], last - p + 1));
    if (!p) break;
    const size_t start = static_cast<size_t>(p - begin) - anchor;
    if (matchesAt(start)) return start;
  }
  return std::string_view::npos;
}

}  // namespace mail_export

namespace {

// Position of needle in text[from, to), or npos.
size_t findIn(std::string_view text, size_t from, size_t to, std::string_view needle) {
  if (from >= to || to > text.size()) return std::string_view::npos;
  const void* hit = ::memmem(text.data() + from, to - from, needle.data(), needle.size());
  return hit ? static_cast<const char*>(hit) - text.data() : std::string_view::npos;
}

// Creates a folder and its missing parents; failures show up when a file is created in it.
mode_t fileMode() {
  // The umask, read without changing it (another thread may be creating files meanwhile).
  mode_t mask = 022;
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("Umask:", 0) == 0) {
      mask = static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8));
      break;
    }
  }
  return 0666 & ~mask;
}

// A short hidden name, unused in folder, for a file about to be renamed into place.
std::string hiddenName(const std::string& folder) {
  static std::atomic<unsigned> counter = 0;
  struct stat st {};
  for (;;) {
    const std::string name =
        folder + ".rgtmp-" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
    if (::lstat(name.c_str(), &st) != 0) return name;
  }
}

// Writes a file so that it appears whole or not at all: the bytes go to an unnamed file in
// the destination folder (or, where the file system lacks those, to a hidden temporary name),
// which is renamed into place only when complete. A failure, or the process being killed,
// never leaves a partial file nor spoils an earlier copy.
void writeFileAtomically(const std::string& path, mode_t mode,
                         const std::function<void(OutputByteStream&)>& produce) {
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  std::string temp;
  bool unnamed = true;
  int fd = ::open(folder.empty() ? "." : folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  if (fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
    unnamed = false;
    temp = folder + ".rgtmp-XXXXXX";
    fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd >= 0 && ::fchmod(fd, mode) != 0) {
      const int err = errno;
      ::close(fd);
      ::unlink(temp.c_str());
      throw unableToWrite(path, err);
    }
  }
  if (fd < 0) throw unableToWrite(path, errno);
  int err = 0;
  try {
    FdOutputStream out(fd, path);
    produce(out);
  } catch (...) {
    ::close(fd);
    if (!unnamed) ::unlink(temp.c_str());
    throw;
  }
  bool named = !unnamed;
  if (unnamed) {
    // The unnamed file gets a name only now, for the instant before the rename.
    temp = hiddenName(folder);
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    named = ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, temp.c_str(), AT_SYMLINK_FOLLOW) == 0;
    if (!named) err = errno;
  }
  if (::close(fd) != 0 && err == 0) err = errno;
  if (err == 0 && ::rename(temp.c_str(), path.c_str()) != 0) err = errno;
  if (err != 0) {
    if (named) ::unlink(temp.c_str());
    throw unableToWrite(path, err);
  }
}

// The name the attachment is stored under: the filtered name without its trailing blanks
// (which the original platform dropped), never empty, "." or "..".
std::string storedName(const std::string& filtered) {
  std::string name = filtered;
  while (!name.empty() && name.back() == ' ') name.pop_back();
  if (name.empty()) return "_";
  if (name == "." || name == "..") return std::string(name.size(), '_');
  return name;
}

class Exporter {
 public:
  Exporter(const std::string& storeFolder, const std::string& dirDestino, ExportSink& sink)
      : store_(storeFolder), sink_(sink), mode_(fileMode()) {
    destination_ = dirDestino;
    if (!destination_.empty() && destination_.back() != '/') destination_ += '/';
  }

  void run() {
    Toe5_IndexList folders;
    store_.oe5_ReadIndex("folders.dbx", &folders);
    for (const Toe5_FolderInfo& folder : folders.Folders) {
      if (!sink_.goOn()) break;
      try {
        exportFolder(folder);
      } catch (const std::exception&) {
        // An unreadable folder is skipped; the next one follows.
      }
    }
  }

 private:
  void exportFolder(const Toe5_FolderInfo& folder) {
    // One open per folder file: its index and every message text come from it.
    const auto file = store_.open(folder.FileName);
    Toe5_IndexList messages;
    oe5_ReadIndex(*file, folder.FileName == "folders.dbx", messages);
    const std::string name = mail_export::folderComponent(folder.Name);
    for (const Toe5_MessageInfo& message : messages.Messages) {
      if (!sink_.goOn()) break;
      try {
        exportMessage(*file, name, message);
      } catch (const std::exception&) {
        // The message is skipped with its remaining attachments and is not counted.
      }
    }
  }

  void exportMessage(Oe5File& file, const std::string& folderName,
                     const Toe5_MessageInfo& message) {
    if (message.Flags & kHasAttachments) {
      std::string& text = text_;
      oe5_ReadMessageText(file, message.TextPos, text);
      const size_t from = mail_export::findIgnoringCase(text, 0, kAttachmentHeader);
      if (from != std::string::npos) writeMessage(folderName, message, text, from);
    }
    sink_.messageReviewed();
  }

  void writeMessage(const std::string& folderName, const Toe5_MessageInfo& message,
                    const std::string& text, size_t from) {
    const std::string messageFolder = destination_ + "mensajes/" + folderName + "/";
    const std::string attachmentFolder = destination_ + "adjuntos/" + folderName + "/";
    // A folder that cannot be made shows up as a failed write below.
    createFolderChain(messageFolder);
    createFolderChain(attachmentFolder);

    std::string name = mail_export::attachmentName(text, from);
    const std::string messagePath =
        messageFolder +
        FiltrarNombre(message.SenderAddress + "#" + message.Subject + "#" +
                      mail_export::dateText(message.ReceivedTime) + "#" + name) +
        ".eml";
    write(messagePath, messagePath,
          [&](OutputByteStream& out) { out.write(text.data(), text.size()); });
    sink_.logLine(messagePath);

    // The message text is cut as the attachments are taken out: rest is where it now starts.
    size_t rest = from;
    for (;;) {
      const size_t header = findIn(text, rest, text.size(), kBlankLine);
      rest = header == std::string::npos ? std::min(rest + 3, text.size()) : header + 4;
      const std::string_view body = attachmentBody(text, rest);
      rest += body.size();

      // The log shows the filtered name, trailing blank included, as the original did; only
      // a name that had to be replaced is shown as stored.
      const std::string filtered = FiltrarNombre(name);
      const std::string stored = storedName(filtered);
      const bool replaced = filtered.compare(0, stored.size(), stored) != 0 ||
                            filtered.find_first_not_of(' ', stored.size()) != std::string::npos;
      const std::string logged = attachmentFolder + (replaced ? stored : filtered);
      write(attachmentFolder + stored, logged, [&](OutputByteStream& out) {
        MemoryInputStream in(body);
        TUUProcessor decoder;
        decoder.Method = uuMime;
        decoder.InputStream = &in;
        decoder.OutputStream = &out;
        decoder.Decode();
      });
      sink_.logLine(logged);
      sink_.attachmentWritten();

      const size_t next = mail_export::findIgnoringCase(text, rest, kAttachmentHeader);
      if (next == std::string::npos) break;
      name = mail_export::attachmentName(text, next);
      rest = next;
    }
  }

  // The encoded lines of an attachment starting at start: up to the next blank line, or up
  // to a line beginning with "--" (a boundary) when that comes first. Each line keeps its
  // CR LF. Without either, the body is empty.
  static std::string_view attachmentBody(const std::string& text, size_t start) {
    const size_t blank = findIn(text, start, text.size(), kBlankLine);
    const size_t limit = blank == std::string::npos ? text.size() : blank;
    size_t boundary =
        text.compare(start, 2, "--") == 0 ? start : findIn(text, start, limit, "\r\n--");
    if (boundary != std::string::npos && boundary != start) boundary += 2;
    if (boundary != std::string::npos && (blank == std::string::npos || boundary <= blank)) {
      return std::string_view(text).substr(start, boundary - start);
    }
    if (blank == std::string::npos) return {};
    return std::string_view(text).substr(start, blank + 2 - start);
  }

  void write(const std::string& path, const std::string& shownPath,
             const std::function<void(OutputByteStream&)>& produce) {
    try {
      writeFileAtomically(path, mode_, produce);
    } catch (const std::exception& error) {
      sink_.failed(shownPath, error);
      throw;
    }
  }

  Oe5Store store_;
  ExportSink& sink_;
  std::string text_;  // the message in hand; its storage serves every message
  std::string destination_;
  mode_t mode_;
};

}  // namespace

namespace mail_export {

std::string folderComponent(const std::string& name) {
  if (name.empty()) return "_";
  if (name == "." || name == "..") return std::string(name.size(), '_');
  std::string component = name;
  for (char& c : component) {
    if (c == '/') c = '_';
  }
  return component;
}

std::string attachmentName(std::string_view text, size_t from) {
  const size_t found = findIgnoringCase(text, from, "name=");
  size_t start;
  if (found == std::string_view::npos) {
    start = from + 5;  // as if "name=" stood at the very start
  } else {
    start = found + 6;  // "name=" and the opening quote
    if (found + 5 < text.size() && text[found + 5] != '"') {
      // Unquoted: the name runs from right after "name=" to the end of its token, and a CR
      // stands in for the closing quote that the name filter turns into a blank.
      const size_t begin = found + 5;
      size_t end = begin;
      while (end < text.size() && !std::strchr("\r\n; \t", text[end])) ++end;
      return std::string(text.substr(begin, end - begin)) + "\r";
    }
  }
  if (start >= text.size()) return {};
  std::string name(text.substr(start));
  if (name.front() == '"') name.front() = ' ';
  size_t end = name.find('"');
  if (end == std::string::npos) end = name.find('\r');
  if (end == std::string::npos) return {};
  name.resize(end + 1);
  return name;
}

std::string dateText(const Toe5_FileTime& received) {
  if (received.ticks() == 0) return {};
  const Toe5_DateTime t = oe5_FileTimeToDateTime(received);
  char buffer[64];
  if (t.Hour == 0 && t.Minute == 0 && t.Second == 0) {
    std::snprintf(buffer, sizeof buffer, "%02d/%02d/%04d", t.Day, t.Month, t.Year);
  } else {
    std::snprintf(buffer, sizeof buffer, "%02d/%02d/%04d %d:%02d:%02d", t.Day, t.Month, t.Year,
                  t.Hour, t.Minute, t.Second);
  }
  return buffer;
}

}  // namespace mail_export

void ExtraerMensajes(const std::string& storeFolder, const std::string& dirDestino,
                     ExportSink& sink) {
  Exporter(storeFolder, dirDestino, sink).run();
}

void ExtraerMensajes(const std::string& dirDestino, ExportSink& sink) {
  ExtraerMensajes(oe5_StoreFolder(), dirDestino, sink);
}
