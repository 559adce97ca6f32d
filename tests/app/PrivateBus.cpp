#include "PrivateBus.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <cstring>
#include <fstream>

#include "support/ForkedChild.h"

class FakeNotifications::Service : public QDBusVirtualObject {
 public:
  explicit Service(bool answers) : answers_(answers) {}

  bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
    if (message.member() != QLatin1String("Notify")) return false;
    {
      std::lock_guard lock(mutex_);
      calls_.push_back(message.arguments());
    }
    if (answers_) connection.send(message.createReply(QVariant::fromValue(7u)));
    return true;
  }
  QString introspect(const QString&) const override { return {}; }

  std::vector<QList<QVariant>> calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
  }

 private:
  bool answers_;
  mutable std::mutex mutex_;
  std::vector<QList<QVariant>> calls_;
};

PrivateBus::PrivateBus(const std::string& folder) {
  const std::string config = folder + "/bus.conf", socket = folder + "/bus";
  std::ofstream(config) << "<busconfig><type>session</type><listen>unix:path=" << socket
                        << "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                           "<allow send_destination=\"*\" eavesdrop=\"true\"/>"
                           "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n";
  int addressPipe[2];
  if (::pipe2(addressPipe, O_CLOEXEC) != 0) return;
  daemon_ = startChild([&] {
    ::dup2(addressPipe[1], 3);
    const int null = ::open("/dev/null", O_RDWR);
    ::dup2(null, 0);
    ::dup2(null, 1);
    ::execlp("dbus-daemon", "dbus-daemon", "--nofork", "--print-address=3",
             ("--config-file=" + config).c_str(), static_cast<char*>(nullptr));
    return 127;
  });
  ::close(addressPipe[1]);
  std::string printed;
  char buffer[256];
  ssize_t n;
  while ((n = ::read(addressPipe[0], buffer, sizeof buffer)) > 0) {
    printed.append(buffer, static_cast<size_t>(n));
    if (printed.find('\n') != std::string::npos) break;
  }
  ::close(addressPipe[0]);
  if (const size_t end = printed.find('\n'); end != std::string::npos)
    address_ = printed.substr(0, end);
}

PrivateBus::~PrivateBus() {
  if (daemon_ > 0) {
    ::kill(daemon_, SIGTERM);
    waitForChild(daemon_);
  }
}

FakeNotifications::FakeNotifications(const std::string& busAddress, bool answers)
    : service_(std::make_unique<Service>(answers)),
      connectionName_(QStringLiteral("fake-notifications-%1").arg(quintptr(this))) {
  thread_.start();
  service_->moveToThread(&thread_);
  QDBusConnection bus =
      QDBusConnection::connectToBus(QString::fromStdString(busAddress), connectionName_);
  registered_ =
      bus.isConnected() &&
      bus.registerVirtualObject(QStringLiteral("/org/freedesktop/Notifications"), service_.get()) &&
      bus.registerService(QStringLiteral("org.freedesktop.Notifications"));
}

FakeNotifications::~FakeNotifications() {
  QDBusConnection::disconnectFromBus(connectionName_);
  thread_.quit();
  thread_.wait();
}

std::vector<QList<QVariant>> FakeNotifications::calls() const {
  return service_->calls();
}

BrokenBus::BrokenBus(const std::string& path, const std::string& reply)
    : path_(path), listening_(::socket(AF_UNIX, SOCK_STREAM, 0)) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  ::bind(listening_, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::listen(listening_, 8);
  if (::pipe(stop_) != 0) return;
  thread_ = std::thread([this, reply] {
    // Each wait ends early when the bus is destroyed (the stop pipe closes).
    const auto wait = [this](int fd) {
      pollfd waiting[2] = {{stop_[0], POLLIN, 0}, {fd, POLLIN, 0}};
      return ::poll(waiting, 2, -1) > 0 && !waiting[0].revents;
    };
    if (!wait(listening_)) return;
    const int client = ::accept(listening_, nullptr, nullptr);
    connected_ = true;
    char greeting[512];
    if (wait(client) && ::recv(client, greeting, sizeof greeting, 0) > 0)
      ::send(client, reply.data(), reply.size(), MSG_NOSIGNAL);
    wait(-1);
    ::close(client);
  });
}

BrokenBus::~BrokenBus() {
  ::close(stop_[1]);
  if (thread_.joinable()) thread_.join();
  ::close(stop_[0]);
  ::close(listening_);
}

bool BrokenBus::connected(std::chrono::milliseconds limit) const {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!connected_ && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  return connected_;
}
