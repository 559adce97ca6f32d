#include "platform/WineRegistry.h"

#include <algorithm>

#include "platform/Errors.h"
#include "platform/PathText.h"
#include "platform/ReadWholeFile.h"
#include "platform/RegistryText.h"

namespace {

constexpr std::string_view kHeader = "WINE REGISTRY Version 2";

constexpr std::uint32_t kRegSz = 1;
constexpr std::uint32_t kRegExpandSz = 2;
constexpr std::uint32_t kRegBinary = 3;
constexpr std::uint32_t kRegDword = 4;

}  // namespace

using namespace registry_text;

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
