#include "mail/MessageNames.h"

#include <cstdio>
#include <cstring>

#include "mail/FiltrarNombre.h"
#include "platform/PathText.h"

namespace mail_export {

namespace {

// The name the attachment is stored under: the filtered name without its trailing blanks
// (which Windows file systems drop from names), never empty, "." or "..".
std::string storedName(const std::string& filtered) {
  std::string name = filtered;
  while (!name.empty() && name.back() == ' ') name.pop_back();
  if (name.empty()) return "_";
  if (name == "." || name == "..") return std::string(name.size(), '_');
  return name;
}

}  // namespace

size_t findIgnoringCase(std::string_view text, size_t from, std::string_view needle) {
  auto matchesAt = [&](size_t start) {
    for (size_t i = 0; i < needle.size(); ++i) {
      if (asciiLower(text[start + i]) != needle[i]) return false;
    }
    return true;
  };
  if (needle.empty() || from > text.size() || needle.size() > text.size() - from) {
    return std::string_view::npos;
  }
  // Anchor on the needle's first non-letter ("-" or "="), which encoded bodies never hold, so
  // memchr skips most of the text; the rest is compared without regard to case.
  size_t anchor = 0;
  while (anchor < needle.size() && needle[anchor] >= 'a' && needle[anchor] <= 'z') ++anchor;
  if (anchor == needle.size()) {
    for (size_t start = from; start + needle.size() <= text.size(); ++start) {
      if (matchesAt(start)) return start;
    }
    return std::string_view::npos;
  }
  const char* begin = text.data();
  const char* last = begin + (text.size() - needle.size() + anchor);  // last anchor place
  for (const char* p = begin + from + anchor; p <= last; ++p) {
    p = static_cast<const char*>(std::memchr(p, needle[anchor], last - p + 1));
    if (!p) break;
    const size_t start = static_cast<size_t>(p - begin) - anchor;
    if (matchesAt(start)) return start;
  }
  return std::string_view::npos;
}

std::string folderComponent(const std::string& name) {
  if (name.empty()) return "_";
  if (name == "." || name == "..") return std::string(name.size(), '_');
  std::string component = name;
  for (char& c : component) {
    if (c == '/') c = '_';
  }
  return component;
}

std::string attachmentName(std::string_view text, size_t from) {
  const size_t found = findIgnoringCase(text, from, "name=");
  size_t start;
  if (found == std::string_view::npos) {
    start = from + 5;  // as if "name=" stood at the very start
  } else {
    // The character after "name=" is skipped and a quote after it becomes a blank, so
    // name="x", name= "x" and name=<tab>"x" all end at the closing quote. Only a name right
    // after "name=" is unquoted: it runs to the end of its token, and a CR stands in for the
    // closing quote that the name filter turns into a blank.
    const size_t after = found + 5;
    if (after < text.size() && !std::strchr("\" \t", text[after])) {
      size_t end = after;
      while (end < text.size() && !std::strchr("\r\n; \t", text[end])) ++end;
      return std::string(text.substr(after, end - after)) + "\r";
    }
    start = found + 6;
  }
  if (start >= text.size()) return {};
  const std::string_view rest = text.substr(start);
  const bool quoted = rest.front() == '"';
  size_t end = rest.find('"', quoted ? 1 : 0);
  if (end == std::string_view::npos) end = rest.find('\r');
  if (end == std::string_view::npos) return {};
  std::string name(rest.substr(0, end + 1));
  if (quoted) name.front() = ' ';
  return name;
}

std::string dateText(const Toe5_FileTime& received) {
  if (received.ticks() == 0) return {};
  const Toe5_DateTime t = oe5_FileTimeToDateTime(received);
  char buffer[64];
  if (t.Hour == 0 && t.Minute == 0 && t.Second == 0) {
    std::snprintf(buffer, sizeof buffer, "%02d/%02d/%04d", t.Day, t.Month, t.Year);
  } else {
    std::snprintf(buffer, sizeof buffer, "%02d/%02d/%04d %d:%02d:%02d", t.Day, t.Month, t.Year,
                  t.Hour, t.Minute, t.Second);
  }
  return buffer;
}

std::string messageFileName(const Toe5_MessageInfo& message, const std::string& firstAttachment) {
  return FiltrarNombre(message.SenderAddress + "#" + message.Subject + "#" +
                       dateText(message.ReceivedTime) + "#" + firstAttachment) +
         ".eml";
}

AttachmentNames attachmentNames(const std::string& rawName) {
  // The log shows the filtered name, trailing blank included; only a name that had to be
  // replaced is shown as stored.
  const std::string filtered = FiltrarNombre(rawName);
  AttachmentNames names;
  names.stored = storedName(filtered);
  const std::string& stored = names.stored;
  const bool replaced = filtered.compare(0, stored.size(), stored) != 0 ||
                        filtered.find_first_not_of(' ', stored.size()) != std::string::npos;
  names.logged = replaced ? stored : filtered;
  return names;
}

}  // namespace mail_export
