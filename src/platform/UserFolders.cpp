#include "platform/UserFolders.h"

#include <optional>
#include <string_view>

#include "platform/Environment.h"
#include "platform/PathText.h"
#include "platform/ReadWholeFile.h"
#include "platform/WinePaths.h"

namespace {

// user-dirs.dirs is small; a longer file is not one.
constexpr std::size_t kMaxFileBytes = 1024 * 1024;

// "" when the home folder is unknown: nothing is guessed from the root.
std::string joinHome(const std::string& home, std::string_view relative) {
  if (home.empty()) return {};
  std::string base = withoutTrailingSlash(home);
  if (relative.empty()) return base;
  if (base == "/") base.clear();
  return base + "/" + std::string(relative);
}

// XDG_DOCUMENTS_DIR="$HOME/Documentos" -> home + "/Documentos". Only "$HOME/..." and absolute
// paths are valid there; inside the quotes a backslash escapes the next character.
std::optional<std::string> parseLine(std::string_view line, std::string_view key,
                                     const std::string& home) {
  while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
  if (!line.starts_with(key)) return std::nullopt;
  line.remove_prefix(key.size());
  while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
  if (!line.starts_with("=")) return std::nullopt;
  line.remove_prefix(1);
  while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
  if (!line.starts_with("\"")) return std::nullopt;
  line.remove_prefix(1);

  std::string value;
  bool closed = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '\\' && i + 1 < line.size()) {
      value += line[++i];
    } else if (line[i] == '"') {
      closed = true;
      break;
    } else {
      value += line[i];
    }
  }
  if (!closed) return std::nullopt;

  std::string_view text = value;
  if (text == "$HOME" || text.starts_with("$HOME/")) {
    text.remove_prefix(5);
    while (text.starts_with("/")) text.remove_prefix(1);
    return withoutTrailingSlash(joinHome(home, text));
  }
  if (text.starts_with("/")) return withoutTrailingSlash(std::string(text));
  return std::nullopt;
}

struct DirsFile {
  std::optional<std::string> documents;
  std::optional<std::string> desktop;
};

DirsFile readDirsFile(const std::string& file, const std::string& home) {
  DirsFile found;
  const std::optional<std::string> text = readWholeFileIfReadable(file, kMaxFileBytes);
  if (!text) return found;
  std::size_t begin = 0;
  while (begin < text->size()) {
    std::size_t end = text->find('\n', begin);
    if (end == std::string::npos) end = text->size();
    std::string_view line(text->data() + begin, end - begin);
    begin = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    // As in the shell, a later assignment wins.
    if (auto value = parseLine(line, "XDG_DOCUMENTS_DIR", home)) found.documents = value;
    if (auto value = parseLine(line, "XDG_DESKTOP_DIR", home)) found.desktop = value;
  }
  return found;
}

std::string xdgBase(const std::string& value, const std::string& home, const char* fallback) {
  if (!value.empty() && value.front() == '/') return withoutTrailingSlash(value);
  return joinHome(home, fallback);
}

}  // namespace

UserFolders UserFolders::load(const std::string& home, const std::string& xdgConfigHome,
                              const std::string& xdgDataHome) {
  const std::string configHome = xdgBase(xdgConfigHome, home, ".config");
  const DirsFile dirs =
      configHome.empty() ? DirsFile{} : readDirsFile(configHome + "/user-dirs.dirs", home);
  UserFolders folders;
  folders.personal = dirs.documents.value_or(joinHome(home, "Documents"));
  folders.desktop = dirs.desktop.value_or(joinHome(home, "Desktop"));
  folders.appData = xdgBase(xdgDataHome, home, ".local/share");
  return folders;
}

UserFolders UserFolders::fromEnvironment() {
  return load(homeFolder(), environmentValue("XDG_CONFIG_HOME"), environmentValue("XDG_DATA_HOME"));
}
