#pragma once

#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "backup/RunObserver.h"

// Collects what the worker reports, for the window to show on its own thread. Updates are
// coalesced: the window takes them at most every few dozen milliseconds, so a run over a
// million files cannot flood the event loop. Only the newest log lines are kept while they
// wait, since the log shows only its last lines anyway.
class RunDisplay : public RunObserver {
 public:
  // Waiting log lines beyond this are dropped, oldest first.
  static constexpr size_t kMaxPendingLines = 5000;

  enum class GaugeOp { Step, Reset };

  struct Pending {
    bool logCleared = false;
    std::vector<std::string> lines;
    std::optional<std::string> currentItem;
    bool countersChanged = false;
    bool progress = false;
    std::vector<GaugeOp> gauge;
    std::optional<bool> animation;
    std::optional<bool> timer;
    bool copyButtonRaised = false;

    bool empty() const;
  };

  Pending take();

  void logCleared() override;
  void logLine(const std::string& line) override;
  void currentItem(const std::string& text) override;
  void countersChanged() override;
  void progress() override;
  void gaugeStep() override;
  void gaugeReset() override;
  void animation(bool running) override;
  void timer(bool enabled) override;
  void copyButtonRaised() override;

 private:
  std::mutex mutex_;
  Pending pending_;
  std::deque<std::string> lines_;
};
