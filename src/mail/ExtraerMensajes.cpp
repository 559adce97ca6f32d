#include "mail/ExtraerMensajes.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <exception>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <utility>
#include <vector>

#include "mail/BoundedQueue.h"
#include "mail/ByteStreams.h"
#include "mail/ExportSink.h"
#include "mail/FiltrarNombre.h"
#include "mail/OutputFile.h"
#include "mail/OutputTree.h"
#include "mail/UUE.h"
#include "platform/Errors.h"
#include "platform/PathText.h"

namespace {

constexpr std::string_view kAttachmentHeader = "content-disposition: attachment";
constexpr std::string_view kBlankLine = "\r\n\r\n";
constexpr int32_t kHasAttachments = 0x4000;

// Reading a folder file, counted in bytes asked of it over the whole run (index walks and
// text chains, however many folder records name it), stops at this many times its size. A
// sound store reads each of its files about once; a crafted one that lists a record or a
// text chain (or a whole folder file) thousands of times would otherwise read and write
// gigabytes.
constexpr uint64_t kReadsPerFileByte = 4;
constexpr uint64_t kReadsSlack = 64 * 1024;

// How far the reading thread may run ahead of the writing one: bytes of message text and
// decoded attachments waiting to be written, each item weighing kItemWeight more.
constexpr size_t kQueueBytes = 32u << 20;
constexpr size_t kItemWeight = 4096;
// Attachments are decoded by the reading thread while the writer has work waiting, and left
// for the writer to decode straight into its file while the writer waits for the reader:
// whichever side is behind gets the decoding off its hands. A larger attachment is always
// left to the writer, so that memory holds no more than its encoded form.
constexpr size_t kDecodeAheadWhenWaiting = kQueueBytes / 8;
constexpr size_t kDecodeAheadLimit = 8u << 20;

constexpr size_t kNoFolder = std::numeric_limits<size_t>::max();

}  // namespace

