#include "backup/Exclusions.h"

#include <fnmatch.h>
#include <locale.h>

#include <cstring>
#include <string_view>

namespace {

bool hasWildcard(std::string_view text) {
  return text.find_first_of("*?[\\") != std::string_view::npos;
}

// Patterns match characters of UTF-8 names ("?" takes "é" whole) whatever locale the program
// was started in: a run from cron, often in the C locale, must leave out what the window's run
// leaves out. Bytes that are not UTF-8 still match one by one.
locale_t utf8Locale() {
  static const locale_t locale = [] {
    locale_t made = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{});
    return made ? made : ::newlocale(LC_CTYPE_MASK, "en_US.UTF-8", locale_t{});
  }();
  return locale;
}

locale_t plainLocale() {
  static const locale_t locale = ::newlocale(LC_CTYPE_MASK, "C", locale_t{});
  return locale;
}

bool isAscii(const char* text) {
  for (; *text; ++text)
    if (static_cast<unsigned char>(*text) >= 0x80) return false;
  return true;
}

}  // namespace

Exclusions::Exclusions(const std::vector<std::string>& patterns) {
  for (std::string text : patterns) {
    bool folderOnly = false;
    while (!text.empty() && text.back() == '/') {
      text.pop_back();
      folderOnly = true;
    }
    // A leading "/" anchors at the task folder, where every path pattern starts anyway.
    const bool anchored = !text.empty() && text.front() == '/';
    const size_t start = text.find_first_not_of('/');
    if (start == std::string::npos) continue;  // blank, or "/" alone
    text.erase(0, start);
    const bool onPath = anchored || text.find('/') != std::string::npos;
    Rule rule{Rule::Glob, folderOnly, onPath, text};
    if (!hasWildcard(text)) {
      rule.kind = Rule::Exact;
    } else if (!onPath && text.front() == '*' && !hasWildcard(std::string_view(text).substr(1))) {
      // A name holds no "/", so "*" followed by plain text is just the name's end.
      rule.kind = Rule::Suffix;
      rule.text.erase(0, 1);
    } else if (!onPath && text.back() == '*' &&
               !hasWildcard(std::string_view(text).substr(0, text.size() - 1))) {
      rule.kind = Rule::Prefix;
      rule.text.pop_back();
    }
    rule.ascii = isAscii(rule.text.c_str());
    needsPath_ = needsPath_ || onPath;
    rules_.push_back(std::move(rule));
  }
}

bool Exclusions::matches(const char* name, const char* below, bool folder) const {
  if (rules_.empty()) return false;
  const std::string_view nameView(name);
  // fnmatch turns UTF-8 text into wide characters, which is slow; ASCII text matches the same
  // byte by byte.
  int nameAscii = -1, belowAscii = -1;
  locale_t previous{};
  bool switched = false;
  bool matched = false;
  for (const Rule& rule : rules_) {
    if (rule.folderOnly && !folder) continue;
    switch (rule.kind) {
      case Rule::Exact:
        matched = rule.onPath ? rule.text == below : rule.text == nameView;
        break;
      case Rule::Prefix:
        matched = nameView.starts_with(rule.text);
        break;
      case Rule::Suffix:
        matched = nameView.ends_with(rule.text);
        break;
      case Rule::Glob: {
        const char* subject = rule.onPath ? below : name;
        int& ascii = rule.onPath ? belowAscii : nameAscii;
        if (ascii < 0) ascii = isAscii(subject);
        const locale_t locale = rule.ascii && ascii ? plainLocale() : utf8Locale();
        if (locale) {
          const locale_t was = ::uselocale(locale);
          if (!switched) previous = was;
          switched = true;
        }
        matched = ::fnmatch(rule.text.c_str(), subject, rule.onPath ? FNM_PATHNAME : 0) == 0;
        break;
      }
    }
    if (matched) break;
  }
  if (switched) ::uselocale(previous);
  return matched;
}
