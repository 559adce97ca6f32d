#include "platform/WineRegistry.h"

#include <algorithm>

#include "platform/Errors.h"
#include "platform/PathText.h"
#include "platform/ReadWholeFile.h"

namespace {

constexpr std::string_view kHeader = "WINE REGISTRY Version 2";

constexpr std::uint32_t kRegSz = 1;
constexpr std::uint32_t kRegExpandSz = 2;
constexpr std::uint32_t kRegBinary = 3;
constexpr std::uint32_t kRegDword = 4;

bool isBlank(char c) {
  return c == ' ' || c == '\t';
}
bool isSpace(char c) {
  return isBlank(c) || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}
int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string_view trimRight(std::string_view text) {
  while (!text.empty() && isSpace(text.back())) text.remove_suffix(1);
  return text;
}
std::string_view trimLeft(std::string_view text) {
  while (!text.empty() && isSpace(text.front())) text.remove_prefix(1);
  return text;
}

// Builds UTF-8 from raw file bytes (kept as they are) and UTF-16 code units (from \x escapes),
// pairing surrogates; a lone surrogate becomes U+FFFD.
class Utf8Builder {
 public:
  void byte(char c) {
    flushPending();
    out_.push_back(c);
  }
  void unit(std::uint32_t u) {
    if (u >= 0xD800 && u <= 0xDBFF) {
      flushPending();
      pendingHigh_ = u;
      return;
    }
    if (u >= 0xDC00 && u <= 0xDFFF) {
      if (pendingHigh_) {
        const std::uint32_t cp = 0x10000 + ((pendingHigh_ - 0xD800) << 10) + (u - 0xDC00);
        pendingHigh_ = 0;
        codePoint(cp);
      } else {
        codePoint(0xFFFD);
      }
      return;
    }
    flushPending();
    codePoint(u);
  }
  std::string take() {
    flushPending();
    return std::move(out_);
  }

