#include "platform/WinePaths.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/Environment.h"
#include "platform/PathText.h"

namespace {

std::string driveFolder(char letter, const std::string& prefix) {
  letter = asciiLower(letter);
  const std::string devices = prefix + "/dosdevices";
  const std::string link = devices + "/" + letter + ":";
  std::string target(4096, '\0');
  const ssize_t size = ::readlink(link.c_str(), target.data(), target.size());
  if (size >= 0 && static_cast<std::size_t>(size) < target.size()) {
    target.resize(static_cast<std::size_t>(size));
    if (target.empty()) return link;
    return lexicallyNormal(target.front() == '/' ? target : devices + "/" + target);
  }
  if (size < 0 && errno == EINVAL) return link;  // a real folder rather than a link
  if (letter == 'c' && ::access(link.c_str(), F_OK) != 0) return prefix + "/drive_c";
  return link;
}

bool isSeparator(char c) {
  return c == '\\' || c == '/';
}

}  // namespace

std::string winePrefix() {
  const std::string prefix = environmentValue("WINEPREFIX");
  if (!prefix.empty()) return withoutTrailingSlash(prefix);
  const std::string home = homeFolder();
  if (home.empty()) return {};
  return withoutTrailingSlash(home) + "/.wine";
}

std::string wineUserHive(const std::string& prefix) {
  return prefix + "/user.reg";
}

std::string windowsToLinuxPath(std::string_view windowsPath, const std::string& prefix) {
  std::string_view path = windowsPath;
  // Long-path and NT forms of a drive path: \\?\C:\x, \??\C:\x.
  if ((path.starts_with("\\\\?\\") || path.starts_with("\\??\\")) && path.size() >= 6 &&
      path[5] == ':') {
    path.remove_prefix(4);
  }
  const bool drive = path.size() >= 2 && path[1] == ':' &&
                     ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
  if (!drive) {
    std::string out(path);
    for (char& c : out) {
      if (c == '\\') c = '/';
    }
    return out;
  }

  std::string out = driveFolder(path[0], withoutTrailingSlash(prefix));
  path.remove_prefix(2);
  bool pendingSeparator = !path.empty();  // "C:x" is taken as "C:\x"
  for (char c : path) {
    if (isSeparator(c)) {
      pendingSeparator = true;
      continue;
    }
    if (pendingSeparator && (out.empty() || out.back() != '/')) out += '/';
    pendingSeparator = false;
    out += c;
  }
  if (pendingSeparator && (out.empty() || out.back() != '/')) out += '/';
  return out;
}
