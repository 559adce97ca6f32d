#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "mail/uoexpress.h"

// Writes mail-store (DBX) files for tests, fuzzing seeds and benchmarks. Texts and records are
// streamed out as they are added; only the record positions stay in memory, so a store of
// hundreds of megabytes is written without holding it.

struct BuiltMessage {
  int32_t flags = 0;
  bool flagsDirect = false;  // entry 0x81 instead of a 3-byte 0x01 value
  std::string subject;
  std::string sender;
  Toe5_FileTime received{};
  bool hasReceived = true;
  std::string text;            // stored as is in the text chain
  bool textPosDirect = false;  // entry 0x84 instead of a 4-byte 0x04 value
  bool withoutText = false;    // no text chain: TextPos 0
  uint32_t textAt = 0;         // when not 0, this chain (from addText) instead of a new one
};

struct BuiltFolder {
  std::string name;
  std::string fileName;
  bool hasFileEntry = true;  // without entries 0x03 and 0x06 the folder is not listed
  std::vector<BuiltMessage> messages;
};

// Where the writer put things, for tests that patch bytes.
struct DbxLayout {
  std::vector<uint32_t> records;  // index records, in the order added
  std::vector<uint32_t> texts;    // first text block of each message, 0 for folders
  std::vector<uint32_t> nodes;    // tree nodes, children before their parent
  uint32_t root = 0;
};

class DbxWriter {
 public:
  // To a file (path not empty) or to memory (bytes()).
  explicit DbxWriter(const std::string& path = {});
  ~DbxWriter();
  DbxWriter(const DbxWriter&) = delete;
  DbxWriter& operator=(const DbxWriter&) = delete;

  void addMessage(const BuiltMessage& message);
  void addFolder(const BuiltFolder& folder, int32_t id);
  // An index record with the given entry table and data area, as is.
  uint32_t addRawRecord(const std::vector<uint32_t>& entries, const std::string& data);
  // A text chain holding text; returns its first block's position.
  uint32_t addText(const std::string& text) { return writeText(text); }
  // Lists the index-th record added once more, times times over (a damaged index).
  void listAgain(size_t index, size_t times);

  // Writes the index tree over the records added (at most fanout entries per node, some
  // reached through the links at offsets 12 and 8, some through entry children, so the walk
  // lists them in the order added) and the header; the item count defaults to the number of
  // records.
  DbxLayout finish(size_t fanout = 4, std::optional<int32_t> itemCount = {});

  const std::vector<uint8_t>& bytes() const { return memory_; }

 private:
  uint32_t append(const void* data, size_t size);
  void patch(uint64_t offset, const void* data, size_t size);
  uint32_t writeText(const std::string& text);
  uint32_t writeRecord(const std::vector<uint32_t>& entries, const std::string& data);
  uint32_t writeTree(size_t first, size_t count, size_t fanout);

  std::FILE* file_ = nullptr;
  std::vector<uint8_t> memory_;
  uint64_t size_ = 0;
  DbxLayout layout_;
};

// A whole store: folders.dbx listing the folders, and one file per folder.
void writeStore(const std::string& storeFolder, const std::vector<BuiltFolder>& folders);

// A one-file image in memory: a message file holding these messages, or folders.dbx.
std::vector<uint8_t> buildMessageFile(const std::vector<BuiltMessage>& messages,
                                      DbxLayout* layout = nullptr, size_t fanout = 4);
std::vector<uint8_t> buildFoldersFile(const std::vector<BuiltFolder>& folders,
                                      DbxLayout* layout = nullptr, size_t fanout = 4);

// Little-endian store into a byte image (tests patch built files with it).
void putU32(std::vector<uint8_t>& bytes, uint64_t offset, uint32_t value);

// A FILETIME for a UTC calendar time.
Toe5_FileTime fileTimeOf(int year, int month, int day, int hour, int minute, int second);
