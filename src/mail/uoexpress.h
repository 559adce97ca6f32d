#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/Errors.h"

// Reader of the mail client's DBX store files. Every file is untrusted: offsets, lengths and
// counts are checked against the file before use, and an object that fails its self-check
// (its first field holds its own position) is treated as absent.
// Its parts: Oe5Source/Oe5File (the bytes), Oe5IndexWalk (the index tree), Oe5IndexRecords
// (folder and message records), Oe5TextChain (message texts), Oe5Store (the store folder).

// A Windows FILETIME: 100-nanosecond ticks since 1 January 1601, UTC, low 32 bits first.
struct Toe5_FileTime {
  uint32_t Low = 0;
  uint32_t High = 0;

  uint64_t ticks() const { return (uint64_t{High} << 32) | Low; }
  bool operator==(const Toe5_FileTime&) const = default;
};

// One mail folder listed in folders.dbx.
struct Toe5_FolderInfo {
  int32_t Value80 = 0;
  int32_t Value81 = 0;
  std::string Name;
  std::string FileName;
};

// One message of a folder file.
struct Toe5_MessageInfo {
  int32_t Value80 = 0;
  int32_t Flags = 0;  // bit 0x4000: the message has attachments
  std::string Text1B;
  std::string Text1A;
  std::string Text07;
  Toe5_FileTime Time02;
  Toe5_FileTime ReceivedTime;
  std::string Subject;
  std::string Text0D;
  std::string Text09;
  std::string Text13;
  std::string SenderAddress;
  std::string Text0A;
  std::string Text0B;
  int32_t Value91 = 0;
  int32_t TextPos = 0;   // position of the first text block
  int32_t Position = 0;  // the record's own position
};

struct Toe5_FileHeader {
  int32_t ItemCount = 0;
};

// What an index read appends to: folder records for folders.dbx, message records otherwise.
struct Toe5_IndexList {
  std::vector<Toe5_FolderInfo> Folders;
  std::vector<Toe5_MessageInfo> Messages;
};

// A local date-time, broken down.
struct Toe5_DateTime {
  int Year = 0;
  int Month = 0;  // 1..12
  int Day = 0;
  int Hour = 0;
  int Minute = 0;
  int Second = 0;
  int Millisecond = 0;
};

// The bytes of one store file. Reads past the end come back short.
class Oe5Source {
 public:
  virtual ~Oe5Source() = default;
  virtual uint64_t size() const = 0;
  // Copies up to len bytes from offset into dst and returns how many were copied.
  virtual size_t read(uint64_t offset, void* dst, size_t len) = 0;
  // The len bytes at offset, those past the end reading as zero: a pointer into the source's
  // own buffer when it holds them all, else into scratch (len bytes), filled by read(). Valid
  // until the next call.
  virtual const uint8_t* view(uint64_t offset, size_t len, uint8_t* scratch);
};

// A store file held in memory (tests, fuzzing).
class Oe5Memory : public Oe5Source {
 public:
  explicit Oe5Memory(std::span<const uint8_t> bytes) : bytes_(bytes) {}
  uint64_t size() const override { return bytes_.size(); }
  size_t read(uint64_t offset, void* dst, size_t len) override;
  const uint8_t* view(uint64_t offset, size_t len, uint8_t* scratch) override;

 private:
  std::span<const uint8_t> bytes_;
};

// A store file that is not read (further) because a sound store never looks like it: a name
// or link leading out of the store folder, or a folder file whose reading would go on far
// beyond its size. Unlike a missing file, the export reports it.
class Oe5Refused : public ResguardaError {
 public:
  using ResguardaError::ResguardaError;
};

// A store file that does not exist, or a folder record that names no file at all: the
// client lists folders it has not made a file for yet, so the export passes them over.
class Oe5Absent : public ResguardaError {
 public:
  using ResguardaError::ResguardaError;
};

// The system failed to give the bytes of a store file that is open (an I/O error).
class Oe5ReadFailed : public ResguardaError {
 public:
  using ResguardaError::ResguardaError;
};

// A store file opened read-only. Small reads are served from a window buffer, so walking a
// text chain of 528-byte blocks costs a handful of system calls per megabyte.
class Oe5File : public Oe5Source {
 public:
  // Raises a "Cannot open file" error when the path cannot be opened or is not a regular file.
  explicit Oe5File(const std::string& path);
  // Takes over an open descriptor; path names it in errors. Raises cannotOpenFile when it is
  // not a regular file.
  Oe5File(int fd, std::string path);
  ~Oe5File() override;
  Oe5File(const Oe5File&) = delete;
  Oe5File& operator=(const Oe5File&) = delete;

