#include "mail/uoexpress.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <unordered_set>

#include "platform/Errors.h"
#include "platform/PathText.h"
#include "platform/UniqueFd.h"

namespace {

constexpr uint64_t kRootNodeOffset = 48;
constexpr uint64_t kItemCountOffset = 196;
constexpr uint64_t kHeaderEnd = kItemCountOffset + 4;
constexpr size_t kNodeHeadSize = 24;
constexpr size_t kNodeEntrySize = 12;
constexpr size_t kRecordHeadSize = 12;
constexpr size_t kTextBlockSize = 528;
constexpr size_t kTextBlockHead = 16;
constexpr size_t kTextBlockMax = 512;
constexpr size_t kWindowSize = 256 * 1024;

// Own reasons, as the "ERROR - " line shows them.
constexpr char kNotRegular[] = "no es un archivo normal";
constexpr char kIsFolder[] = "es una carpeta, no un archivo";
constexpr char kNameLeadsOut[] = "el nombre sale de la carpeta del almacén; no se lee";
constexpr char kLinkLeadsOut[] = "un enlace que sale de la carpeta del almacén; no se sigue";
constexpr char kLinkToLink[] = "un enlace a otro enlace de la carpeta del almacén; no se sigue";
constexpr char kReadsTooMuch[] =
    "archivo dañado: leer sus mensajes costaría mucho más que su tamaño; se deja el resto de la "
    "carpeta";
constexpr char kShortHeader[] = "archivo truncado: termina antes del final de su cabecera";
constexpr char kNegativeCount[] = "índice dañado: su cabecera da un número negativo de elementos";
constexpr char kDamagedText[] = "texto de un mensaje dañado";
constexpr char kTruncatedText[] = "archivo truncado: falta el texto de un mensaje";

Oe5Absent absent(const std::string& path) {
  return Oe5Absent("Cannot open file " + path, path, systemReason(ENOENT));
}

ResguardaError notRegularFile(const std::string& path, mode_t mode) {
  return ResguardaError("Cannot open file " + path, path, S_ISDIR(mode) ? kIsFolder : kNotRegular);
}

Oe5ReadFailed cannotRead(const std::string& path, int err) {
  return Oe5ReadFailed("Stream read error", path, systemReason(err));
}

uint32_t le32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

// Reads len bytes at offset; whatever lies past the end of the file reads as zero, and the
// self-checks then judge the result.
void readZeroFilled(Oe5Source& file, uint64_t offset, uint8_t* dst, size_t len) {
  const size_t got = file.read(offset, dst, len);
  if (got < len) std::memset(dst + got, 0, len - got);
}

uint32_t readU32(Oe5Source& file, uint64_t offset) {
  uint8_t bytes[4];
  readZeroFilled(file, offset, bytes, sizeof bytes);
  return le32(bytes);
}

// One index record: its entry table and the bounds of its data area within the file.
class IndexRecord {
 public:
  IndexRecord(Oe5Source& file, uint64_t pos, uint64_t& budget) : file_(file) {
    uint8_t head[kRecordHeadSize];
    readZeroFilled(file, pos, head, sizeof head);
    valid_ = le32(head) == pos;
    if (!valid_) return;
    const uint32_t bodyLength = le32(head + 4);
    const size_t count = head[10];
    uint8_t table[255 * 4];
    readZeroFilled(file, pos + kRecordHeadSize, table, count * 4);
    entries_.reserve(count);
    for (size_t i = 0; i < count; ++i) entries_.push_back(le32(table + i * 4));
    dataStart_ = pos + kRecordHeadSize + count * 4;
    // A body shorter than its own entry table has no data area; a truncated file holds only
    // what it holds.
    uint64_t length = bodyLength >= count * 4 ? bodyLength - count * 4 : 0;
    const uint64_t fileSize = file.size();
    length = dataStart_ >= fileSize ? 0 : std::min(length, fileSize - dataStart_);
    dataLength_ = length;
    budget_ = &budget;
    spend(kRecordHeadSize + count * 4);
  }

  bool valid() const { return valid_; }
  const std::vector<uint32_t>& entries() const { return entries_; }

