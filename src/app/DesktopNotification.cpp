#include "app/DesktopNotification.h"

#include "dialogs/ByteText.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <thread>
#include <vector>

#include "backup/TEstad.h"

namespace {

using Clock = std::chrono::steady_clock;

// The notification as a whole never holds the program's exit for much more than this.
constexpr std::chrono::milliseconds kBudget{1000};
// Each bus entry has this long to answer the greeting, so that a later entry can still be tried.
constexpr std::chrono::milliseconds kGreetingLimit{400};

// The few D-Bus types the notification sends, marshalled little-endian.
class Marshal {
 public:
  void align(size_t to) {
    while (bytes_.size() % to != 0) bytes_ += '\0';
  }
  void byte(uint8_t value) { bytes_ += static_cast<char>(value); }
  void u32(uint32_t value) {
    align(4);
    for (int shift = 0; shift < 32; shift += 8) byte(static_cast<uint8_t>(value >> shift));
  }
  void string(const std::string& value) {
    u32(static_cast<uint32_t>(value.size()));
    bytes_ += value;
    byte(0);
  }
  void signature(const std::string& value) {
    byte(static_cast<uint8_t>(value.size()));
    bytes_ += value;
    byte(0);
  }
  const std::string& bytes() const { return bytes_; }

 private:
  std::string bytes_;
};

std::string methodCall(uint32_t serial, const std::string& destination, const std::string& path,
                       const std::string& interface, const std::string& member,
                       const std::string& signature, const std::string& body) {
  Marshal fields;
  const auto field = [&fields](uint8_t code, const char* type, const std::string& value) {
    fields.align(8);
    fields.byte(code);
    fields.signature(type);
    if (type[0] == 'g')
      fields.signature(value);
    else
      fields.string(value);
  };
  field(1, "o", path);
  field(2, "s", interface);
  field(3, "s", member);
  field(6, "s", destination);
  if (!signature.empty()) field(8, "g", signature);
  Marshal header;
  header.byte('l');
  header.byte(1);  // a method call
  header.byte(0);
  header.byte(1);  // protocol version
  header.u32(static_cast<uint32_t>(body.size()));
  header.u32(serial);
  header.u32(static_cast<uint32_t>(fields.bytes().size()));
  std::string message = header.bytes() + fields.bytes();
  message.resize((message.size() + 7) / 8 * 8, '\0');
  return message + body;
}

constexpr uint32_t kNotifySerial = 2;

std::string notifyCall(const NotificationText& text) {
  Marshal body;
  body.string("Resguarda");
  body.u32(0);  // replaces no earlier notification
  body.string("");
  // D-Bus refuses strings that are not UTF-8; the body may be read as markup.
  body.string(fromUtf8(text.summary).toUtf8().toStdString());
  body.string(fromBytes(text.body).toHtmlEscaped().toUtf8().toStdString());
  body.u32(0);  // no actions
  body.u32(0);  // no hints; the entries of that array would be 8-aligned
  body.align(8);
  body.u32(static_cast<uint32_t>(-1));  // shown for as long as the desktop likes
  return methodCall(kNotifySerial, "org.freedesktop.Notifications",
                    "/org/freedesktop/Notifications", "org.freedesktop.Notifications", "Notify",
                    "susssasa{sv}i", body.bytes());
}

// Everything the child needs, made before the fork: after it, the child (a copy of a program
// with threads) may only make async-signal-safe calls, and allocates nothing.
struct Talk {
  std::vector<std::pair<sockaddr_un, socklen_t>> sockets;
  std::string greeting;  // the EXTERNAL authentication, as every D-Bus client begins
  std::string messages;  // BEGIN, Hello, Notify
  int resultFd = -1;
  int highestFd = 1024;
  pid_t parent = 0;
};

long long nowMs() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec * 1000LL + now.tv_nsec / 1000000;
}

