#include "app/DesktopNotification.h"

#include "app/ByteText.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QFile>
#include <QStringList>
#include <QVariantMap>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "backup/TEstad.h"

namespace {

using Clock = std::chrono::steady_clock;

// The notification as a whole never holds the program's exit for much more than this.
constexpr std::chrono::milliseconds kBudget{1000};
constexpr std::chrono::milliseconds kGreetingLimit{400};

std::string environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

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

// Connects and offers the EXTERNAL greeting, as every D-Bus client begins; any reply line
// means that the bus is alive.
bool greets(const sockaddr_un& address, socklen_t length, Clock::time_point deadline) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return false;
  bool answered = false;
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0) {
    std::string hexUid;
    for (const char c : std::to_string(::geteuid())) {
      static const char* hex = "0123456789abcdef";
      hexUid += hex[static_cast<unsigned char>(c) >> 4];
      hexUid += hex[c & 15];
    }
    const std::string greeting = std::string(1, '\0') + "AUTH EXTERNAL " + hexUid + "\r\n";
    if (::send(fd, greeting.data(), greeting.size(), MSG_NOSIGNAL) ==
        static_cast<ssize_t>(greeting.size())) {
      std::string reply;
      while (!answered) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) break;
        pollfd waiting{fd, POLLIN, 0};
        const int ready = ::poll(&waiting, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) break;
        char buffer[256];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) break;
        reply.append(buffer, static_cast<size_t>(n));
        answered = reply.find("\r\n") != std::string::npos;
      }
    }
  }
  ::close(fd);
  return answered;
}

QString htmlEscaped(const std::string& text) {
  // Notification servers may read the body as markup.
  return fromBytes(text).toHtmlEscaped();
}

}  // namespace

std::optional<NotificationText> runNotification(const std::optional<RunResult>& result,
                                                const TEstad& estado, const std::string& problem) {
  if (!result) return std::nullopt;
  if (!problem.empty()) return NotificationText{"No se pudo hacer la copia.", problem};
  NotificationText text;
  text.summary = estado.TextoEstado();
  text.body = "Actualizados: " + std::to_string(estado.Actualizados) +
              "  Copiados: " + std::to_string(estado.Copiados) +
              "  Revisados: " + std::to_string(estado.Revisados);
  if (result->failures == 1)
    text.body += "\n1 archivo con errores";
  else if (result->failures > 1)
    text.body += "\n" + std::to_string(result->failures) + " archivos con errores";
  return text;
}

std::string sessionBusAddress(const std::string& addressVariable, const std::string& runtimeDir) {
  if (!addressVariable.empty()) return addressVariable;
  if (runtimeDir.empty() || runtimeDir.front() != '/') return {};
  const std::string socket = runtimeDir + "/bus";
  struct stat st {};
  if (::stat(socket.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode)) return {};
  return "unix:path=" + escapedValue(socket);
}

std::string sessionBusAddressFromEnvironment() {
  return sessionBusAddress(environment("DBUS_SESSION_BUS_ADDRESS"), environment("XDG_RUNTIME_DIR"));
}

std::string answeringBusEntry(const std::string& address, std::chrono::milliseconds timeout) {
  const Clock::time_point deadline = Clock::now() + timeout;
  size_t start = 0;
  while (start < address.size()) {
    size_t end = address.find(';', start);
    if (end == std::string::npos) end = address.size();
    const std::string entry = address.substr(start, end - start);
    start = end + 1;
    // Other transports (and "autolaunch:", which would start a bus) are not tried.
    const auto socket = socketOf(entry);
    if (socket && greets(socket->first, socket->second, deadline)) return entry;
    if (Clock::now() >= deadline) break;
  }
  return {};
}

bool notifyDesktop(const NotificationText& text, const std::string& address) {
  const Clock::time_point deadline = Clock::now() + kBudget;
  const std::string entry = answeringBusEntry(address, kGreetingLimit);
  if (entry.empty()) return false;
  const QString name = QStringLiteral("resguarda-notification");
  bool shown = false;
  {
    QDBusConnection bus = QDBusConnection::connectToBus(QString::fromStdString(entry), name);
    if (bus.isConnected()) {
      QDBusMessage call = QDBusMessage::createMethodCall(
          QStringLiteral("org.freedesktop.Notifications"),
          QStringLiteral("/org/freedesktop/Notifications"),
          QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
      call << QStringLiteral("Resguarda") << 0u << QString()
           << QString::fromUtf8(text.summary.c_str()) << htmlEscaped(text.body) << QStringList()
           << QVariantMap() << -1;
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      const int timeout = static_cast<int>(std::max<long long>(left.count(), 100));
      shown = bus.call(call, QDBus::Block, timeout).type() == QDBusMessage::ReplyMessage;
    }
  }
  QDBusConnection::disconnectFromBus(name);
  return shown;
}
