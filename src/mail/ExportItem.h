#pragma once

#include <cstddef>
#include <exception>
#include <limits>
#include <mutex>
#include <string>
#include <vector>

#include "mail/BoundedQueue.h"

// What the export's reading thread hands its writing thread, and the buffers they share.
namespace mail_export {

// The folder index of a failure that belongs to no folder (the folder list itself).
inline constexpr size_t kNoFolder = std::numeric_limits<size_t>::max();

// How far the reading thread may run ahead of the writing one: bytes of message text and
// decoded attachments waiting to be written, each item weighing a little more (weight()).
inline constexpr size_t kQueueBytes = 32u << 20;

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

  // What the item weighs in the queue: its bytes, and a fixed share for the rest.
  size_t weight() const;
};

using ExportQueue = BoundedQueue<ExportItem>;

// Buffers of written messages, handed back by the writer so that the reader fills them
// again instead of growing fresh memory (and faulting it in) for every message.
class BufferPool {
 public:
  std::string take();
  void give(std::string&& buffer);

 private:
  static constexpr size_t kHeldBytes = 16u << 20;
  static constexpr size_t kBuffers = 16;

  std::mutex mutex_;
  std::vector<std::string> buffers_;
  size_t held_ = 0;
};

}  // namespace mail_export