// `deadline` < 0 waits as long as the parent lets the child live.
bool readExactly(int fd, char* into, size_t size, long long deadline) {
  size_t done = 0;
  while (done < size) {
    int timeout = -1;
    if (deadline >= 0) {
      const long long left = deadline - nowMs();
      if (left <= 0) return false;
      timeout = static_cast<int>(left);
    }
    pollfd waiting{fd, POLLIN, 0};
    const int ready = ::poll(&waiting, 1, timeout);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    const ssize_t n = ::recv(fd, into + done, size - done, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

bool sendAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// Only "OK" lets the talk go on; REJECTED, ERROR or any other line ends it.
bool authenticated(int fd, const Talk& talk, long long deadline) {
  if (!sendAll(fd, talk.greeting.data(), talk.greeting.size())) return false;
  for (int round = 0; round < 4; ++round) {
    char line[512];
    size_t length = 0;
    while (length < 2 || line[length - 2] != '\r' || line[length - 1] != '\n') {
      if (length == sizeof line || !readExactly(fd, line + length, 1, deadline)) return false;
      ++length;
    }
    const auto says = [&](const char* word, size_t size) {
      return length >= size + 2 && std::memcmp(line, word, size) == 0 &&
             (line[size] == ' ' || line[size] == '\r');
    };
    if (says("OK", 2)) return true;
    // EXTERNAL has nothing more to say than an empty answer.
    if (!says("DATA", 4) || !sendAll(fd, "DATA\r\n", 6)) return false;
  }
  return false;
}

uint32_t u32At(const unsigned char* at, bool little) {
  return little ? at[0] | at[1] << 8 | at[2] << 16 | static_cast<uint32_t>(at[3]) << 24
                : at[3] | at[2] << 8 | at[1] << 16 | static_cast<uint32_t>(at[0]) << 24;
}

// The REPLY_SERIAL of a header's fields; false when there is none or the fields are broken.
bool replySerialOf(const unsigned char* fields, size_t length, bool little, uint32_t& serial) {
  size_t at = 0;
  while (at < length) {
    at = (at + 7) / 8 * 8;
    // A field is (code, variant): the variant's signature holds one basic type.
    if (at + 4 > length || fields[at + 1] != 1 || fields[at + 3] != 0) return false;
    const unsigned char code = fields[at], type = fields[at + 2];
    at += 4;
    if (type == 'g') {
      if (at >= length) return false;
      at += fields[at] + 2u;
      continue;
    }
    at = (at + 3) / 4 * 4;
    if (at + 4 > length) return false;
    const uint32_t value = u32At(fields + at, little);
    at += 4;
    if (type == 's' || type == 'o')
      at += size_t{value} + 1;
    else if (type != 'u' && type != 'h')
      return false;
    else if (code == 5) {
      serial = value;
      return true;
    }
  }
  return false;
}

// Reads what the bus sends until the answer to Notify: true when it is a reply, false for an
// error (to Hello or Notify) or anything that cannot be read.
bool notifyReplied(int fd) {
  for (int message = 0; message < 64; ++message) {
    unsigned char fixed[16];
    if (!readExactly(fd, reinterpret_cast<char*>(fixed), sizeof fixed, -1)) return false;
    const bool little = fixed[0] == 'l';
    if (!little && fixed[0] != 'B') return false;
    const size_t fieldsLength = u32At(fixed + 12, little);
    unsigned char fields[4096];
    const size_t padded = (fieldsLength + 7) / 8 * 8;
    if (padded > sizeof fields) return false;
    if (!readExactly(fd, reinterpret_cast<char*>(fields), padded, -1)) return false;
    for (size_t left = u32At(fixed + 4, little); left > 0;) {
      char body[1024];
      const size_t chunk = std::min(left, sizeof body);
      if (!readExactly(fd, body, chunk, -1)) return false;
      left -= chunk;
    }
    const unsigned char type = fixed[1];  // 2 a reply, 3 an error, others signals or calls
    if (type != 2 && type != 3) continue;
    uint32_t serial = 0;
    if (type == 3 || !replySerialOf(fields, fieldsLength, little, serial)) return false;
    if (serial == kNotifySerial) return true;
  }
  return false;
}

[[noreturn]] void talkAndExit(const Talk& talk) {
  // The stop signals kill the child; so would an alarm, should the parent's kill not come.
  struct sigaction byDefault {};
  byDefault.sa_handler = SIG_DFL;
  for (const int stop : {SIGTERM, SIGINT, SIGALRM}) ::sigaction(stop, &byDefault, nullptr);
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (::getppid() != talk.parent) ::_exit(1);
  ::alarm(3);
  // It holds nothing of the parent's (standard streams, locks), so that nothing waiting for
  // those to close waits for the child.
  if (talk.resultFd != 3 && ::dup2(talk.resultFd, 3) != 3) ::_exit(1);
  if (::close_range(4, ~0U, 0) != 0)
    for (int fd = 4; fd <= talk.highestFd; ++fd) ::close(fd);
  const int null = ::open("/dev/null", O_RDWR);
  for (int fd = 0; fd <= 2 && null >= 0; ++fd) ::dup2(null, fd);
  if (null > 2) ::close(null);

  bool sent = false;
  for (const auto& [address, length] : talk.sockets) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0) break;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0 &&
        authenticated(fd, talk, nowMs() + kGreetingLimit.count())) {
      sent = sendAll(fd, talk.messages.data(), talk.messages.size()) && notifyReplied(fd);
      break;
    }
    ::close(fd);
  }
  const char shown = sent ? 1 : 0;
  [[maybe_unused]] const ssize_t n = ::write(3, &shown, 1);
  ::_exit(0);
}

