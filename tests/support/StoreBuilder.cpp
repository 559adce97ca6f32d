#include "support/StoreBuilder.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <stdexcept>

namespace {

constexpr size_t kHeaderSize = 0x200;
constexpr size_t kBlockText = 512;

void put32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

// Entry whose value lies in the data area at its current end.
uint32_t dataEntry(uint8_t id, std::string& data, const void* value, size_t size) {
  const uint32_t entry = static_cast<uint32_t>(data.size()) << 8 | id;
  data.append(static_cast<const char*>(value), size);
  return entry;
}

uint32_t stringEntry(uint8_t id, std::string& data, const std::string& text) {
  return dataEntry(id, data, text.c_str(), text.size() + 1);
}

uint32_t directEntry(uint8_t id, uint32_t value) {
  return (value & 0xFFFFFF) << 8 | id;
}

}  // namespace

DbxWriter::DbxWriter(const std::string& path) {
  if (!path.empty()) {
    file_ = std::fopen(path.c_str(), "wb");
    if (!file_) throw std::runtime_error("cannot create " + path);
    std::setvbuf(file_, nullptr, _IOFBF, 1 << 20);
  }
  uint8_t header[kHeaderSize] = {0xCF, 0xAD, 0x12, 0xFE};
  append(header, sizeof header);
}

DbxWriter::~DbxWriter() {
  if (file_) std::fclose(file_);
}

uint32_t DbxWriter::append(const void* data, size_t size) {
  const uint64_t at = size_;
  if (file_) {
    if (std::fwrite(data, 1, size, file_) != size) throw std::runtime_error("write failed");
  } else {
    const auto* p = static_cast<const uint8_t*>(data);
    memory_.insert(memory_.end(), p, p + size);
  }
  size_ += size;
  if (size_ > 0x7FFFFFFF) throw std::runtime_error("store file too large");
  return static_cast<uint32_t>(at);
}

void DbxWriter::patch(uint64_t offset, const void* data, size_t size) {
  if (file_) {
    std::fflush(file_);
    std::fseek(file_, static_cast<long>(offset), SEEK_SET);
    std::fwrite(data, 1, size, file_);
    std::fseek(file_, 0, SEEK_END);
  } else {
    std::memcpy(memory_.data() + offset, data, size);
  }
}

uint32_t DbxWriter::writeText(const std::string& text) {
  const size_t blocks = std::max<size_t>(1, (text.size() + kBlockText - 1) / kBlockText);
  const uint32_t first = static_cast<uint32_t>(size_);
  uint8_t block[16 + kBlockText];
  for (size_t i = 0; i < blocks; ++i) {
    const uint32_t pos = static_cast<uint32_t>(size_);
    const size_t offset = i * kBlockText;
    const size_t count = std::min(kBlockText, text.size() - std::min(offset, text.size()));
    std::memset(block, 0, sizeof block);
    put32(block, pos);
    put32(block + 8, static_cast<uint32_t>(count));
    put32(block + 12, i + 1 < blocks ? pos + static_cast<uint32_t>(sizeof block) : 0);
    if (count) std::memcpy(block + 16, text.data() + offset, count);
    append(block, sizeof block);
  }
  return first;
}

uint32_t DbxWriter::writeRecord(const std::vector<uint32_t>& entries, const std::string& data) {
  const uint32_t pos = static_cast<uint32_t>(size_);
  std::vector<uint8_t> record(12 + entries.size() * 4 + data.size());
  put32(record.data(), pos);
  put32(record.data() + 4, static_cast<uint32_t>(entries.size() * 4 + data.size()));
  record[10] = static_cast<uint8_t>(entries.size());
  for (size_t i = 0; i < entries.size(); ++i) put32(record.data() + 12 + i * 4, entries[i]);
  std::memcpy(record.data() + 12 + entries.size() * 4, data.data(), data.size());
  append(record.data(), record.size());
  layout_.records.push_back(pos);
  return pos;
}

void DbxWriter::addMessage(const BuiltMessage& message) {
  const uint32_t textPos = message.withoutText ? 0
                           : message.textAt    ? message.textAt
                                               : writeText(message.text);
  std::string data;
  std::vector<uint32_t> entries;
  entries.push_back(directEntry(0x80, static_cast<uint32_t>(layout_.records.size() + 1)));
  if (message.flagsDirect) {
    entries.push_back(directEntry(0x81, static_cast<uint32_t>(message.flags)));
  } else {
    const uint8_t flags[3] = {static_cast<uint8_t>(message.flags),
                              static_cast<uint8_t>(message.flags >> 8),
                              static_cast<uint8_t>(message.flags >> 16)};
    entries.push_back(dataEntry(0x01, data, flags, 3));
  }
  if (message.textPosDirect) {
    entries.push_back(directEntry(0x84, textPos));
  } else {
    uint8_t pos[4];
    put32(pos, textPos);
    entries.push_back(dataEntry(0x04, data, pos, 4));
  }
  entries.push_back(stringEntry(0x08, data, message.subject));
  entries.push_back(stringEntry(0x0E, data, message.sender));
  if (message.hasReceived) {
    uint8_t time[8];
    put32(time, message.received.Low);
    put32(time + 4, message.received.High);
    entries.push_back(dataEntry(0x12, data, time, 8));
  }
  writeRecord(entries, data);
  layout_.texts.push_back(textPos);
}

