#include "tasks/IniFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <iterator>

#include "platform/Errors.h"
#include "platform/PathText.h"
#include "platform/ReadWholeFile.h"
#include "platform/ReplaceFile.h"

namespace {

bool isBlank(char c) {
  return c == ' ' || c == '\t';
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && (isBlank(s.back()) || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

// "[name]" -> name; false for any other line.
bool sectionName(std::string_view raw, std::string_view& name) {
  const std::string_view line = trim(raw);
  if (line.size() < 2 || line.front() != '[') return false;
  const size_t close = line.find(']');
  if (close == std::string_view::npos) return false;
  name = trim(line.substr(1, close - 1));
  return true;
}

// "key=value" -> key, value (both trimmed, and a value enclosed in double quotes without
// them); false for comments and lines without "=".
bool keyValue(std::string_view raw, std::string_view& key, std::string_view& value) {
  const std::string_view line = trim(raw);
  if (line.empty() || line.front() == ';') return false;
  const size_t eq = line.find('=');
  if (eq == std::string_view::npos) return false;
  key = trim(line.substr(0, eq));
  value = trim(line.substr(eq + 1));
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
    value = value.substr(1, value.size() - 2);
  return true;
}

// "key=value", with the value quoted when blanks at its ends, or quotes enclosing it, would
// be lost on reading.
std::string entryLine(std::string_view key, std::string_view value) {
  const bool quoted = !value.empty() && (isBlank(value.front()) || isBlank(value.back()) ||
                                         (value.front() == '"' && value.back() == '"'));
  std::string line;
  line.reserve(key.size() + value.size() + 3);
  line.append(key).push_back('=');
  if (quoted) line.push_back('"');
  line.append(value);
  if (quoted) line.push_back('"');
  return line;
}

// The file's bytes, a missing file's as empty; throws when a file is there but cannot be read.
std::string readFile(const std::string& path) {
  // Far beyond any list of folders; a FIFO under the file's name is refused, never waited on.
  constexpr std::size_t kMaxSettingsBytes = 1u << 30;
  return readWholeFile(path, kMaxSettingsBytes).value_or(std::string());
}

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

}  // namespace

IniFile IniFile::parse(std::string_view text) {
  IniFile ini;
  if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
    ini.byteOrderMark_ = true;
    text.remove_prefix(kByteOrderMark.size());
  }
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
      if (ini.lines_.empty()) ini.crlf_ = true;
    }
    ini.lines_.push_back({std::string(line)});
    start = end + 1;
  }
  return ini;
}

IniFile IniFile::load(const std::string& path) {
  try {
    return parse(readFile(path));
  } catch (const ResguardaError&) {
    return {};
  }
}

IniFile IniFile::loadForUpdate(const std::string& path) {
  try {
    return parse(readFile(path));
  } catch (const ResguardaError& error) {
    throw unableToWrite(path, error.reason());
  }
}

bool IniFile::findSection(std::string_view section, size_t& header, size_t& end) const {
  std::string_view name;
  for (size_t i = 0; i < lines_.size(); ++i) {
    if (!sectionName(lines_[i].raw, name) || !equalsIgnoringAsciiCase(name, section)) continue;
    header = i;
    end = i + 1;
    while (end < lines_.size() && !sectionName(lines_[end].raw, name)) ++end;
    return true;
  }
  return false;
}

std::string IniFile::value(std::string_view section, std::string_view key) const {
  size_t header, end;
  if (!findSection(section, header, end)) return {};
  std::string_view k, v;
  for (size_t i = header + 1; i < end; ++i)
    if (keyValue(lines_[i].raw, k, v) && equalsIgnoringAsciiCase(k, key)) return std::string(v);
  return {};
}

std::vector<std::pair<std::string, std::string>> IniFile::allEntries(
    std::string_view section) const {
  std::vector<std::pair<std::string, std::string>> result;
  std::string_view name, k, v;
  bool inside = false;
  for (const Line& line : lines_) {
    if (sectionName(line.raw, name))
      inside = equalsIgnoringAsciiCase(name, section);
    else if (inside && keyValue(line.raw, k, v))
      result.emplace_back(k, v);
  }
  return result;
}