 private:
  void flushPending() {
    if (pendingHigh_) {
      pendingHigh_ = 0;
      codePoint(0xFFFD);
    }
  }
  void codePoint(std::uint32_t cp) {
    if (cp < 0x80) {
      out_.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out_.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out_.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out_.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out_.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out_.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out_.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out_.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out_.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out_.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }

  std::string out_;
  std::uint32_t pendingHigh_ = 0;
};

// Wine's escapes: \\ \" \] \n \r \t \a \b \e \f \v, \x with up to four hex digits (a UTF-16
// unit), up to three octal digits; any other escaped character stands for itself.
std::string unescape(std::string_view text) {
  Utf8Builder out;
  for (std::size_t i = 0; i < text.size();) {
    const char c = text[i++];
    if (c != '\\' || i == text.size()) {
      out.byte(c);
      continue;
    }
    const char e = text[i++];
    switch (e) {
      case 'a':
        out.unit(7);
        break;
      case 'b':
        out.unit(8);
        break;
      case 'e':
        out.unit(27);
        break;
      case 'f':
        out.unit(12);
        break;
      case 'n':
        out.unit(10);
        break;
      case 'r':
        out.unit(13);
        break;
      case 't':
        out.unit(9);
        break;
      case 'v':
        out.unit(11);
        break;
      case 'x': {
        std::uint32_t value = 0;
        int digits = 0;
        while (digits < 4 && i < text.size() && hexDigit(text[i]) >= 0) {
          value = value * 16 + static_cast<std::uint32_t>(hexDigit(text[i++]));
          ++digits;
        }
        if (digits == 0) {
          out.byte('x');
        } else {
          out.unit(value);
        }
        break;
      }
      default:
        if (e >= '0' && e <= '7') {
          std::uint32_t value = static_cast<std::uint32_t>(e - '0');
          for (int digits = 1; digits < 3 && i < text.size() && text[i] >= '0' && text[i] <= '7';
               ++digits) {
            value = value * 8 + static_cast<std::uint32_t>(text[i++] - '0');
          }
          out.unit(value);
        } else {
          out.byte(e);
        }
    }
  }
  return out.take();
}

// From just after an opening delimiter, the position of the closing one that is not escaped,
// on the same line; npos when there is none.
std::size_t findClosing(std::string_view text, std::size_t from, char closing) {
  for (std::size_t i = from; i < text.size(); ++i) {
    if (text[i] == '\n') return std::string_view::npos;
    if (text[i] == '\\') {
      if (i + 1 < text.size() && text[i + 1] == '\n') return std::string_view::npos;
      ++i;
    } else if (text[i] == closing) {
      return i;
    }
  }
  return std::string_view::npos;
}

// Hex bytes "01,02,\<newline>  03"; false when something else is in the text.
bool decodeHex(std::string_view text, std::string* out) {
  std::size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (isSpace(c) || c == ',' || c == '\\') {
      ++i;
      continue;
    }
    const int high = hexDigit(c);
    if (high < 0) return false;
    int value = high;
    ++i;
    if (i < text.size() && hexDigit(text[i]) >= 0) value = value * 16 + hexDigit(text[i++]);
    if (i < text.size() && !isSpace(text[i]) && text[i] != ',' && text[i] != '\\') return false;
    if (out) out->push_back(static_cast<char>(value));
  }
  return true;
}

// "1f)" -> 0x1f, advancing past the ")"; nullopt when malformed.
std::optional<std::uint32_t> parseTypeNumber(std::string_view& rest) {
  std::uint32_t value = 0;
  std::size_t i = 0;
  while (i < rest.size() && hexDigit(rest[i]) >= 0) {
    if (i == 8) return std::nullopt;
    value = value * 16 + static_cast<std::uint32_t>(hexDigit(rest[i]));
    ++i;
  }
  if (i == 0 || i >= rest.size() || rest[i] != ')') return std::nullopt;
  rest.remove_prefix(i + 1);
  return value;
}

// "name"=hex:... or @=hex(2):...
bool isHexValue(std::string_view line) {
  if (line.starts_with('@')) {
    line.remove_prefix(1);
  } else if (line.starts_with('"')) {
    const std::size_t close = findClosing(line, 1, '"');
    if (close == std::string_view::npos) return false;
    line.remove_prefix(close + 1);
  } else {
    return false;
  }
  line = trimLeft(line);
  if (!line.starts_with('=')) return false;
  return trimLeft(line.substr(1)).starts_with("hex");
}

// Lines of the file. A hex value whose line ends in "\" goes on to the next line (the way
// long data is written), and so on; the result spans all of them.
class LineReader {
 public:
  explicit LineReader(std::string_view bytes, std::size_t pos = 0) : bytes_(bytes), pos_(pos) {}

  bool next(std::string_view& line, std::size_t& begin) {
    if (pos_ >= bytes_.size()) return false;
    begin = pos_;
    std::size_t end = physicalEnd();
    // Only the newest line is looked at, so a long run of lines costs linear time.
    auto continues = [&](std::size_t lastBegin) {
      const std::string_view last = trimRight(bytes_.substr(lastBegin, end - lastBegin));
      return !last.empty() && last.back() == '\\' && pos_ < bytes_.size();
    };
    if (continues(begin) && isHexValue(trimLeft(bytes_.substr(begin, end - begin)))) {
      do {
        const std::size_t lastBegin = pos_;
        end = physicalEnd();
        if (!continues(lastBegin)) break;
      } while (true);
    }
    line = bytes_.substr(begin, end - begin);
    return true;
  }

  std::size_t position() const { return pos_; }

 private:
  // Consumes one physical line; returns where it ends (before its "\n").
  std::size_t physicalEnd() {
    const std::size_t newline = bytes_.find('\n', pos_);
    if (newline == std::string_view::npos) {
      pos_ = bytes_.size();
      return bytes_.size();
    }
    pos_ = newline + 1;
    return newline;
  }

