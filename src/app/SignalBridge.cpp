#include "app/SignalBridge.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int) {
  const int savedErrno = errno;
  const char byte = 1;
  // Only async-signal-safe work here: wake the event loop.
  [[maybe_unused]] ssize_t n = ::write(signalPipe[1], &byte, 1);
  errno = savedErrno;
}

bool signalWaiting() {
  pollfd waiting{signalPipe[0], POLLIN, 0};
  return ::poll(&waiting, 1, 0) > 0 && (waiting.revents & POLLIN);
}

}  // namespace

void catchStopSignals() {
  if (signalPipe[0] >= 0) return;
  if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  struct sigaction action {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
  sigset_t stops;
  sigemptyset(&stops);
  sigaddset(&stops, SIGINT);
  sigaddset(&stops, SIGTERM);
  ::sigprocmask(SIG_UNBLOCK, &stops, nullptr);
}

int stopSignalDescriptor() {
  return signalPipe[0];
}

SignalBridge::SignalBridge(std::function<void()> callback, QObject* parent)
    : QObject(parent), onSignal_(std::move(callback)) {
  catchStopSignals();
  if (signalPipe[0] < 0) return;
  received_ = signalWaiting();
  notifier_ = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, [this] {
    char buffer[16];
    while (::read(signalPipe[0], buffer, sizeof buffer) > 0) {
    }
    received_ = true;
    if (onSignal_) onSignal_();
  });
}
