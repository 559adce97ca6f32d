#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The text rules of a registry hive file: escapes, delimiters, hex data and continued lines.
// WineRegistry finds keys and values with them; nothing here knows about keys.
namespace registry_text {

int hexDigit(char c);  // -1 when c is not a hex digit
std::string_view trimRight(std::string_view text);
std::string_view trimLeft(std::string_view text);

// Builds UTF-8 from raw file bytes (kept as they are) and UTF-16 code units (from \x escapes),
// pairing surrogates; a lone surrogate becomes U+FFFD.
class Utf8Builder {
 public:
  void byte(char c);
  void unit(std::uint32_t u);
  std::string take();

 private:
  void flushPending();
  void codePoint(std::uint32_t cp);

  std::string out_;
  std::uint32_t pendingHigh_ = 0;
};

// The text between quotes or brackets, escapes resolved, as UTF-8.
std::string unescape(std::string_view text);

// From just after an opening delimiter, the position of the closing one that is not escaped,
// on the same line; npos when there is none.
std::size_t findClosing(std::string_view text, std::size_t from, char closing);

// Hex bytes "01,02,\<newline>  03"; false when something else is in the text. out may be null
// to only check.
bool decodeHex(std::string_view text, std::string* out);

// "1f)" -> 0x1f, advancing past the ")"; nullopt when malformed.
std::optional<std::uint32_t> parseTypeNumber(std::string_view& rest);

// Lines of the file. A hex value whose line ends in "\" goes on to the next line (the way
// long data is written), and so on; the result spans all of them.
class LineReader {
 public:
  explicit LineReader(std::string_view bytes, std::size_t pos = 0) : bytes_(bytes), pos_(pos) {}

  bool next(std::string_view& line, std::size_t& begin);
  std::size_t position() const { return pos_; }

 private:
  std::size_t physicalEnd();

  std::string_view bytes_;
  std::size_t pos_;
};

// A requested key path, folded, without the leading "\" of the root and one trailing "\".
// nullopt for a path with an empty component ("a\\b"), which names no key.
std::optional<std::string> normaliseRequest(std::string_view keyPath);

}  // namespace registry_text
