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
    }
    needsPath_ = needsPath_ || onPath;
    rules_.push_back(std::move(rule));
  }
}

bool Exclusions::matches(const char* name, const char* below, bool folder) const {
  if (rules_.empty()) return false;
  const std::string_view nameView(name);
  for (const Rule& rule : rules_) {
    if (rule.folderOnly && !folder) continue;
    const char* subject = rule.onPath ? below : name;
    switch (rule.kind) {
      case Rule::Exact:
        if (rule.onPath ? rule.text == below : rule.text == nameView) return true;
        break;
      case Rule::Suffix:
        if (nameView.ends_with(rule.text)) return true;
        break;
      case Rule::Glob: {
        const locale_t utf8 = utf8Locale();
        const locale_t previous = utf8 ? ::uselocale(utf8) : locale_t{};
        const bool matched =
            ::fnmatch(rule.text.c_str(), subject, rule.onPath ? FNM_PATHNAME : 0) == 0;
        if (utf8) ::uselocale(previous);
        if (matched) return true;
        break;
      }
    }
  }
  return false;
}