namespace mail_export {

size_t findIgnoringCase(std::string_view text, size_t from, std::string_view needle) {
  auto matchesAt = [&](size_t start) {
    for (size_t i = 0; i < needle.size(); ++i) {
      if (asciiLower(text[start + i]) != needle[i]) return false;
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

// The encoded lines of an attachment starting at start: up to the next blank line, or up
// to a line beginning with "--" (a boundary) when that comes first. Each line keeps its
// CR LF. Without either, the body is empty. Every line end of the message text is a CR LF,
// so both are found at the start of a line: one walk over the line ends finds them.
std::string_view attachmentBody(std::string_view text, size_t start) {
  if (text.compare(start, 2, "--") == 0) return text.substr(start, 0);
  const char* const end = text.data() + text.size();
  const char* line = text.data() + start;
  while (const char* lineFeed = static_cast<const char*>(std::memchr(line, '\n', end - line))) {
    line = lineFeed + 1;
    if (end - line >= 2 &&
        ((line[0] == '\r' && line[1] == '\n') || (line[0] == '-' && line[1] == '-'))) {
      return text.substr(start, line - (text.data() + start));
    }
  }
  return {};
}

// The name the attachment is stored under: the filtered name without its trailing blanks
// (which Windows file systems drop from names), never empty, "." or "..".
std::string storedName(const std::string& filtered) {
  std::string name = filtered;
  while (!name.empty() && name.back() == ' ') name.pop_back();
  if (name.empty()) return "_";
  if (name == "." || name == "..") return std::string(name.size(), '_');
  return name;
}

void decodeBase64(std::string_view body, OutputByteStream& out) {
  MemoryInputStream in(body);
  TUUProcessor decoder;
  decoder.Method = uuMime;
  decoder.InputStream = &in;
  decoder.OutputStream = &out;
  decoder.Decode();
}

struct PreparedAttachment {
  std::string storedName;  // in adjuntos/<folder>/
  std::string storedPath;
  std::string loggedPath;
  size_t bodyStart = 0;  // the encoded body within the message's text
  size_t bodyLength = 0;
  bool decoded = false;  // bytes hold the decoded body; else the writer decodes it
  std::string bytes;
};

// One step of the export, handed from the reading thread to the writing one.
struct ExportItem {
  enum class Kind { Folder, Message, FileFailed, Fatal };
  enum class Outcome { Count, Skip, Write };

  Kind kind = Kind::Message;
  size_t folder = 0;      // the folder's place in the folder list
  std::string component;  // Folder: its name as a path component
  // Message: only counted, skipped (a failure: not counted, nothing said), or written.
  Outcome outcome = Outcome::Count;
  std::string text;  // the .eml file's contents
  std::string messageName;
  std::string messagePath;
  std::vector<PreparedAttachment> attachments;
  // FileFailed (a store file not read in full), Fatal
  std::string errorPath;
  std::exception_ptr error;
  std::string fileKey;          // FileFailed: the same for every name of one file
  bool abandonsFolder = false;  // FileFailed: nothing more of the folder is read

  size_t weight() const {
    size_t bytes = kItemWeight + text.size();
    for (const PreparedAttachment& a : attachments) bytes += a.bytes.size();
    return bytes;
  }
};

using ExportQueue = BoundedQueue<ExportItem>;

// Buffers of written messages, handed back by the writer so that the reader fills them
// again instead of growing fresh memory (and faulting it in) for every message.
class BufferPool {
 public:
  std::string take() {
    std::lock_guard lock(mutex_);
    if (buffers_.empty()) return {};
    std::string buffer = std::move(buffers_.back());
    buffers_.pop_back();
    held_ -= buffer.capacity();
    return buffer;
  }

  void give(std::string&& buffer) {
    buffer.clear();
    std::lock_guard lock(mutex_);
    if (held_ + buffer.capacity() > kHeldBytes || buffers_.size() >= kBuffers) return;
    held_ += buffer.capacity();
    buffers_.push_back(std::move(buffer));
  }

 private:
  static constexpr size_t kHeldBytes = 16u << 20;
  static constexpr size_t kBuffers = 16;

  std::mutex mutex_;
  std::vector<std::string> buffers_;
  size_t held_ = 0;
};

// The reading side: walks the store and prepares every message (its text, names and decoded
// attachments) for the writer. It only reads; every file and every report is the writer's.
class StoreReader {
 public:
  StoreReader(const std::string& storeFolder, const std::string& destination, ExportQueue& queue,
              BufferPool& pool, const std::atomic<size_t>& abandonedFolder)
      : store_(storeFolder),
        storeFolder_(storeFolder.empty() || storeFolder.back() != '/' ? storeFolder + "/"
                                                                      : storeFolder),
        destination_(destination),
        queue_(queue),
        pool_(pool),
        abandoned_(abandonedFolder) {}

  void run() noexcept {
    try {
      readStore();
    } catch (...) {
      ExportItem fatal;
      fatal.kind = ExportItem::Kind::Fatal;
      fatal.error = std::current_exception();
      push(std::move(fatal));
    }
    queue_.finish();
  }

 private:
  void readStore() {
    Toe5_IndexList folders;
    {
      // Not guarded: a folder list that cannot be opened ends the export.
      const auto file = store_.open("folders.dbx");
      const std::string damage = oe5_ReadIndex(*file, true, folders);
      // The folders it still lists are exported all the same.
      if (!damage.empty() && !pushDamage(kNoFolder, *file, damage)) return;
    }
    for (size_t i = 0; i < folders.Folders.size(); ++i) {
      ExportItem start;
      start.kind = ExportItem::Kind::Folder;
      start.folder = i;
      start.component = mail_export::folderComponent(folders.Folders[i].Name);
      const std::string component = start.component;
      if (!push(std::move(start)) || !readFolder(i, folders.Folders[i], component)) return;
    }
  }

  bool push(ExportItem item) {
    const size_t weight = item.weight();
    return queue_.push(std::move(item), weight);
  }

  // A store file that could not be read in full. False once the writer wants no more.
  bool pushFailure(size_t folder, const Oe5File* file, const std::string& path,
                   std::exception_ptr error, bool abandonsFolder) {
    ExportItem failure;
    failure.kind = ExportItem::Kind::FileFailed;
    failure.folder = folder;
    failure.errorPath = path;
    failure.error = std::move(error);
    // An open file is known by its device and inode, one that could not be opened by path.
    failure.fileKey = file ? std::to_string(file->identity().first) + ":" +
                                 std::to_string(file->identity().second)
                           : "/" + path;
    failure.abandonsFolder = abandonsFolder;
    return push(std::move(failure));
  }

  // Damage found while reading: what could still be found is exported.
  bool pushDamage(size_t folder, const Oe5File& file, const std::string& reason) {
    return pushFailure(folder, &file, file.path(),
                       std::make_exception_ptr(
                           ResguardaError("Cannot read file " + file.path(), file.path(), reason)),
                       false);
  }

  uint64_t& allowanceFor(const Oe5File& file) {
    const uint64_t allowance = kReadsPerFileByte * file.size() + kReadsSlack;
    return allowances_.try_emplace(file.identity(), allowance).first->second;
  }

  // False once the writer wants no more.
  bool readFolder(size_t index, const Toe5_FolderInfo& folder, const std::string& component) {
    std::unique_ptr<Oe5File> file;
    Toe5_IndexList messages;
    std::string damage;
    try {
      // One open per folder file: its index and every message text come from it.
      file = store_.open(folder.FileName);
      uint64_t& allowance = allowanceFor(*file);
      // A file already refused for reading too much has been reported once.
      if (allowance == 0) return true;
      file->setReadAllowance(&allowance);
      damage = oe5_ReadIndex(*file, folder.FileName == "folders.dbx", messages);
    } catch (const Oe5Absent&) {
      return true;  // a folder the client has made no file for is passed over
    } catch (const std::exception&) {
      // Not opened, refused or not read: none of the folder's messages can be found.
      const std::string path = file ? file->path() : storeFolder_ + folder.FileName;
      return pushFailure(index, file.get(), path, std::current_exception(), true);
    }
    if (!damage.empty() && !pushDamage(index, *file, damage)) return false;
    const std::string messageFolder = destination_ + "mensajes/" + component + "/";
    const std::string attachmentFolder = destination_ + "adjuntos/" + component + "/";
    for (const Toe5_MessageInfo& message : messages.Messages) {
      if (abandoned_.load(std::memory_order_relaxed) == index) return true;
      ExportItem item;
      item.folder = index;
      std::string textDamage;
      bool skip = false;
      try {
        prepare(*file, message, messageFolder, attachmentFolder, item, textDamage);
      } catch (const Oe5Refused&) {
        return pushFailure(index, file.get(), file->path(), std::current_exception(), true);
      } catch (const Oe5ReadFailed&) {
        // The message fails, and its file was not read in full.
        if (!pushFailure(index, file.get(), file->path(), std::current_exception(), false)) {
          return false;
        }
        skip = true;
      } catch (const std::exception&) {
        skip = true;
      }
      if (skip) {
        item = ExportItem();
        item.folder = index;
        item.outcome = ExportItem::Outcome::Skip;
      }
      if (!textDamage.empty() && !pushDamage(index, *file, textDamage)) return false;
      if (!push(std::move(item))) return false;
    }
    return true;
  }

  // textDamage: why the message's text could not be read in full, empty when it could.
  void prepare(Oe5File& file, const Toe5_MessageInfo& message, const std::string& messageFolder,
               const std::string& attachmentFolder, ExportItem& item, std::string& textDamage) {
    if (!(message.Flags & kHasAttachments)) return;
    std::string& text = item.text;
    text = pool_.take();
    textDamage = oe5_ReadMessageText(file, message.TextPos, text);
    const size_t from = mail_export::findIgnoringCase(text, 0, kAttachmentHeader);
    if (from == std::string::npos) {
      pool_.give(std::move(text));
      text = std::string();
      return;
    }
    std::string name = mail_export::attachmentName(text, from);
    item.messageName = FiltrarNombre(message.SenderAddress + "#" + message.Subject + "#" +
                                     mail_export::dateText(message.ReceivedTime) + "#" + name) +
                       ".eml";
    item.messagePath = messageFolder + item.messageName;

    const bool decodeAhead = queue_.weight() >= kDecodeAheadWhenWaiting;
    // The message text is cut as the attachments are taken out: rest is where it now starts.
    size_t rest = from;
    for (;;) {
      const size_t header = findIn(text, rest, text.size(), kBlankLine);
      rest = header == std::string::npos ? std::min(rest + 3, text.size()) : header + 4;
      const std::string_view body = attachmentBody(text, rest);
      PreparedAttachment& attachment = item.attachments.emplace_back();
      attachment.bodyStart = rest;
      attachment.bodyLength = body.size();
      rest += body.size();

      // The log shows the filtered name, trailing blank included; only
      // a name that had to be replaced is shown as stored.
      const std::string filtered = FiltrarNombre(name);
      attachment.storedName = storedName(filtered);
      const std::string& stored = attachment.storedName;
      const bool replaced = filtered.compare(0, stored.size(), stored) != 0 ||
                            filtered.find_first_not_of(' ', stored.size()) != std::string::npos;
      attachment.storedPath = attachmentFolder + stored;
      attachment.loggedPath = attachmentFolder + (replaced ? stored : filtered);
      if (body.size() <= kDecodeAheadLimit && decodeAhead) {
        attachment.bytes = pool_.take();
        attachment.bytes.reserve(body.size() / 4 * 3 + 3);
        StringOutputStream out(attachment.bytes);
        decodeBase64(body, out);
        attachment.decoded = true;
      }

      const size_t next = mail_export::findIgnoringCase(text, rest, kAttachmentHeader);
      if (next == std::string::npos) break;
      name = mail_export::attachmentName(text, next);
      rest = next;
    }
    item.outcome = ExportItem::Outcome::Write;
  }

  Oe5Store store_;
  std::string storeFolder_;  // ends in "/"
  const std::string& destination_;
  ExportQueue& queue_;
  BufferPool& pool_;
  const std::atomic<size_t>& abandoned_;
  std::map<std::pair<uint64_t, uint64_t>, uint64_t> allowances_;  // by file identity
};

// The writing side, on the caller's thread: makes the output folders, writes the files and
// makes every call to the sink, in the order the messages come.
class OutputWriter {
 public:
  OutputWriter(const std::string& destination, ExportSink& sink, BufferPool& pool,
               std::atomic<size_t>& abandonedFolder)
      : tree_(destination), sink_(sink), pool_(pool), abandoned_(abandonedFolder) {}

  // False when the export ends here.
  bool take(ExportItem& item) {
    switch (item.kind) {
      case ExportItem::Kind::Folder:
        // The stop request is tested before every folder and every message.
        if (!sink_.goOn()) return false;
        folder_ = item.folder;
        component_ = std::move(item.component);
        tree_.closeFolder();
        return true;
      case ExportItem::Kind::FileFailed:
        if (!sink_.goOn()) return false;
        // One line per store file, however many folder records name it; a folder already
        // left out has had its line.
        if ((item.folder == kNoFolder || item.folder != abandonedFolder_) &&
            reportedFiles_.insert(item.fileKey).second) {
          report(item.errorPath, item.error);
        }
        if (item.abandonsFolder) abandon(item.folder);
        return true;
      case ExportItem::Kind::Fatal:
        fatal_ = item.error;
        return false;
      case ExportItem::Kind::Message:
        if (item.folder == abandonedFolder_) return true;
        if (!sink_.goOn()) return false;
        handle(item);
        pool_.give(std::move(item.text));
        for (PreparedAttachment& attachment : item.attachments)
          pool_.give(std::move(attachment.bytes));
        return true;
    }
    return true;
  }

  std::exception_ptr fatal() const { return fatal_; }

 private:
  void handle(ExportItem& item) {
    // A message that failed is skipped with its remaining attachments and is not counted.
    if (item.outcome == ExportItem::Outcome::Skip) return;
    if (item.outcome == ExportItem::Outcome::Write && !write(item)) return;
    sink_.messageReviewed();
  }

  bool write(ExportItem& item) {
    OutputTree::Folders folders{};
    try {
      folders = tree_.open(component_);
    } catch (const std::exception& error) {
      // The folder's outputs cannot go anywhere safe: the rest of the folder is left out.
      sink_.failed(item.messagePath, error);
      abandon(folder_);
      return false;
    }
    if (!put(folders.messages, item.messageName, item.messagePath, item.text)) return false;
    sink_.logLine(item.messagePath);
    for (PreparedAttachment& attachment : item.attachments) {
      bool written;
      if (attachment.decoded) {
        written = put(folders.attachments, attachment.storedName, attachment.storedPath,
                      attachment.bytes);
      } else {
        const std::string_view body =
            std::string_view(item.text).substr(attachment.bodyStart, attachment.bodyLength);
        written = put(folders.attachments, attachment.storedName, attachment.storedPath,
                      [body](OutputByteStream& out) { decodeBase64(body, out); });
      }
      if (!written) return false;
      sink_.logLine(attachment.loggedPath);
      sink_.attachmentWritten();
    }
    return true;
  }

  template <typename Bytes>
  bool put(int dirFd, const std::string& name, const std::string& path, const Bytes& bytes) {
    try {
      writeOutputFile(dirFd, name, path, bytes, IfExists::Replace, mode_);
      return true;
    } catch (const std::exception& error) {
      sink_.failed(path, error);
      return false;
    }
  }

  void report(const std::string& path, const std::exception_ptr& error) {
    try {
      std::rethrow_exception(error);
    } catch (const std::exception& e) {
      sink_.failed(path, e);
    } catch (...) {
      sink_.failed(path, std::runtime_error("unknown error"));
    }
  }

  void abandon(size_t folder) {
    abandonedFolder_ = folder;
    abandoned_.store(folder, std::memory_order_relaxed);
  }

  OutputTree tree_;
  ExportSink& sink_;
  // Read before the reader thread starts.
  const mode_t mode_ = ordinaryFileMode();
  BufferPool& pool_;
  std::atomic<size_t>& abandoned_;
  size_t abandonedFolder_ = kNoFolder;
  size_t folder_ = kNoFolder;
  std::set<std::string> reportedFiles_;  // by ExportItem::fileKey
  std::string component_;
  std::exception_ptr fatal_;
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
    // The character after "name=" is skipped and a quote after it becomes a blank, so
    // name="x", name= "x" and name=<tab>"x" all end at the closing quote. Only a name right
    // after "name=" is unquoted: it runs to the end of its token, and a CR stands in for the
    // closing quote that the name filter turns into a blank.
    const size_t after = found + 5;
    if (after < text.size() && !std::strchr("\" \t", text[after])) {
      size_t end = after;
      while (end < text.size() && !std::strchr("\r\n; \t", text[end])) ++end;
      return std::string(text.substr(after, end - after)) + "\r";
    }
    start = found + 6;
  }
  if (start >= text.size()) return {};
  const std::string_view rest = text.substr(start);
  const bool quoted = rest.front() == '"';
  size_t end = rest.find('"', quoted ? 1 : 0);
  if (end == std::string_view::npos) end = rest.find('\r');
  if (end == std::string_view::npos) return {};
  std::string name(rest.substr(0, end + 1));
  if (quoted) name.front() = ' ';
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
  std::string destination = dirDestino;
  if (!destination.empty() && destination.back() != '/') destination += '/';
  // One thread reads and decodes the next messages while this one writes, so the export
  // takes about as long as writing its output.
  ExportQueue queue(kQueueBytes);
  std::atomic<size_t> abandonedFolder{kNoFolder};
  BufferPool pool;
  StoreReader reader(storeFolder, destination, queue, pool, abandonedFolder);
  OutputWriter writer(destination, sink, pool, abandonedFolder);
  std::thread readerThread([&reader] { reader.run(); });
  try {
    ExportItem item;
    while (queue.pop(item) && writer.take(item)) {
    }
  } catch (...) {
    queue.close();
    readerThread.join();
    throw;
  }
  queue.close();
  readerThread.join();
  if (writer.fatal()) std::rethrow_exception(writer.fatal());
}
