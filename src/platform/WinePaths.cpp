#include "platform/WinePaths.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "platform/Environment.h"
#include "platform/PathText.h"

namespace {

// Resolves "." and ".." by text, as the link's target is read relative to its folder.
std::string normaliseLexically(const std::string& path) {
  const bool absolute = !path.empty() && path.front() == '/';
  std::vector<std::string> parts;
  std::size_t i = 0;
  while (i <= path.size()) {
    std::size_t slash = path.find('/', i);
    if (slash == std::string::npos) slash = path.size();
    const std::string part = path.substr(i, slash - i);
    if (part == "..") {
      if (!parts.empty() && parts.back() != "..") {
        parts.pop_back();
      } else if (!absolute) {
        parts.push_back(part);
      }
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    i = slash + 1;
  }
  std::string out = absolute ? "/" : "";
  for (std::size_t k = 0; k < parts.size(); ++k) {
    if (k) out += '/';
    out += parts[k];
  }
  return out.empty() ? "." : out;
}

std::string driveFolder(char letter, const std::string& prefix) {
  letter = asciiLower(letter);
  const std::string devices = prefix + "/dosdevices";
  const std::string link = devices + "/" + letter + ":";
  std::string target(4096, '\0');
  const ssize_t size = ::readlink(link.c_str(), target.data(), target.size());
  if (size >= 0 && static_cast<std::size_t>(size) < target.size()) {
    target.resize(static_cast<std::size_t>(size));
    if (target.empty()) return link;
    return normaliseLexically(target.front() == '/' ? target : devices + "/" + target);
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
