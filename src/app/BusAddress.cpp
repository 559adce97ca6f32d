#include "app/BusAddress.h"

#include <sys/stat.h>

#include <cctype>
#include <cstring>
#include <optional>

#include "platform/Environment.h"
#include "platform/PathText.h"

namespace {

// D-Bus address values escape every byte outside [-0-9A-Za-z_/.\*] as %XX.
std::string escapedValue(const std::string& value) {
  static const char* hex = "0123456789abcdef";
  std::string out;
  for (const char c : value) {
    const auto byte = static_cast<unsigned char>(c);
    if (std::isalnum(byte) || std::strchr("-_/.\\*", c)) {
      out += c;
    } else {
      out += '%';
      out += hex[byte >> 4];
      out += hex[byte & 15];
    }
  }
  return out;
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<std::string> unescapedValue(const std::string& value) {
  std::string out;
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '%') {
      out += value[i];
      continue;
    }
    if (i + 2 >= value.size()) return std::nullopt;
    const int high = hexDigit(value[i + 1]), low = hexDigit(value[i + 2]);
    if (high < 0 || low < 0) return std::nullopt;
    out += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return out;
}

// The socket of one "unix:path=..." or "unix:abstract=..." entry; nullopt for anything else.
std::optional<std::pair<sockaddr_un, socklen_t>> socketOf(const std::string& entry) {
  if (!entry.starts_with("unix:")) return std::nullopt;
  std::string rest = entry.substr(5);
  std::optional<std::string> path, abstract;
  size_t start = 0;
  while (start <= rest.size()) {
    size_t end = rest.find(',', start);
    if (end == std::string::npos) end = rest.size();
    const std::string pair = rest.substr(start, end - start);
    const size_t equals = pair.find('=');
    if (equals != std::string::npos) {
      const std::string key = pair.substr(0, equals);
      if (key == "path") path = unescapedValue(pair.substr(equals + 1));
      if (key == "abstract") abstract = unescapedValue(pair.substr(equals + 1));
    }
    start = end + 1;
  }
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string& name = path ? *path : abstract ? *abstract : std::string();
  if ((!path && !abstract) || name.empty() || name.size() + 1 > sizeof address.sun_path)
    return std::nullopt;
  // An abstract name begins with a zero byte and is not terminated.
  const size_t offset = path ? 0 : 1;
  std::memcpy(address.sun_path + offset, name.data(), name.size());
  const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset +
                                             name.size() + (path ? 1 : 0));
  return std::make_pair(address, length);
}

}  // namespace

std::vector<std::pair<sockaddr_un, socklen_t>> busSockets(const std::string& address) {
  std::vector<std::pair<sockaddr_un, socklen_t>> sockets;
  size_t start = 0;
  while (start < address.size()) {
    size_t end = address.find(';', start);
    if (end == std::string::npos) end = address.size();
    // Other transports (and "autolaunch:", which would start a bus) are not tried.
    if (const auto socket = socketOf(address.substr(start, end - start)))
      sockets.push_back(*socket);
    start = end + 1;
  }
  return sockets;
}

std::string sessionBusAddress(const std::string& addressVariable, const std::string& runtimeDir) {
  if (!addressVariable.empty()) return addressVariable;
  if (runtimeDir.empty() || runtimeDir.front() != '/') return {};
  const std::string socket = joinPath(runtimeDir, "bus");
  struct stat st {};
  if (::stat(socket.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode)) return {};
  return "unix:path=" + escapedValue(socket);
}

std::string sessionBusAddressFromEnvironment() {
  return sessionBusAddress(environmentValue("DBUS_SESSION_BUS_ADDRESS"),
                           environmentValue("XDG_RUNTIME_DIR"));
}
