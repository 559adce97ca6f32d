#include "platform/RegistryText.h"

#include "platform/PathText.h"

namespace registry_text {
namespace {

bool isBlank(char c) {
  return c == ' ' || c == '\t';
}
bool isSpace(char c) {
  return isBlank(c) || c == '\r' || c == '\n' || c == '\v' || c == '\f';
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

}  // namespace

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

void Utf8Builder::byte(char c) {
  flushPending();
  out_.push_back(c);
}

void Utf8Builder::unit(std::uint32_t u) {
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

std::string Utf8Builder::take() {
  flushPending();
  return std::move(out_);
}

void Utf8Builder::flushPending() {
  if (pendingHigh_) {
    pendingHigh_ = 0;
    codePoint(0xFFFD);
  }
}

void Utf8Builder::codePoint(std::uint32_t cp) {
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

bool LineReader::next(std::string_view& line, std::size_t& begin) {
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

// Consumes one physical line; returns where it ends (before its "\n").
std::size_t LineReader::physicalEnd() {
  const std::size_t newline = bytes_.find('\n', pos_);
  if (newline == std::string_view::npos) {
    pos_ = bytes_.size();
    return bytes_.size();
  }
  pos_ = newline + 1;
  return newline;
}

std::optional<std::string> normaliseRequest(std::string_view keyPath) {
  if (!keyPath.empty() && keyPath.front() == '\\') keyPath.remove_prefix(1);
  if (!keyPath.empty() && keyPath.back() == '\\') keyPath.remove_suffix(1);
  if (!keyPath.empty() && (keyPath.front() == '\\' || keyPath.find("\\\\") != keyPath.npos)) {
    return std::nullopt;
  }
  return asciiLower(keyPath);
}

}  // namespace registry_text
