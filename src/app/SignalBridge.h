#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <functional>

// Turns SIGINT and SIGTERM into a call on the GUI thread, where the program can close its
// window as the user would: settings saved, run stopped cleanly.
class SignalBridge : public QObject {
 public:
  explicit SignalBridge(std::function<void()> onSignal, QObject* parent = nullptr);
  ~SignalBridge() override;

  bool received() const { return received_; }

 private:
  std::function<void()> onSignal_;
  QSocketNotifier* notifier_ = nullptr;
  bool received_ = false;
};