  std::string_view bytes_;
  std::size_t pos_;
};

// A requested key path, folded, without the leading "\" of the root and one trailing "\".
// nullopt for a path with an empty component ("a\\b"), which names no key.
std::optional<std::string> normaliseRequest(std::string_view keyPath) {
  if (!keyPath.empty() && keyPath.front() == '\\') keyPath.remove_prefix(1);
  if (!keyPath.empty() && keyPath.back() == '\\') keyPath.remove_suffix(1);
  if (!keyPath.empty() && (keyPath.front() == '\\' || keyPath.find("\\\\") != keyPath.npos)) {
    return std::nullopt;
  }
  return asciiLower(keyPath);
}

}  // namespace

WineRegistry WineRegistry::fromFile(const std::string& path) {
  std::optional<std::string> bytes = readWholeFileIfReadable(path, kMaxHiveBytes);
  if (!bytes) return WineRegistry();
  return fromBytes(std::move(*bytes));
}

WineRegistry WineRegistry::fromBytes(std::string bytes) {
  WineRegistry registry;
  if (bytes.size() > kMaxHiveBytes) return registry;
  registry.bytes_ = std::move(bytes);
  registry.index();
  return registry;
}

void WineRegistry::index() {
  std::string_view bytes = bytes_;
  std::size_t start = 0;
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") start = 3;

  LineReader lines(bytes, start);
  std::string_view line;
  std::size_t lineBegin = 0;
  if (!lines.next(line, lineBegin) || trimRight(line) != kHeader) return;
  loaded_ = true;

  Section* current = nullptr;
  while (lines.next(line, lineBegin)) {
    const std::string_view text = trimLeft(line);
    if (text.empty() || text.front() != '[') continue;
    if (current) current->end = lineBegin;
    current = nullptr;
    const std::size_t close = findClosing(text, 1, ']');
    if (close == std::string_view::npos) continue;  // its values belong to no key
    std::string path = asciiLower(unescape(text.substr(1, close - 1)));
    const std::size_t first = path.find_first_not_of('\\');
    path.erase(0, first == std::string::npos ? path.size() : first);
    sections_.push_back({std::move(path), lines.position(), bytes.size()});
    current = &sections_.back();
  }
  if (current) current->end = bytes.size();

  std::stable_sort(sections_.begin(), sections_.end(),
                   [](const Section& a, const Section& b) { return a.foldedPath < b.foldedPath; });
}

bool WineRegistry::hasKey(std::string_view keyPath) const {
  if (!loaded_) return false;
  const std::optional<std::string> path = normaliseRequest(keyPath);
  if (!path) return false;
  if (path->empty()) return true;
  auto byPath = [](const Section& s, const std::string& p) { return s.foldedPath < p; };
  auto it = std::lower_bound(sections_.begin(), sections_.end(), *path, byPath);
  if (it != sections_.end() && it->foldedPath == *path) return true;
  // A parent is not written to the file when it holds no value of its own.
  const std::string prefix = *path + '\\';
  it = std::lower_bound(sections_.begin(), sections_.end(), prefix, byPath);
  return it != sections_.end() && it->foldedPath.compare(0, prefix.size(), prefix) == 0;
}

