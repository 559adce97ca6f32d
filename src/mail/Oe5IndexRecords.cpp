#include "mail/Oe5IndexRecords.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>

#include "mail/Oe5Layout.h"

namespace {

// One index record: its entry table and the bounds of its data area within the file.
class IndexRecord {
 public:
  IndexRecord(Oe5Source& file, uint64_t pos, uint64_t& budget) : file_(file) {
    uint8_t head[kOe5RecordHeadSize];
    readZeroFilled(file, pos, head, sizeof head);
    valid_ = le32(head) == pos;
    if (!valid_) return;
    const uint32_t bodyLength = le32(head + 4);
    const size_t count = head[10];
    uint8_t table[255 * 4];
    readZeroFilled(file, pos + kOe5RecordHeadSize, table, count * 4);
    entries_.reserve(count);
    for (size_t i = 0; i < count; ++i) entries_.push_back(le32(table + i * 4));
    dataStart_ = pos + kOe5RecordHeadSize + count * 4;
    // A body shorter than its own entry table has no data area; a truncated file holds only
    // what it holds.
    uint64_t length = bodyLength >= count * 4 ? bodyLength - count * 4 : 0;
    const uint64_t fileSize = file.size();
    length = dataStart_ >= fileSize ? 0 : std::min(length, fileSize - dataStart_);
    dataLength_ = length;
    budget_ = &budget;
    spend(kOe5RecordHeadSize + count * 4);
  }

  bool valid() const { return valid_; }
  const std::vector<uint32_t>& entries() const { return entries_; }

  // A little-endian integer of width bytes at a data area offset; absent when it overruns
  // the data area, as in a damaged record (the field then keeps what it had). A failed read
  // throws, as every read of the file does.
  std::optional<uint64_t> integer(uint32_t offset, size_t width) {
    if (uint64_t{offset} + width > dataLength_) return std::nullopt;
    uint8_t bytes[8] = {};
    if (file_.read(dataStart_ + offset, bytes, width) != width) return std::nullopt;
    spend(width);
    uint64_t value = 0;
    for (size_t i = width; i-- > 0;) value = value << 8 | bytes[i];
    return value;
  }

  // The zero-terminated string at a data area offset; absent when no terminator lies within
  // the data area.
  std::optional<std::string> string(uint32_t offset) {
    if (offset >= dataLength_) return std::nullopt;
    std::string text;
    uint64_t at = dataStart_ + offset;
    uint64_t left = dataLength_ - offset;
    uint8_t chunk[256];
    while (left > 0 && *budget_ > 0) {
      const size_t want = static_cast<size_t>(std::min<uint64_t>(left, sizeof chunk));
      const size_t got = file_.read(at, chunk, want);
      if (got == 0) return std::nullopt;
      spend(got);
      const void* zero = std::memchr(chunk, 0, got);
      if (zero) {
        text.append(reinterpret_cast<const char*>(chunk),
                    static_cast<const uint8_t*>(zero) - chunk);
        return text;
      }
      text.append(reinterpret_cast<const char*>(chunk), got);
      at += got;
      left -= got;
    }
    return std::nullopt;
  }

 private:
  void spend(uint64_t n) { *budget_ = n >= *budget_ ? 0 : *budget_ - n; }

  Oe5Source& file_;
  bool valid_ = false;
  std::vector<uint32_t> entries_;
  uint64_t dataStart_ = 0;
  uint64_t dataLength_ = 0;
  uint64_t* budget_ = nullptr;
};

void readFileTime(IndexRecord& record, uint32_t offset, Toe5_FileTime& time) {
  const std::optional<uint64_t> value = record.integer(offset, 8);
  if (!value) return;
  time.Low = static_cast<uint32_t>(*value);
  time.High = static_cast<uint32_t>(*value >> 32);
}

void readString(IndexRecord& record, uint32_t offset, std::string& field) {
  if (std::optional<std::string> text = record.string(offset)) field = std::move(*text);
}

void readInteger(IndexRecord& record, uint32_t offset, size_t width, int32_t& field) {
  if (const std::optional<uint64_t> number = record.integer(offset, width))
    field = static_cast<int32_t>(*number);
}

// The text field of a message record an entry id names; null for other ids.
std::string* messageTextField(Toe5_MessageInfo& info, uint8_t id) {
  switch (id) {
    case 0x07:
      return &info.Text07;
    case 0x08:
      return &info.Subject;
    case 0x09:
      return &info.Text09;
    case 0x0A:
      return &info.Text0A;
    case 0x0B:
      return &info.Text0B;
    case 0x0D:
      return &info.Text0D;
    case 0x0E:
      return &info.SenderAddress;
    case 0x13:
      return &info.Text13;
    case 0x1A:
      return &info.Text1A;
    case 0x1B:
      return &info.Text1B;
    default:
      return nullptr;
  }
}

// One entry of a message record that is not text: a value in the entry itself (ids from
// 0x80) or a number or time in the data area.
void readMessageValue(IndexRecord& record, uint8_t id, uint32_t value, Toe5_MessageInfo& info) {
  switch (id) {
    case 0x01:
      readInteger(record, value, 3, info.Flags);
      break;
    case 0x02:
      readFileTime(record, value, info.Time02);
      break;
    case 0x04:
      readInteger(record, value, 4, info.TextPos);
      break;
    case 0x12:
      readFileTime(record, value, info.ReceivedTime);
      break;
    case 0x80:
      info.Value80 = static_cast<int32_t>(value);
      break;
    case 0x81:
      info.Flags = static_cast<int32_t>(value);
      break;
    case 0x84:
      info.TextPos = static_cast<int32_t>(value);
      break;
    case 0x91:
      info.Value91 = static_cast<int32_t>(value);
      break;
    default:
      break;
  }
}

}  // namespace

bool readFolderRecord(Oe5Source& file, uint64_t pos, uint64_t& budget,
                      std::vector<Toe5_FolderInfo>& list) {
  IndexRecord record(file, pos, budget);
  if (!record.valid()) return false;
  const auto& entries = record.entries();
  const bool listed = std::any_of(entries.begin(), entries.end(), [](uint32_t entry) {
    const uint8_t id = entry & 0xFF;
    return id == 0x03 || id == 0x06;
  });
  if (!listed) return true;
  Toe5_FolderInfo info;
  for (const uint32_t entry : entries) {
    const uint32_t value = entry >> 8;
    switch (entry & 0xFF) {
      case 0x02:
        readString(record, value, info.Name);
        break;
      case 0x03:
        readString(record, value, info.FileName);
        break;
      case 0x80:
        info.Value80 = static_cast<int32_t>(value);
        break;
      case 0x81:
        info.Value81 = static_cast<int32_t>(value);
        break;
      default:
        break;
    }
  }
  list.push_back(std::move(info));
  return true;
}

bool readMessageRecord(Oe5Source& file, uint64_t pos, uint64_t& budget,
                       std::vector<Toe5_MessageInfo>& list) {
  IndexRecord record(file, pos, budget);
  if (!record.valid()) return false;
  Toe5_MessageInfo info;
  info.Position = static_cast<int32_t>(pos);
  for (const uint32_t entry : record.entries()) {
    const uint8_t id = entry & 0xFF;
    const uint32_t value = entry >> 8;
    if (std::string* text = messageTextField(info, id)) {
      readString(record, value, *text);
    } else {
      readMessageValue(record, id, value, info);
    }
  }
  list.push_back(std::move(info));
  return true;
}
