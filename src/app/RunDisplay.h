#pragma once

#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "backup/RunObserver.h"

// Turns what the worker reports into what the window must change, for the window to apply
// on its own thread. Updates are coalesced: the window takes them at most every few dozen
// milliseconds, so a run over a million files cannot flood the event loop. Only the newest
// ordinary log lines are kept while they wait, since the log shows only its last lines
// anyway; "ERROR - " and "AVISO - " lines are always kept.
class RunDisplay : public RunObserver {
 public:
  // Waiting ordinary log lines beyond this are dropped, oldest first.
  static constexpr size_t kMaxPendingLines = 5000;

  enum class GaugeOp { Step, Reset };

  // What the window has to change, in its own terms.
  struct Pending {
    bool logCleared = false;
    std::vector<std::string> lines;
    std::optional<std::string> label1;  // the status text or the folder being mirrored
    bool countersChanged = false;
    bool progress = false;  // counters, elapsed time and EstadoLb shown afresh
    std::vector<GaugeOp> gauge;
    std::optional<bool> animation;
    std::optional<bool> timer;
    bool copyButtonRaised = false;  // the run ended by itself: CopiarBt goes up

    bool empty() const;
  };

  Pending take();

  void runStarted() override;
  void statusChanged(const std::string& text) override;
  void taskStarted(const std::string& path, bool mailTask) override;
  void countersChanged() override;
  void logLine(const std::string& line) override;
  void runEnded(const RunResult& result) override;

 private:
  std::mutex mutex_;
  Pending pending_;
  std::deque<std::string> lines_;
};
