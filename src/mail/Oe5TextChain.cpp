#include <algorithm>
#include <cstring>
#include <string>
#include <unordered_set>
#include <vector>

#include "mail/Oe5Layout.h"
#include "mail/uoexpress.h"

namespace {

constexpr char kDamagedText[] = "texto de un mensaje dañado";
constexpr char kTruncatedText[] = "archivo truncado: falta el texto de un mensaje";

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

// Blocks of one chain already read: a sound chain mostly moves forward, so positions are kept
// in an ordered vector while they rise, and only the others go to a hash set.
class VisitedBlocks {
 public:
  bool firstVisit(uint64_t pos) {
    if (rising_.empty() || pos > rising_.back()) {
      rising_.push_back(pos);
      return true;
    }
    if (std::binary_search(rising_.begin(), rising_.end(), pos)) return false;
    return others_.insert(pos).second;
  }

 private:
  std::vector<uint64_t> rising_;
  std::unordered_set<uint64_t> others_;
};

// Appends the stored bytes of the chain starting at pos to text. Returns why the chain ended
// other than at a next-block field of 0, null when it did.
const char* appendChain(Oe5Source& file, uint64_t pos, std::string& text) {
  const uint64_t fileSize = file.size();
  VisitedBlocks visited;
  uint8_t scratch[kOe5TextBlockSize];
  // A chain that leads back to a block already read ends there; the text of a sound chain
  // never exceeds the file, so that caps a chain of overlapping blocks too.
  while (pos != 0) {
    if (text.size() >= fileSize || !visited.firstVisit(pos)) return kDamagedText;
    const uint8_t* block = file.view(pos, kOe5TextBlockSize, scratch);
    if (le32(block) != pos) {
      return pos + kOe5TextBlockHead > fileSize ? kTruncatedText : kDamagedText;
    }
    const size_t count = std::min<size_t>(le32(block + 8), kOe5TextBlockMax);
    const uint8_t* bytes = block + kOe5TextBlockHead;
    const void* zero = std::memchr(bytes, 0, count);
    const size_t valid = zero ? static_cast<const uint8_t*>(zero) - bytes : count;
    text.append(reinterpret_cast<const char*>(bytes), valid);
    if (pos + kOe5TextBlockHead + count > fileSize) return kTruncatedText;
    pos = le32(block + 12);
  }
  return nullptr;
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

std::string oe5_ReadMessageText(Oe5Source& file, int32_t textPos) {
  std::string text;
  oe5_ReadMessageText(file, textPos, text);
  return text;
}

std::string oe5_ReadMessageText(Oe5Source& file, int32_t textPos, std::string& text) {
  text.clear();
  if (textPos <= 0) return {};
  if (oe5_ReadHeader(file).ItemCount <= 0) return {};
  const char* const damage = appendChain(file, static_cast<uint64_t>(textPos), text);
  if (text.size() > file.size()) text.resize(file.size());
  // The list's text is the message text followed by one CR LF, whatever the text ends in.
  // Stored text normally has CR LF line ends already and is then kept as it is.
  if (hasLoneLineBreak(text)) {
    text = oe5_MessageLines(text);
  } else {
    text += "\r\n";
  }
  return damage ? damage : std::string();
}