  // A little-endian integer of width bytes at a data area offset; false when it overruns.
  bool integer(uint32_t offset, size_t width, uint64_t& value) {
    if (uint64_t{offset} + width > dataLength_) return false;
    uint8_t bytes[8] = {};
    if (file_.read(dataStart_ + offset, bytes, width) != width) return false;
    spend(width);
    value = 0;
    for (size_t i = width; i-- > 0;) value = value << 8 | bytes[i];
    return true;
  }

  // The zero-terminated string at a data area offset; false when no terminator lies within
  // the data area.
  bool string(uint32_t offset, std::string& value) {
    if (offset >= dataLength_) return false;
    std::string text;
    uint64_t at = dataStart_ + offset;
    uint64_t left = dataLength_ - offset;
    uint8_t chunk[256];
    while (left > 0 && *budget_ > 0) {
      const size_t want = static_cast<size_t>(std::min<uint64_t>(left, sizeof chunk));
      const size_t got = file_.read(at, chunk, want);
      if (got == 0) return false;
      spend(got);
      const void* zero = std::memchr(chunk, 0, got);
      if (zero) {
        text.append(reinterpret_cast<const char*>(chunk),
                    static_cast<const uint8_t*>(zero) - chunk);
        value = std::move(text);
        return true;
      }
      text.append(reinterpret_cast<const char*>(chunk), got);
      at += got;
      left -= got;
    }
    return false;
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

// False when the record fails its self-check.
bool readFolderInfo(Oe5Source& file, uint64_t pos, uint64_t& budget,
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
        record.string(value, info.Name);
        break;
      case 0x03:
        record.string(value, info.FileName);
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

void readFileTime(IndexRecord& record, uint32_t offset, Toe5_FileTime& time) {
  uint64_t value = 0;
  if (!record.integer(offset, 8, value)) return;
  time.Low = static_cast<uint32_t>(value);
  time.High = static_cast<uint32_t>(value >> 32);
}

// False when the record fails its self-check.
bool readMessageInfo(Oe5Source& file, uint64_t pos, uint64_t& budget,
                     std::vector<Toe5_MessageInfo>& list) {
  IndexRecord record(file, pos, budget);
  if (!record.valid()) return false;
  Toe5_MessageInfo info;
  info.Position = static_cast<int32_t>(pos);
  for (const uint32_t entry : record.entries()) {
    const uint32_t value = entry >> 8;
    uint64_t number = 0;
    switch (entry & 0xFF) {
      case 0x01:
        if (record.integer(value, 3, number)) info.Flags = static_cast<int32_t>(number);
        break;
      case 0x02:
        readFileTime(record, value, info.Time02);
        break;
      case 0x04:
        if (record.integer(value, 4, number)) info.TextPos = static_cast<int32_t>(number);
        break;
      case 0x07:
        record.string(value, info.Text07);
        break;
      case 0x08:
        record.string(value, info.Subject);
        break;
      case 0x09:
        record.string(value, info.Text09);
        break;
      case 0x0A:
        record.string(value, info.Text0A);
        break;
      case 0x0B:
        record.string(value, info.Text0B);
        break;
      case 0x0D:
        record.string(value, info.Text0D);
        break;
      case 0x0E:
        record.string(value, info.SenderAddress);
        break;
      case 0x12:
        readFileTime(record, value, info.ReceivedTime);
        break;
      case 0x13:
        record.string(value, info.Text13);
        break;
      case 0x1A:
        record.string(value, info.Text1A);
        break;
      case 0x1B:
        record.string(value, info.Text1B);
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
  list.push_back(std::move(info));
  return true;
}

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

}  // namespace

const uint8_t* Oe5Source::view(uint64_t offset, size_t len, uint8_t* scratch) {
  readZeroFilled(*this, offset, scratch, len);
  return scratch;
}

const uint8_t* Oe5Memory::view(uint64_t offset, size_t len, uint8_t* scratch) {
  if (offset < bytes_.size() && len <= bytes_.size() - offset) return bytes_.data() + offset;
  return Oe5Source::view(offset, len, scratch);
}

size_t Oe5Memory::read(uint64_t offset, void* dst, size_t len) {
  if (offset >= bytes_.size()) return 0;
  const size_t n = static_cast<size_t>(std::min<uint64_t>(len, bytes_.size() - offset));
  std::memcpy(dst, bytes_.data() + offset, n);
  return n;
}

Oe5File::Oe5File(const std::string& path) : path_(path) {
  // O_NONBLOCK keeps a FIFO planted under a store file's name from blocking the open.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0 && errno == ENOENT) throw absent(path);
  if (fd < 0) throw cannotOpenFile(path, errno);
  adopt(fd);
}

Oe5File::Oe5File(int fd, std::string path) : path_(std::move(path)) {
  adopt(fd);
}

void Oe5File::adopt(int fd) {
  fd_ = fd;
  struct stat st {};
  if (::fstat(fd_, &st) != 0) {
    const int err = errno;
    ::close(fd_);
    fd_ = -1;
    throw cannotOpenFile(path_, err);
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd_);
    fd_ = -1;
    throw notRegularFile(path_, st.st_mode);
  }
  size_ = static_cast<uint64_t>(st.st_size);
  device_ = st.st_dev;
  inode_ = st.st_ino;
}

void Oe5File::charge(size_t len) {
  if (!allowance_) return;
  if (len > *allowance_) {
    *allowance_ = 0;
    throw Oe5Refused("Cannot read file " + path_, path_, kReadsTooMuch);
  }
  *allowance_ -= len;
}

Oe5File::~Oe5File() {
  if (fd_ >= 0) ::close(fd_);
}

bool Oe5File::fill(uint64_t offset) {
  if (window_.empty()) window_.resize(kWindowSize);
  size_t filled = 0;
  while (filled < window_.size() && offset + filled < size_) {
    const ssize_t got = ::pread(fd_, window_.data() + filled, window_.size() - filled,
                                static_cast<off_t>(offset + filled));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) throw cannotRead(path_, errno);
    if (got == 0) break;
    filled += static_cast<size_t>(got);
  }
  windowStart_ = offset;
  windowLength_ = filled;
  return filled > 0;
}

size_t Oe5File::read(uint64_t offset, void* dst, size_t len) {
  charge(len);
  return readUncharged(offset, dst, len);
}

size_t Oe5File::readUncharged(uint64_t offset, void* dst, size_t len) {
  if (offset >= size_ || len == 0) return 0;
  len = static_cast<size_t>(std::min<uint64_t>(len, size_ - offset));
  if (len > kWindowSize) {
    size_t done = 0;
    while (done < len) {
      const ssize_t got = ::pread(fd_, static_cast<uint8_t*>(dst) + done, len - done,
                                  static_cast<off_t>(offset + done));
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) throw cannotRead(path_, errno);
      if (got == 0) break;
      done += static_cast<size_t>(got);
    }
    return done;
  }
  if (offset < windowStart_ || offset + len > windowStart_ + windowLength_) {
    if (!fill(offset)) return 0;
  }
  const size_t n =
      static_cast<size_t>(std::min<uint64_t>(len, windowStart_ + windowLength_ - offset));
  std::memcpy(dst, window_.data() + (offset - windowStart_), n);
  return n;
}

const uint8_t* Oe5File::view(uint64_t offset, size_t len, uint8_t* scratch) {
  charge(len);
  if (len <= kWindowSize && offset < size_ && len <= size_ - offset) {
    if (offset < windowStart_ || offset + len > windowStart_ + windowLength_) fill(offset);
    if (offset >= windowStart_ && offset + len <= windowStart_ + windowLength_) {
      return window_.data() + (offset - windowStart_);
    }
  }
  const size_t got = readUncharged(offset, scratch, len);
  if (got < len) std::memset(scratch + got, 0, len - got);
  return scratch;
}

Toe5_FileHeader oe5_ReadHeader(Oe5Source& file) {
  Toe5_FileHeader header;
  header.ItemCount = static_cast<int32_t>(readU32(file, kItemCountOffset));
  return header;
}

std::string oe5_ReadIndex(Oe5Source& file, bool folderMode, Toe5_IndexList& list) {
  const int32_t itemCount = oe5_ReadHeader(file).ItemCount;
  const uint64_t fileSize = file.size();
  // Its header was cut off: the count read as zero says nothing about what the file held.
  if (fileSize < kHeaderEnd) return kShortHeader;
  if (itemCount < 0) return kNegativeCount;
  if (itemCount == 0) return {};
  // Work bound: a sound file is read about once over; crafted files whose nodes and records
  // overlap or are listed many times stop once twice the file has been read.
  uint64_t budget = 2 * fileSize + 4096;
  std::unordered_set<uint64_t> visited;
  std::vector<WalkFrame> stack;
  // What a sound index never shows: a node or record it names that fails its self-check
  // (damaged), or that lies past the end of the file (truncated).
  bool damaged = false;
  bool truncated = false;
  uint64_t found = 0;  // records passing their self-check
  auto missing = [&](uint64_t pos, uint64_t size) {
    (pos + size > fileSize ? truncated : damaged) = true;
  };

  // Starts walking the node at pos, as the recursion would on entering it.
  auto enter = [&](uint64_t pos) {
    if (budget == 0) return;
    uint8_t head[kNodeHeadSize];
    readZeroFilled(file, pos, head, sizeof head);
    budget = budget > kNodeHeadSize ? budget - kNodeHeadSize : 0;
    if (le32(head) != pos) return missing(pos, kNodeHeadSize);
    visited.insert(pos);
    const uint64_t firstEntry = pos + kNodeHeadSize;
    uint64_t count = le32(head + 16) >> 8;
    // Entries past the end of the file read as zeros and name nothing.
    const uint64_t present =
        firstEntry >= fileSize ? 0 : (fileSize - firstEntry + kNodeEntrySize - 1) / kNodeEntrySize;
    if (count > present) truncated = true;
    count = std::min(count, present);
    stack.push_back({pos, 0, static_cast<int32_t>(le32(head + 12)),
                     static_cast<int32_t>(le32(head + 8)), count, 0});
  };

  auto walkable = [&](int64_t link) {
    return link > 0 && !visited.count(static_cast<uint64_t>(link));
  };

  enter(readU32(file, kRootNodeOffset));
  while (!stack.empty() && budget > 0) {
    WalkFrame& frame = stack.back();
    if (frame.stage == 0) {
      frame.stage = 1;
      const int32_t link12 = frame.link12;
      if (walkable(link12)) enter(static_cast<uint64_t>(link12));
      continue;
    }
    if (frame.stage == 1) {
      frame.stage = 2;
      const int32_t link8 = frame.link8;
      if (walkable(link8)) enter(static_cast<uint64_t>(link8));
      continue;
    }
    if (frame.nextEntry >= frame.entryCount) {
      stack.pop_back();
      continue;
    }
    uint8_t entry[kNodeEntrySize];
    readZeroFilled(file, frame.pos + kNodeHeadSize + frame.nextEntry * kNodeEntrySize, entry,
                   sizeof entry);
    ++frame.nextEntry;
    budget = budget > kNodeEntrySize ? budget - kNodeEntrySize : 0;
    const int32_t recordPos = static_cast<int32_t>(le32(entry));
    const int32_t childPos = static_cast<int32_t>(le32(entry + 4));
    if (recordPos > 0) {
      const uint64_t at = static_cast<uint64_t>(recordPos);
      const bool valid = folderMode ? readFolderInfo(file, at, budget, list.Folders)
                                    : readMessageInfo(file, at, budget, list.Messages);
      if (valid) {
        ++found;
      } else {
        missing(at, kRecordHeadSize);
      }
    }
    // frame may dangle after enter() grows the stack; it is not used again here.
    if (walkable(childPos)) enter(static_cast<uint64_t>(childPos));
  }
  // A sound file is read about once over, far within the budget.
  if (budget == 0) damaged = true;
  const uint64_t expected = static_cast<uint64_t>(itemCount);
  if (!damaged && !truncated && found >= expected) return {};
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

namespace {

// Appends text with every lone CR and lone LF made a CR LF.
void appendWithCrLf(std::string_view text, std::string& out) {
  const char* p = text.data();
  const char* end = p + text.size();
  while (p < end) {
    const char* stop = p;
    while (stop < end && *stop != '\r' && *stop != '\n') ++stop;
    out.append(p, stop);
    if (stop == end) break;
    out += "\r\n";
    p = stop + 1;
    if (*stop == '\r' && p < end && *p == '\n') ++p;
  }
}

}  // namespace

std::string oe5_JoinLines(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 32 + 2);
  appendWithCrLf(text, out);
  if (!out.empty() && !out.ends_with("\r\n")) out += "\r\n";
  return out;
}

std::string oe5_MessageLines(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 32 + 2);
  appendWithCrLf(text, out);
  out += "\r\n";
  return out;
}

namespace {

// True when a CR or LF stands outside a CR LF pair: somewhere a LF does not follow a CR, or
// a CR is not followed by a LF. Tested in fixed chunks, which the compiler vectorises.
bool hasLoneLineBreak(const std::string& text) {
  const char* p = text.data();
  const size_t n = text.size();
  if (n == 0) return false;
  if (p[0] == '\n' || p[n - 1] == '\r') return true;
  constexpr size_t kChunk = 64;
  size_t i = 1;
  for (; i + kChunk <= n; i += kChunk) {
    unsigned char unpaired = 0;
    for (size_t j = 0; j < kChunk; ++j) unpaired |= (p[i + j] == '\n') ^ (p[i + j - 1] == '\r');
    if (unpaired) return true;
  }
  for (; i < n; ++i) {
    if ((p[i] == '\n') != (p[i - 1] == '\r')) return true;
  }
  return false;
}

}  // namespace

std::string oe5_ReadMessageText(Oe5Source& file, int32_t textPos) {
  std::string text;
  oe5_ReadMessageText(file, textPos, text);
  return text;
}

std::string oe5_ReadMessageText(Oe5Source& file, int32_t textPos, std::string& text) {
  text.clear();
  if (textPos <= 0) return {};
  if (oe5_ReadHeader(file).ItemCount <= 0) return {};
  const uint64_t fileSize = file.size();
  // Blocks already read: a sound chain mostly moves forward, so positions are kept in an
  // ordered vector while they rise, and only the others go to a hash set.
  std::vector<uint64_t> rising;
  std::unordered_set<uint64_t> others;
  auto firstVisit = [&](uint64_t pos) {
    if (rising.empty() || pos > rising.back()) {
      rising.push_back(pos);
      return true;
    }
    if (std::binary_search(rising.begin(), rising.end(), pos)) return false;
    return others.insert(pos).second;
  };
  uint64_t pos = static_cast<uint64_t>(textPos);
  uint8_t scratch[kTextBlockSize];
  // A chain that leads back to a block already read ends there; the text of a sound chain
  // never exceeds the file, so that caps a chain of overlapping blocks too.
  // The chain of a sound text ends at a next-block field of 0; any other end is damage.
  const char* damage = nullptr;
  while (pos != 0) {
    if (text.size() >= fileSize || !firstVisit(pos)) {
      damage = kDamagedText;
      break;
    }
    const uint8_t* block = file.view(pos, kTextBlockSize, scratch);
    if (le32(block) != pos) {
      damage = pos + kTextBlockHead > fileSize ? kTruncatedText : kDamagedText;
      break;
    }
    const size_t count = std::min<size_t>(le32(block + 8), kTextBlockMax);
    const uint8_t* bytes = block + kTextBlockHead;
    const void* zero = std::memchr(bytes, 0, count);
    const size_t valid = zero ? static_cast<const uint8_t*>(zero) - bytes : count;
    text.append(reinterpret_cast<const char*>(bytes), valid);
    if (pos + kTextBlockHead + count > fileSize) {
      damage = kTruncatedText;
      break;
    }
    pos = le32(block + 12);
  }
  if (text.size() > fileSize) text.resize(fileSize);
  // The list's text is the message text followed by one CR LF, whatever the text ends in.
  // Stored text normally has CR LF line ends already and is then kept as it is.
  if (hasLoneLineBreak(text)) {
    text = oe5_MessageLines(text);
  } else {
    text += "\r\n";
  }
  return damage ? damage : std::string();
}

Toe5_DateTime oe5_FileTimeToDateTime(const Toe5_FileTime& fileTime) {
  constexpr uint64_t kTicksPerSecond = 10'000'000;
  constexpr int64_t kUnixEpochSeconds = 11'644'473'600;  // 1601-01-01 to 1970-01-01
  const uint64_t ticks = fileTime.ticks();
  const time_t seconds =
      static_cast<time_t>(static_cast<int64_t>(ticks / kTicksPerSecond) - kUnixEpochSeconds);
  struct tm local {};
  if (!::localtime_r(&seconds, &local)) {
    throw ResguardaError("Invalid argument to date encode");
  }
  Toe5_DateTime result;
  result.Year = local.tm_year + 1900;
  result.Month = local.tm_mon + 1;
  result.Day = local.tm_mday;
  result.Hour = local.tm_hour;
  result.Minute = local.tm_min;
  result.Second = std::min(local.tm_sec, 59);
  result.Millisecond = static_cast<int>(ticks % kTicksPerSecond / 10'000);
  return result;
}

namespace {

bool safeStoreName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

}  // namespace

Oe5Store::Oe5Store(std::string storeFolder) : folder_(std::move(storeFolder)) {
  if (folder_.empty() || folder_.back() != '/') folder_ += '/';
}

std::string Oe5Store::entryName(int folderFd, const std::string& fileName) {
  struct stat st {};
  if (!safeStoreName(fileName) ||
      ::fstatat(folderFd, fileName.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
    return fileName;
  }
  const int listed = ::openat(folderFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (listed < 0) return fileName;
  DIR* dir = ::fdopendir(listed);
  if (!dir) {
    ::close(listed);
    return fileName;
  }
  std::string match;
  int matches = 0;
  while (const dirent* entry = ::readdir(dir)) {
    if (equalsIgnoringAsciiCase(fileName, entry->d_name)) {
      match = entry->d_name;
      ++matches;
    }
  }
  ::closedir(dir);
  return matches == 1 ? match : fileName;
}

std::unique_ptr<Oe5File> Oe5Store::open(const std::string& fileName) const {
  if (fileName.empty()) throw absent(folder_);
  if (!safeStoreName(fileName)) {
    throw Oe5Refused("Cannot open file " + folder_ + fileName, folder_ + fileName, kNameLeadsOut);
  }
  // The store folder itself may be reached through links (a Wine drive is one); below it,
  // nothing leads out.
  UniqueFd folder(::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!folder) throw cannotOpenFile(folder_ + fileName, errno);
  const std::string name = entryName(folder.get(), fileName);
  const std::string path = folder_ + name;
  // Only a regular file is opened: opening a FIFO waits for a writer and opening a device
  // can act on it. O_NONBLOCK and the check after opening cover an entry swapped meanwhile.
  auto openRegular = [&](const std::string& entry) {
    constexpr int kFlags = O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY;
    struct stat st {};
    if (::fstatat(folder.get(), entry.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return -1;
    if (S_ISLNK(st.st_mode)) {
      errno = ELOOP;
      return -1;
    }
    if (!S_ISREG(st.st_mode)) throw notRegularFile(path, st.st_mode);
    return ::openat(folder.get(), entry.c_str(), kFlags);
  };
  int fd = openRegular(name);
  if (fd < 0 && errno == ELOOP) {
    // A link naming another file of the store folder (a renamed folder file) is followed
    // once; a link leading anywhere else is not.
    char target[256];
    const ssize_t length = ::readlinkat(folder.get(), name.c_str(), target, sizeof target);
    const std::string linked = length > 0 && static_cast<size_t>(length) < sizeof target
                                   ? std::string(target, length)
                                   : std::string();
    if (!safeStoreName(linked)) throw Oe5Refused("Cannot open file " + path, path, kLinkLeadsOut);
    fd = openRegular(linked);
    if (fd < 0 && errno == ELOOP) throw Oe5Refused("Cannot open file " + path, path, kLinkToLink);
  }
  if (fd < 0 && errno == ENOENT) throw absent(path);
  if (fd < 0) throw cannotOpenFile(path, errno);
  return std::make_unique<Oe5File>(fd, path);
}

std::string Oe5Store::oe5_ReadIndex(const std::string& fileName, Toe5_IndexList* list) const {
  if (!list) return {};
  const auto file = open(fileName);
  return ::oe5_ReadIndex(*file, fileName == "folders.dbx", *list);
}

std::string Oe5Store::oe5_ReadMessageText(const std::string& fileName, int32_t textPos) const {
  if (textPos <= 0) return {};
  const auto file = open(fileName);
  return ::oe5_ReadMessageText(*file, textPos);
}
