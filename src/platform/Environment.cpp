#include "platform/Environment.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <string_view>

#include "platform/PathText.h"

extern char** environ;

std::string environmentValue(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

std::vector<std::pair<std::string, std::string>> environmentVariables() {
  std::vector<std::pair<std::string, std::string>> variables;
  for (char** entry = environ; entry && *entry; ++entry) {
    const std::string_view text = *entry;
    const std::size_t equals = text.find('=');
    if (equals == std::string_view::npos || equals == 0) continue;
    variables.emplace_back(std::string(text.substr(0, equals)),
                           std::string(text.substr(equals + 1)));
  }
  return variables;
}

bool environmentIsSet(const char* name) {
  return std::getenv(name) != nullptr;
}

namespace {

// A field of the password database's entry for `user`; "" when there is none.
std::string passwordEntry(uid_t user, char* passwd::*field) {
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::string buffer(size > 0 ? static_cast<std::size_t>(size) : 16384, '\0');
  passwd entry{};
  passwd* result = nullptr;
  if (::getpwuid_r(user, &entry, buffer.data(), buffer.size(), &result) == 0 && result &&
      result->*field)
    return result->*field;
  return {};
}

std::string lookUpLoginName() {
  std::string login = passwordEntry(::geteuid(), &passwd::pw_name);
  if (!login.empty()) return login;
  for (const char* name : {"USER", "LOGNAME"}) {
    std::string value = environmentValue(name);
    if (!value.empty()) return value;
  }
  return {};
}

}  // namespace

std::string homeFolder() {
  std::string home = environmentValue("HOME");
  return home.empty() ? passwordEntry(::getuid(), &passwd::pw_dir) : home;
}

std::string loginName() {
  // Asked for on every store folder lookup; the password database need not be read each time.
  static const std::string login = lookUpLoginName();
  return login;
}

std::string stateFolder(const std::string& home, const std::string& xdgStateHome) {
  if (!xdgStateHome.empty() && xdgStateHome.front() == '/')
    return withoutTrailingSlash(xdgStateHome) + "/resguarda";
  if (home.empty() || home.front() != '/') return {};
  const std::string base = withoutTrailingSlash(home);
  return (base == "/" ? "" : base) + "/.local/state/resguarda";
}

std::string stateFolder() {
  return stateFolder(environmentValue("HOME"), environmentValue("XDG_STATE_HOME"));
}
