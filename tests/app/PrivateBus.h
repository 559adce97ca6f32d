#pragma once

#include <sys/types.h>

#include <QDBusVirtualObject>
#include <QList>
#include <QThread>
#include <QVariant>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A session bus of the test's own: a dbus-daemon on a socket in `folder`, with no services to
// start, stopped again at the end. available() is false where dbus-daemon is missing.
class PrivateBus {
 public:
  explicit PrivateBus(const std::string& folder);
  ~PrivateBus();
  PrivateBus(const PrivateBus&) = delete;
  PrivateBus& operator=(const PrivateBus&) = delete;

  bool available() const { return !address_.empty(); }
  const std::string& address() const { return address_; }

 private:
  pid_t daemon_ = -1;
  std::string address_;
};

// A stand-in for the desktop's notification service on a bus, on a thread of its own so that
// it answers while the test waits for the program. It records every Notify call; with
// `answers` false it never replies, as a hung service would not.
class FakeNotifications {
 public:
  FakeNotifications(const std::string& busAddress, bool answers);
  ~FakeNotifications();

  bool registered() const { return registered_; }
  // The arguments of every Notify call so far.
  std::vector<QList<QVariant>> calls() const;

 private:
  class Service;
  QThread thread_;
  std::unique_ptr<Service> service_;
  QString connectionName_;
  bool registered_ = false;
};

// A socket that plays a broken session bus: it takes one connection, answers the client's
// first bytes with `reply` (with nothing when it is empty), and then keeps the connection open
// without another word.
class BrokenBus {
 public:
  BrokenBus(const std::string& path, const std::string& reply);
  ~BrokenBus();

  std::string address() const { return "unix:path=" + path_; }
  // Waits, up to `limit`, for the client to connect.
  bool connected(std::chrono::milliseconds limit) const;

 private:
  std::string path_;
  int listening_;
  int stop_[2] = {-1, -1};
  std::atomic<bool> connected_{false};
  std::thread thread_;
};
