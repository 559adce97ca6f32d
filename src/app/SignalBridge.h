#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <functional>

// Takes SIGINT and SIGTERM over for the whole life of the program: the handler only writes a
// byte to a pipe, which waits there until the event loop runs. Call it on the first line of
// main, so that a stop asked for during start-up is not the signal's default death. It also
// unblocks both signals, should whoever started the program have blocked them.
void catchStopSignals();

// The pipe's read end (-1 when there is none), readable while a stop signal waits: for what
// the program waits for once its event loop has ended.
int stopSignalDescriptor();

// Turns the stop signals into a call on the GUI thread, where the program can close its
// window as the user would: settings saved, run stopped cleanly. A signal that came before
// the bridge existed is delivered once the event loop runs.
class SignalBridge : public QObject {
 public:
  explicit SignalBridge(std::function<void()> onSignal, QObject* parent = nullptr);

  // A stop signal has come (also before the bridge existed).
  bool received() const { return received_; }

 private:
  std::function<void()> onSignal_;
  QSocketNotifier* notifier_ = nullptr;
  bool received_ = false;
};
