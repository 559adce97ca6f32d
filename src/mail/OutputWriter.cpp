#include "mail/OutputWriter.h"

#include <string_view>

#include "mail/ByteStreams.h"
#include "mail/ExportSink.h"
#include "mail/UUE.h"
#include "platform/Errors.h"

namespace mail_export {

OutputWriter::OutputWriter(const std::string& destination, ExportSink& sink, BufferPool& pool,
                           std::atomic<size_t>& abandonedFolder)
    : tree_(destination), sink_(sink), pool_(pool), abandoned_(abandonedFolder) {}

bool OutputWriter::take(ExportItem& item) {
  switch (item.kind) {
    case ExportItem::Kind::Folder:
      // The stop request is tested before every folder and every message.
      if (!sink_.goOn()) return false;
      folder_ = item.folder;
      component_ = std::move(item.component);
      tree_.closeFolder();
      return true;
    case ExportItem::Kind::FileFailed:
      return takeFileFailed(item);
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

bool OutputWriter::takeFileFailed(const ExportItem& item) {
  if (!sink_.goOn()) return false;
  // One line per store file, however many folder records name it; a folder already left out
  // has had its line.
  if ((item.folder == kNoFolder || item.folder != abandonedFolder_) &&
      reportedFiles_.insert(item.fileKey).second) {
    report(item.errorPath, item.error);
  }
  if (item.abandonsFolder) abandon(item.folder);
  return true;
}

void OutputWriter::handle(ExportItem& item) {
  // A message that failed is skipped with its remaining attachments and is not counted.
  if (item.outcome == ExportItem::Outcome::Skip) return;
  if (item.outcome == ExportItem::Outcome::Write && !write(item)) return;
  sink_.messageReviewed();
}

bool OutputWriter::write(ExportItem& item) {
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
  return writeAttachments(folders.attachments, item);
}

bool OutputWriter::writeAttachments(int dirFd, ExportItem& item) {
  for (PreparedAttachment& attachment : item.attachments) {
    bool written;
    if (attachment.decoded) {
      written = put(dirFd, attachment.storedName, attachment.storedPath, attachment.bytes);
    } else {
      const std::string_view body =
          std::string_view(item.text).substr(attachment.bodyStart, attachment.bodyLength);
      written = put(dirFd, attachment.storedName, attachment.storedPath,
                    [body](OutputByteStream& out) { decodeBase64Body(body, out); });
    }
    if (!written) return false;
    sink_.logLine(attachment.loggedPath);
    sink_.attachmentWritten();
  }
  return true;
}

template <typename Bytes>
bool OutputWriter::put(int dirFd, const std::string& name, const std::string& path,
                       const Bytes& bytes) {
  try {
    writeOutputFile(dirFd, name, path, bytes, IfExists::Replace, mode_);
    return true;
  } catch (const std::exception& error) {
    sink_.failed(path, error);
    return false;
  }
}

void OutputWriter::report(const std::string& path, const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    sink_.failed(path, e);
  } catch (...) {
    sink_.failed(path, unknownError(path));
  }
}

void OutputWriter::abandon(size_t folder) {
  abandonedFolder_ = folder;
  abandoned_.store(folder, std::memory_order_relaxed);
}

}  // namespace mail_export