std::optional<WineRegistry::Found> WineRegistry::find(std::string_view keyPath,
                                                      std::string_view valueName) const {
  if (!loaded_) return std::nullopt;
  const std::optional<std::string> path = normaliseRequest(keyPath);
  if (!path) return std::nullopt;
  const std::string wanted = asciiLower(valueName);

  auto range = std::equal_range(
      sections_.begin(), sections_.end(), Section{*path, 0, 0},
      [](const Section& a, const Section& b) { return a.foldedPath < b.foldedPath; });

  // A key written twice keeps every value; a later one wins.
  std::optional<Found> found;
  const std::string_view bytes = bytes_;
  for (auto section = range.first; section != range.second; ++section) {
    LineReader lines(bytes.substr(0, section->end), section->begin);
    std::string_view line;
    std::size_t lineBegin = 0;
    while (lines.next(line, lineBegin)) {
      std::string_view rest = trimLeft(line);
      if (rest.empty()) continue;
      std::string name;
      if (rest.front() == '@') {
        rest.remove_prefix(1);
      } else if (rest.front() == '"') {
        const std::size_t close = findClosing(rest, 1, '"');
        if (close == std::string_view::npos) continue;
        name = asciiLower(unescape(rest.substr(1, close - 1)));
        if (name.empty()) continue;  // "" is not a name; the default value is written @
        rest.remove_prefix(close + 1);
      } else {
        continue;
      }
      if (name != wanted) continue;
      rest = trimLeft(rest);
      if (rest.empty() || rest.front() != '=') continue;
      rest = trimLeft(rest.substr(1));

      std::optional<Found> value;
      auto quoted = [&](std::uint32_t type, std::size_t skip) {
        const std::size_t close = findClosing(rest, skip, '"');
        if (close != std::string_view::npos) {
          value = Found{type, Form::quoted, rest.substr(skip, close - skip)};
        }
      };
      if (rest.starts_with('"')) {
        quoted(kRegSz, 1);
      } else if (rest.starts_with("str:\"")) {
        quoted(kRegSz, 5);
      } else if (rest.starts_with("str(")) {
        rest.remove_prefix(4);
        const std::optional<std::uint32_t> type = parseTypeNumber(rest);
        if (type && rest.starts_with(":\"")) quoted(*type, 2);
      } else if (rest.starts_with("dword:")) {
        const std::string_view digits = trimRight(rest.substr(6));
        if (!digits.empty() && digits.size() <= 8 &&
            std::all_of(digits.begin(), digits.end(), [](char c) { return hexDigit(c) >= 0; })) {
          value = Found{kRegDword, Form::dword, digits};
        }
      } else if (rest.starts_with("hex:")) {
        const std::string_view data = rest.substr(4);
        if (decodeHex(data, nullptr)) value = Found{kRegBinary, Form::hex, data};
      } else if (rest.starts_with("hex(")) {
        rest.remove_prefix(4);
        const std::optional<std::uint32_t> type = parseTypeNumber(rest);
        if (type && rest.starts_with(':') && decodeHex(rest.substr(1), nullptr)) {
          value = Found{*type, Form::hex, rest.substr(1)};
        }
      }
      // A value whose data does not parse is not loaded, as if it were not there.
      if (value) found = value;
    }
  }
  return found;
}

std::optional<std::uint32_t> WineRegistry::valueType(std::string_view keyPath,
                                                     std::string_view valueName) const {
  const std::optional<Found> found = find(keyPath, valueName);
  if (!found) return std::nullopt;
  return found->type;
}

std::optional<std::string> WineRegistry::readString(std::string_view keyPath,
                                                    std::string_view valueName) const {
  const std::optional<Found> found = find(keyPath, valueName);
  if (!found) return std::nullopt;
  if (found->type != kRegSz && found->type != kRegExpandSz) {
    throw invalidDataType(std::string(valueName));
  }
  std::string text;
  if (found->form == Form::quoted) {
    text = unescape(found->data);
  } else {
    // Binary form of a string: UTF-16LE code units.
    std::string raw;
    decodeHex(found->data, &raw);
    Utf8Builder out;
    for (std::size_t i = 0; i + 1 < raw.size(); i += 2) {
      const std::uint32_t unit =
          static_cast<unsigned char>(raw[i]) |
          (static_cast<std::uint32_t>(static_cast<unsigned char>(raw[i + 1])) << 8);
      if (unit == 0) break;
      out.unit(unit);
    }
    text = out.take();
  }
  const std::size_t nul = text.find('\0');
  if (nul != std::string::npos) text.resize(nul);
  return text;
}
