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
  daemon_ = ::fork();
  if (daemon_ == 0) {
    ::dup2(addressPipe[1], 3);
    const int null = ::open("/dev/null", O_RDWR);
    ::dup2(null, 0);
    ::dup2(null, 1);
    ::execlp("dbus-daemon", "dbus-daemon", "--nofork", "--print-address=3",
             ("--config-file=" + config).c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
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
    ::waitpid(daemon_, nullptr, 0);
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

BrokenBus::BrokenBus(const std::string& path, std::string reply)
    : path_(path), reply_(std::move(reply)), listening_(::socket(AF_UNIX, SOCK_STREAM, 0)) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  ::bind(listening_, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::listen(listening_, 8);
  if (::pipe(stop_) == 0) thread_ = std::thread([this] { serve(); });
}

BrokenBus::~BrokenBus() {
  if (thread_.joinable()) {
    ::close(stop_[1]);
    thread_.join();
    ::close(stop_[0]);
  }
  ::close(listening_);
}

bool BrokenBus::connected(std::chrono::milliseconds limit) const {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (connections_ == 0 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  return connections_ > 0;
}

void BrokenBus::serve() {
  std::vector<pollfd> watched{{stop_[0], POLLIN, 0}, {listening_, POLLIN, 0}};
  std::vector<bool> answered(2, true);
  while (::poll(watched.data(), watched.size(), -1) >= 0 && !watched[0].revents) {
    if (watched[1].revents & POLLIN) {
      watched.push_back({::accept(listening_, nullptr, nullptr), POLLIN, 0});
      answered.push_back(reply_.empty());
      ++connections_;
    }
    for (size_t i = 2; i < watched.size(); ++i) {
      if (!watched[i].revents) continue;
      char buffer[4096];
      if (::recv(watched[i].fd, buffer, sizeof buffer, MSG_DONTWAIT) <= 0) {
        ::close(watched[i].fd);  // the client is gone
        watched[i].fd = -1;
      } else if (!answered[i]) {
        ::send(watched[i].fd, reply_.data(), reply_.size(), MSG_NOSIGNAL);
        answered[i] = true;
      }
    }
  }
  for (size_t i = 2; i < watched.size(); ++i) ::close(watched[i].fd);
}