std::vector<std::pair<std::string, std::string>> IniFile::entries(std::string_view section) const {
  std::vector<std::pair<std::string, std::string>> result;
  size_t header, end;
  if (!findSection(section, header, end)) return result;
  std::string_view k, v;
  for (size_t i = header + 1; i < end; ++i)
    if (keyValue(lines_[i].raw, k, v)) result.emplace_back(k, v);
  return result;
}

void IniFile::setValue(std::string_view section, std::string_view key, std::string_view value) {
  std::string line = entryLine(key, value);
  size_t header, end;
  if (!findSection(section, header, end)) {
    lines_.push_back({"[" + std::string(section) + "]"});
    lines_.push_back({std::move(line)});
    return;
  }
  std::string_view k, v;
  size_t lastEntry = header;
  for (size_t i = header + 1; i < end; ++i) {
    if (!keyValue(lines_[i].raw, k, v)) continue;
    if (equalsIgnoringAsciiCase(k, key)) {
      lines_[i].raw = std::move(line);
      return;
    }
    lastEntry = i;
  }
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(lastEntry + 1), {std::move(line)});
}

void IniFile::eraseSection(std::string_view section) {
  // Every section of that name goes: a second copy left behind would be read back instead.
  size_t header, end;
  while (findSection(section, header, end))
    lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(header),
                 lines_.begin() + static_cast<std::ptrdiff_t>(end));
}

void IniFile::replaceSection(std::string_view section,
                             const std::vector<std::pair<std::string, std::string>>& entries) {
  // One pass: the other lines are moved once, the new section built where the first stood.
  std::vector<Line> kept;
  kept.reserve(lines_.size() + entries.size() + 1);
  std::ptrdiff_t place = -1;
  bool inside = false;
  std::string_view name;
  for (Line& line : lines_) {
    if (sectionName(line.raw, name)) {
      inside = equalsIgnoringAsciiCase(name, section);
      if (inside) {
        if (place < 0) place = static_cast<std::ptrdiff_t>(kept.size());
        continue;
      }
    }
    if (!inside) kept.push_back(std::move(line));
  }
  if (!entries.empty()) {
    std::vector<Line> added;
    added.reserve(entries.size() + 1);
    added.push_back({"[" + std::string(section) + "]"});
    for (const auto& [key, value] : entries) added.push_back({entryLine(key, value)});
    const auto at = place < 0 ? kept.end() : kept.begin() + place;
    kept.insert(at, std::make_move_iterator(added.begin()), std::make_move_iterator(added.end()));
  }
  lines_ = std::move(kept);
}

std::string IniFile::text() const {
  std::string out;
  std::size_t size = byteOrderMark_ ? kByteOrderMark.size() : 0;
  for (const Line& line : lines_) size += line.raw.size() + 2;
  out.reserve(size);
  if (byteOrderMark_) out.append(kByteOrderMark);
  for (const Line& line : lines_) {
    out += line.raw;
    out += crlf_ ? "\r\n" : "\n";
  }
  return out;
}

void IniFile::save(const std::string& path) const {
  // Write through a link to the file it names, so the link itself stays.
  std::string target = path;
  char resolved[PATH_MAX];
  if (::realpath(path.c_str(), resolved)) target = resolved;

  mode_t mode = 0644;
  struct stat st {};
  if (::stat(target.c_str(), &st) == 0) {
    mode = st.st_mode & 07777;
    // A file that its owner made read-only is not replaced, whoever runs the program.
    if ((mode & 0222) == 0) throw unableToWrite(path, EACCES);
    if (::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0)
      throw unableToWrite(path, errno);
  }

  try {
    replaceFile(target, text(), mode);
  } catch (const ResguardaError& error) {
    // The settings file is named as the program knows it, not as the link resolved.
    throw unableToWrite(path, error.reason());
  }
}