void DbxWriter::addFolder(const BuiltFolder& folder, int32_t id) {
  std::string data;
  std::vector<uint32_t> entries;
  entries.push_back(directEntry(0x80, static_cast<uint32_t>(id)));
  entries.push_back(stringEntry(0x02, data, folder.name));
  if (folder.hasFileEntry) entries.push_back(stringEntry(0x03, data, folder.fileName));
  writeRecord(entries, data);
  layout_.texts.push_back(0);
}

uint32_t DbxWriter::addRawRecord(const std::vector<uint32_t>& entries, const std::string& data) {
  layout_.texts.push_back(0);
  return writeRecord(entries, data);
}

void DbxWriter::listAgain(size_t index, size_t times) {
  const uint32_t record = layout_.records.at(index);
  const uint32_t text = layout_.texts.at(index);
  for (size_t i = 0; i < times; ++i) {
    layout_.records.push_back(record);
    layout_.texts.push_back(text);
  }
}

uint32_t DbxWriter::writeTree(size_t first, size_t count, size_t fanout) {
  uint32_t link12 = 0;
  uint32_t link8 = 0;
  std::vector<std::pair<uint32_t, uint32_t>> entries;  // record, child
  if (count <= fanout) {
    for (size_t i = 0; i < count; ++i) entries.emplace_back(layout_.records[first + i], 0);
  } else {
    const size_t quarter = count / 4;
    if (quarter) link12 = writeTree(first, quarter, fanout);
    if (quarter) link8 = writeTree(first + quarter, quarter, fanout);
    size_t next = first + 2 * quarter;
    const size_t rest = count - 2 * quarter;
    const size_t k = std::min(fanout, rest);
    const size_t below = rest - k;
    for (size_t i = 0; i < k; ++i) {
      const uint32_t record = layout_.records[next++];
      const size_t share = below / k + (i < below % k ? 1 : 0);
      const uint32_t child = share ? writeTree(next, share, fanout) : 0;
      next += share;
      entries.emplace_back(record, child);
    }
  }
  std::vector<uint8_t> node(24 + 12 * entries.size());
  const uint32_t pos = static_cast<uint32_t>(size_);
  put32(node.data(), pos);
  put32(node.data() + 8, link8);
  put32(node.data() + 12, link12);
  put32(node.data() + 16, static_cast<uint32_t>(entries.size()) << 8);
  for (size_t i = 0; i < entries.size(); ++i) {
    put32(node.data() + 24 + 12 * i, entries[i].first);
    put32(node.data() + 28 + 12 * i, entries[i].second);
  }
  append(node.data(), node.size());
  layout_.nodes.push_back(pos);
  return pos;
}

DbxLayout DbxWriter::finish(size_t fanout, std::optional<int32_t> itemCount) {
  layout_.root = writeTree(0, layout_.records.size(), std::max<size_t>(fanout, 1));
  uint8_t value[4];
  put32(value, layout_.root);
  patch(48, value, 4);
  put32(value,
        static_cast<uint32_t>(itemCount.value_or(static_cast<int32_t>(layout_.records.size()))));
  patch(196, value, 4);
  if (file_) {
    const bool ok = std::fclose(file_) == 0;
    file_ = nullptr;
    if (!ok) throw std::runtime_error("write failed");
  }
  return layout_;
}

void writeStore(const std::string& storeFolder, const std::vector<BuiltFolder>& folders) {
  ::mkdir(storeFolder.c_str(), 0755);
  DbxWriter index(storeFolder + "/folders.dbx");
  int32_t id = 0;
  for (const BuiltFolder& folder : folders) {
    index.addFolder(folder, ++id);
    if (!folder.hasFileEntry || folder.fileName.empty() ||
        folder.fileName.find('/') != std::string::npos || folder.fileName == "." ||
        folder.fileName == "..") {
      continue;
    }
    DbxWriter file(storeFolder + "/" + folder.fileName);
    for (const BuiltMessage& message : folder.messages) file.addMessage(message);
    file.finish();
  }
  index.finish();
}

std::vector<uint8_t> buildMessageFile(const std::vector<BuiltMessage>& messages, DbxLayout* layout,
                                      size_t fanout) {
  DbxWriter writer;
  for (const BuiltMessage& message : messages) writer.addMessage(message);
  const DbxLayout built = writer.finish(fanout);
  if (layout) *layout = built;
  return writer.bytes();
}

std::vector<uint8_t> buildFoldersFile(const std::vector<BuiltFolder>& folders, DbxLayout* layout,
                                      size_t fanout) {
  DbxWriter writer;
  int32_t id = 0;
  for (const BuiltFolder& folder : folders) writer.addFolder(folder, ++id);
  const DbxLayout built = writer.finish(fanout);
  if (layout) *layout = built;
  return writer.bytes();
}

void putU32(std::vector<uint8_t>& bytes, uint64_t offset, uint32_t value) {
  if (offset + 4 > bytes.size()) bytes.resize(offset + 4);
  put32(bytes.data() + offset, value);
}

Toe5_FileTime fileTimeOf(int year, int month, int day, int hour, int minute, int second) {
  struct tm utc {};
  utc.tm_year = year - 1900;
  utc.tm_mon = month - 1;
  utc.tm_mday = day;
  utc.tm_hour = hour;
  utc.tm_min = minute;
  utc.tm_sec = second;
  const int64_t seconds = static_cast<int64_t>(::timegm(&utc)) + 11'644'473'600;
  const uint64_t ticks = static_cast<uint64_t>(seconds) * 10'000'000;
  return {static_cast<uint32_t>(ticks), static_cast<uint32_t>(ticks >> 32)};
}
