#include <algorithm>
#include <string>
#include <unordered_set>
#include <vector>

#include "mail/Oe5IndexRecords.h"
#include "mail/Oe5Layout.h"
#include "mail/uoexpress.h"

namespace {

constexpr char kShortHeader[] = "archivo truncado: termina antes del final de su cabecera";
constexpr char kNegativeCount[] = "índice dañado: su cabecera da un número negativo de elementos";

// One node of the tree walk in progress. The walk keeps its own stack, so a deep or
// crafted tree cannot exhaust the thread's stack; the records come out in the same order as
// a depth-first recursion: offset 12, offset 8, then each entry's record and child.
struct WalkFrame {
  uint64_t pos;
  int stage;  // 0: links at 12 and 8 pending, 1: link at 8 pending, 2: entries
  int32_t link12;
  int32_t link8;
  uint64_t entryCount;
  uint64_t nextEntry;
};

// Why an index was not read in full, in the words the log shows.
std::string damageReason(bool truncated, bool folderMode, uint64_t found, uint64_t expected) {
  std::string reason = truncated ? "archivo truncado" : "índice dañado";
  if (found < expected) {
    const char* const items = folderMode ? " carpetas" : " mensajes";
    const std::string of = " de sus " + std::to_string(expected) + items;
    if (found == 0) {
      reason += (folderMode ? ": no se halló ninguna" : ": no se halló ninguno") + of;
    } else {
      reason +=
          (found == 1 ? ": solo se halló 1" : ": solo se hallaron " + std::to_string(found)) + of;
    }
  }
  return reason;
}

// The walk over one file's index tree, appending every record it finds to list.
class IndexWalk {
 public:
  IndexWalk(Oe5Source& file, bool folderMode, Toe5_IndexList& list)
      : file_(file),
        folderMode_(folderMode),
        list_(list),
        fileSize_(file.size()),
        // Work bound: a sound file is read about once over; crafted files whose nodes and
        // records overlap or are listed many times stop once twice the file has been read.
        budget_(2 * fileSize_ + 4096) {}

  // Returns why the index could not be read in full, empty when it could.
  std::string run(uint64_t expected) {
    enter(readU32(file_, kOe5RootNodeOffset));
    while (!stack_.empty() && budget_ > 0) step();
    // A sound file is read about once over, far within the budget.
    if (budget_ == 0) damaged_ = true;
    if (!damaged_ && !truncated_ && found_ >= expected) return {};
    return damageReason(truncated_, folderMode_, found_, expected);
  }

 private:
  // What a sound index never shows: a node or record it names that fails its self-check
  // (damaged), or that lies past the end of the file (truncated).
  void missing(uint64_t pos, uint64_t size) {
    (pos + size > fileSize_ ? truncated_ : damaged_) = true;
  }

  void spend(uint64_t n) { budget_ = budget_ > n ? budget_ - n : 0; }

  bool walkable(int64_t link) const {
    return link > 0 && !visited_.count(static_cast<uint64_t>(link));
  }

  // Starts walking the node at pos, as the recursion would on entering it.
  void enter(uint64_t pos) {
    if (budget_ == 0) return;
    uint8_t head[kOe5NodeHeadSize];
    readZeroFilled(file_, pos, head, sizeof head);
    spend(kOe5NodeHeadSize);
    if (le32(head) != pos) return missing(pos, kOe5NodeHeadSize);
    visited_.insert(pos);
    const uint64_t firstEntry = pos + kOe5NodeHeadSize;
    uint64_t count = le32(head + 16) >> 8;
    // Entries past the end of the file read as zeros and name nothing.
    const uint64_t present =
        firstEntry >= fileSize_
            ? 0
            : (fileSize_ - firstEntry + kOe5NodeEntrySize - 1) / kOe5NodeEntrySize;
    if (count > present) truncated_ = true;
    count = std::min(count, present);
    stack_.push_back({pos, 0, static_cast<int32_t>(le32(head + 12)),
                      static_cast<int32_t>(le32(head + 8)), count, 0});
  }

  // One move of the walk: a link of the top node, or its next entry.
  void step() {
    WalkFrame& frame = stack_.back();
    if (frame.stage == 0) {
      frame.stage = 1;
      const int32_t link12 = frame.link12;
      if (walkable(link12)) enter(static_cast<uint64_t>(link12));
      return;
    }
    if (frame.stage == 1) {
      frame.stage = 2;
      const int32_t link8 = frame.link8;
      if (walkable(link8)) enter(static_cast<uint64_t>(link8));
      return;
    }
    if (frame.nextEntry >= frame.entryCount) {
      stack_.pop_back();
      return;
    }
    uint8_t entry[kOe5NodeEntrySize];
    readZeroFilled(file_, frame.pos + kOe5NodeHeadSize + frame.nextEntry * kOe5NodeEntrySize, entry,
                   sizeof entry);
    ++frame.nextEntry;
    spend(kOe5NodeEntrySize);
    const int32_t recordPos = static_cast<int32_t>(le32(entry));
    const int32_t childPos = static_cast<int32_t>(le32(entry + 4));
    if (recordPos > 0) readRecord(static_cast<uint64_t>(recordPos));
    // frame may dangle after enter() grows the stack; it is not used again here.
    if (walkable(childPos)) enter(static_cast<uint64_t>(childPos));
  }

  void readRecord(uint64_t at) {
    const bool valid = folderMode_ ? readFolderRecord(file_, at, budget_, list_.Folders)
                                   : readMessageRecord(file_, at, budget_, list_.Messages);
    if (valid) {
      ++found_;
    } else {
      missing(at, kOe5RecordHeadSize);
    }
  }

  Oe5Source& file_;
  const bool folderMode_;
  Toe5_IndexList& list_;
  const uint64_t fileSize_;
  uint64_t budget_;
  std::unordered_set<uint64_t> visited_;
  std::vector<WalkFrame> stack_;
  bool damaged_ = false;
  bool truncated_ = false;
  uint64_t found_ = 0;  // records passing their self-check
};

}  // namespace

Toe5_FileHeader oe5_ReadHeader(Oe5Source& file) {
  Toe5_FileHeader header;
  header.ItemCount = static_cast<int32_t>(readU32(file, kOe5ItemCountOffset));
  return header;
}

std::string oe5_ReadIndex(Oe5Source& file, bool folderMode, Toe5_IndexList& list) {
  const int32_t itemCount = oe5_ReadHeader(file).ItemCount;
  // Its header was cut off: the count read as zero says nothing about what the file held.
  if (file.size() < kOe5HeaderEnd) return kShortHeader;
  if (itemCount < 0) return kNegativeCount;
  if (itemCount == 0) return {};
  return IndexWalk(file, folderMode, list).run(static_cast<uint64_t>(itemCount));
}
