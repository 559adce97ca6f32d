#include "app/RunDisplay.h"

#include <algorithm>

bool RunDisplay::Pending::empty() const {
  return !logCleared && lines.empty() && !label1 && !countersChanged && !progress &&
         gauge.empty() && !animation && !timer && !copyButtonRaised;
}

RunDisplay::Pending RunDisplay::take() {
  std::lock_guard lock(mutex_);
  Pending taken = std::move(pending_);
  pending_ = Pending{};
  taken.lines.assign(std::make_move_iterator(lines_.begin()),
                     std::make_move_iterator(lines_.end()));
  lines_.clear();
  return taken;
}

void RunDisplay::runStarted() {
  std::lock_guard lock(mutex_);
  pending_.logCleared = true;
  lines_.clear();
  pending_.animation = true;
  pending_.timer = true;
}

void RunDisplay::statusChanged(const std::string& text) {
  std::lock_guard lock(mutex_);
  pending_.label1 = text;
  pending_.progress = true;
}

void RunDisplay::taskStarted(const std::string& path, bool mailTask) {
  std::lock_guard lock(mutex_);
  pending_.gauge.push_back(GaugeOp::Step);
  // The mail task leaves the status text on show.
  if (!mailTask) pending_.label1 = path;
}

void RunDisplay::countersChanged() {
  std::lock_guard lock(mutex_);
  pending_.countersChanged = true;
}

namespace {

bool namesAProblem(const std::string& line) {
  return line.starts_with("ERROR - ") || line.starts_with("AVISO - ");
}

}  // namespace

void RunDisplay::logLine(const std::string& line) {
  std::lock_guard lock(mutex_);
  if (lines_.size() >= kMaxPendingLines) {
    // A failure is never dropped on its way to the log: the oldest ordinary line goes.
    const auto ordinary = std::find_if_not(lines_.begin(), lines_.end(), namesAProblem);
    if (ordinary != lines_.end()) lines_.erase(ordinary);
  }
  lines_.push_back(line);
}

void RunDisplay::runEnded(const RunResult& result) {
  std::lock_guard lock(mutex_);
  pending_.animation = false;
  pending_.gauge.push_back(GaugeOp::Reset);
  pending_.progress = true;
  // After a finished run the timer goes on showing the time since it began; a stopped run,
  // or one that could not begin, leaves it still.
  pending_.timer = result.outcome == RunOutcome::Finished;
  pending_.copyButtonRaised = result.outcome != RunOutcome::Stopped;
}