  const std::string& path() const { return path_; }
  uint64_t size() const override { return size_; }
  size_t read(uint64_t offset, void* dst, size_t len) override;
  const uint8_t* view(uint64_t offset, size_t len, uint8_t* scratch) override;

  // The file's device and inode: the same file under two names has one identity.
  std::pair<uint64_t, uint64_t> identity() const { return {device_, inode_}; }
  // Every byte asked of the file from now on is taken from *remaining; a read that would
  // take more than is left raises Oe5Refused instead. Null: no limit.
  void setReadAllowance(uint64_t* remaining) { allowance_ = remaining; }

 private:
  void adopt(int fd);
  // Makes the window start at offset; false when nothing could be read there.
  bool fill(uint64_t offset);
  void charge(size_t len);
  size_t readUncharged(uint64_t offset, void* dst, size_t len);

  std::string path_;
  int fd_ = -1;
  uint64_t size_ = 0;
  uint64_t device_ = 0;
  uint64_t inode_ = 0;
  uint64_t* allowance_ = nullptr;
  std::vector<uint8_t> window_;
  uint64_t windowStart_ = 0;
  size_t windowLength_ = 0;
};

Toe5_FileHeader oe5_ReadHeader(Oe5Source& file);

// Walks the index tree of a file and appends one record per index record found: folder
// records in folder mode, message records otherwise. Nothing is read when the header's item
// count is 0 or less. Returns why the index could not be read in full (the file ends before
// its header or before a node or record the tree names, a named one fails its self-check,
// fewer records than the header counts, a negative count), empty when it could. Damage is
// an answer, not a failure: what was found stays in list. Only a read the file refuses
// throws (Oe5Refused, Oe5ReadFailed), and what was appended before it stays too.
std::string oe5_ReadIndex(Oe5Source& file, bool folderMode, Toe5_IndexList& list);

// The text of the message whose first text block is at textPos as a list of lines read back:
// the stored text with every lone CR and lone LF made a CR LF, followed by one CR LF (so a
// text that already ends in CR LF ends in two). Empty when textPos <= 0 or when the item
// count is 0 or less; a first block failing its self-check gives the CR LF alone.
std::string oe5_ReadMessageText(Oe5Source& file, int32_t textPos);
// The same into text (cleared first), whose storage is reused from one message to the next.
// Returns why the text could not be read in full (a block of the chain is missing or fails
// its self-check, the chain comes back on itself or outgrows the file), empty when it could.
std::string oe5_ReadMessageText(Oe5Source& file, int32_t textPos, std::string& text);

// Text made into a list of lines (split at CR LF, lone CR, lone LF) and joined back with
// every line followed by CR LF. An empty text stays empty.
std::string oe5_JoinLines(std::string_view text);
// What oe5_ReadMessageText makes of a stored text: every lone CR and lone LF made a CR LF,
// then one CR LF more.
std::string oe5_MessageLines(std::string_view text);

// UTC FILETIME -> local date-time, with the UTC offset in force at that instant. Raises a
// ResguardaError when the instant cannot be represented.
Toe5_DateTime oe5_FileTimeToDateTime(const Toe5_FileTime& fileTime);

// The files of one store folder.
class Oe5Store {
 public:
  explicit Oe5Store(std::string storeFolder);

  // Opens a store file. A name that is "." or "..", or holds "/", raises Oe5Refused: store
  // files lie directly inside the store folder. A link is followed only to another file of
  // the store folder named by the link alone; any other link raises Oe5Refused. An empty name
  // or a file that does not exist raises Oe5Absent; other failures a "Cannot open file"
  // error with the full path.
  std::unique_ptr<Oe5File> open(const std::string& fileName) const;

  // Folder mode exactly when fileName is "folders.dbx" (case-sensitive). Nothing happens when
  // list is null. Returns why the index could not be read in full, empty when it could.
  std::string oe5_ReadIndex(const std::string& fileName, Toe5_IndexList* list) const;
  std::string oe5_ReadMessageText(const std::string& fileName, int32_t textPos) const;

 private:
  // The entry of the open store folder that stands for fileName: that exact name, else the
  // single entry matching it without regard to ASCII case.
  static std::string entryName(int folderFd, const std::string& fileName);

  std::string folder_;
};
