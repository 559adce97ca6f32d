#include "mail/StoreReader.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string_view>

#include "mail/ByteStreams.h"
#include "mail/MessageNames.h"
#include "mail/Oe5Failures.h"
#include "mail/UUE.h"
#include "platform/Errors.h"
#include "platform/PathText.h"

namespace mail_export {

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

// Attachments are decoded by the reading thread while the writer has work waiting, and left
// for the writer to decode straight into its file while the writer waits for the reader:
// whichever side is behind gets the decoding off its hands. A larger attachment is always
// left to the writer, so that memory holds no more than its encoded form.
constexpr size_t kDecodeAheadWhenWaiting = kQueueBytes / 8;
constexpr size_t kDecodeAheadLimit = 8u << 20;

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

}  // namespace

StoreReader::StoreReader(const std::string& storeFolder, const std::string& destination,
                         ExportQueue& queue, BufferPool& pool,
                         const std::atomic<size_t>& abandonedFolder)
    : store_(storeFolder),
      // An empty store folder stands for the root, as it does for the store itself.
      storeFolder_(storeFolder.empty() ? "/" : withTrailingSlash(storeFolder)),
      destination_(destination),
      queue_(queue),
      pool_(pool),
      abandoned_(abandonedFolder) {}

void StoreReader::run() noexcept {
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

void StoreReader::readStore() {
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
    start.component = folderComponent(folders.Folders[i].Name);
    const std::string component = start.component;
    if (!push(std::move(start)) || !readFolder(i, folders.Folders[i], component)) return;
  }
}

bool StoreReader::push(ExportItem item) {
  const size_t weight = item.weight();
  return queue_.push(std::move(item), weight);
}

// A store file that could not be read in full. False once the writer wants no more.
bool StoreReader::pushFailure(size_t folder, const Oe5File* file, const std::string& path,
                              std::exception_ptr error, bool abandonsFolder) {
  ExportItem failure;
  failure.kind = ExportItem::Kind::FileFailed;
  failure.folder = folder;
  failure.errorPath = path;
  failure.error = std::move(error);
  // An open file is known by its device and inode, one that could not be opened by path.
  failure.fileKey =
      file ? std::to_string(file->identity().first) + ":" + std::to_string(file->identity().second)
           : "/" + path;
  failure.abandonsFolder = abandonsFolder;
  return push(std::move(failure));
}

// Damage found while reading: what could still be found is exported.
bool StoreReader::pushDamage(size_t folder, const Oe5File& file, const std::string& reason) {
  const ResguardaError damage(cannotReadFileText(file.path()), file.path(), reason);
  return pushFailure(folder, &file, file.path(), std::make_exception_ptr(damage), false);
}

uint64_t& StoreReader::allowanceFor(const Oe5File& file) {
  const uint64_t allowance = kReadsPerFileByte * file.size() + kReadsSlack;
  return allowances_.try_emplace(file.identity(), allowance).first->second;
}

// False once the writer wants no more.
bool StoreReader::readFolder(size_t index, const Toe5_FolderInfo& folder,
                             const std::string& component) {
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
  return readMessages(index, *file, messages, component);
}

// False once the writer wants no more.
bool StoreReader::readMessages(size_t index, Oe5File& file, const Toe5_IndexList& messages,
                               const std::string& component) {
  const std::string messageFolder = joinPath(destination_ + "mensajes/", component) + "/";
  const std::string attachmentFolder = joinPath(destination_ + "adjuntos/", component) + "/";
  for (const Toe5_MessageInfo& message : messages.Messages) {
    if (abandoned_.load(std::memory_order_relaxed) == index) return true;
    ExportItem item;
    item.folder = index;
    std::string textDamage;
    bool skip = false;
    try {
      prepare(file, message, messageFolder, attachmentFolder, item, textDamage);
    } catch (const Oe5Refused&) {
      return pushFailure(index, &file, file.path(), std::current_exception(), true);
    } catch (const Oe5ReadFailed&) {
      // The message fails, and its file was not read in full.
      if (!pushFailure(index, &file, file.path(), std::current_exception(), false)) return false;
      skip = true;
    } catch (const std::exception&) {
      skip = true;
    }
    if (skip) {
      item = ExportItem();
      item.folder = index;
      item.outcome = ExportItem::Outcome::Skip;
    }
    if (!textDamage.empty() && !pushDamage(index, file, textDamage)) return false;
    if (!push(std::move(item))) return false;
  }
  return true;
}

// textDamage: why the message's text could not be read in full, empty when it could.
void StoreReader::prepare(Oe5File& file, const Toe5_MessageInfo& message,
                          const std::string& messageFolder, const std::string& attachmentFolder,
                          ExportItem& item, std::string& textDamage) {
  if (!(message.Flags & kHasAttachments)) return;
  std::string& text = item.text;
  text = pool_.take();
  textDamage = oe5_ReadMessageText(file, message.TextPos, text);
  const size_t from = findIgnoringCase(text, 0, kAttachmentHeader);
  if (from == std::string::npos) {
    pool_.give(std::move(text));
    text = std::string();
    return;
  }
  std::string name = attachmentName(text, from);
  item.messageName = messageFileName(message, name);
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

    const AttachmentNames names = attachmentNames(name);
    attachment.storedName = names.stored;
    attachment.storedPath = attachmentFolder + names.stored;
    attachment.loggedPath = attachmentFolder + names.logged;
    if (body.size() <= kDecodeAheadLimit && decodeAhead) {
      attachment.bytes = pool_.take();
      attachment.bytes.reserve(body.size() / 4 * 3 + 3);
      StringOutputStream out(attachment.bytes);
      decodeBase64Body(body, out);
      attachment.decoded = true;
    }

    const size_t next = findIgnoringCase(text, rest, kAttachmentHeader);
    if (next == std::string::npos) break;
    name = attachmentName(text, next);
    rest = next;
  }
  item.outcome = ExportItem::Outcome::Write;
}

}  // namespace mail_export