bool readable(int fd) {
  pollfd waiting{fd, POLLIN, 0};
  return fd >= 0 && ::poll(&waiting, 1, 0) > 0;
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

bool notifyDesktop(const NotificationText& text, const std::string& address, int stopFd) {
  const Clock::time_point deadline = Clock::now() + kBudget;
  Talk talk;
  talk.sockets = busSockets(address);
  if (talk.sockets.empty() || readable(stopFd)) return false;
  std::string hexUid;
  for (const char c : std::to_string(::geteuid())) {
    static const char* hex = "0123456789abcdef";
    hexUid += hex[static_cast<unsigned char>(c) >> 4];
    hexUid += hex[c & 15];
  }
  talk.greeting = std::string(1, '\0') + "AUTH EXTERNAL " + hexUid + "\r\n";
  talk.messages = "BEGIN\r\n" +
                  methodCall(1, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                             "org.freedesktop.DBus", "Hello", "", "") +
                  notifyCall(text);
  talk.highestFd = static_cast<int>(std::clamp(::sysconf(_SC_OPEN_MAX), 1024L, 65536L));
  talk.parent = ::getpid();
  int result[2];
  if (::pipe2(result, O_CLOEXEC) != 0) return false;
  talk.resultFd = result[1];
  const pid_t child = ::fork();
  if (child == 0) talkAndExit(talk);
  ::close(result[1]);
  char shown = 0;
  while (child > 0) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) break;
    pollfd waiting[2] = {{result[0], POLLIN, 0}, {stopFd, POLLIN, 0}};
    const int ready = ::poll(waiting, 2, static_cast<int>(left));
    if (ready < 0 && errno == EINTR) continue;
    // A stop signal ends the wait at once; the program ends as it would have.
    if (ready <= 0 || (waiting[1].revents & POLLIN)) break;
    if (::read(result[0], &shown, 1) != 1) shown = 0;
    break;
  }
  ::close(result[0]);
  if (child > 0) {
    ::kill(child, SIGKILL);
    // Killed, it ends at once, unless the kernel holds it in a wait no signal breaks (a socket
    // on a hung network file system): then it is left to end after the program.
    for (int i = 0; i < 100; ++i) {
      const pid_t reaped = ::waitpid(child, nullptr, WNOHANG);
      if (reaped == child || (reaped < 0 && errno != EINTR)) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  return shown == 1;
}
