#include "app/RunDisplay.h"

bool RunDisplay::Pending::empty() const {
  return !logCleared && lines.empty() && !currentItem && !countersChanged && !progress &&
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

void RunDisplay::logCleared() {
  std::lock_guard lock(mutex_);
  pending_.logCleared = true;
  lines_.clear();
}

void RunDisplay::logLine(const std::string& line) {
  std::lock_guard lock(mutex_);
  if (lines_.size() >= kMaxPendingLines) lines_.pop_front();
  lines_.push_back(line);
}

void RunDisplay::currentItem(const std::string& text) {
  std::lock_guard lock(mutex_);
  pending_.currentItem = text;
}

void RunDisplay::countersChanged() {
  std::lock_guard lock(mutex_);
  pending_.countersChanged = true;
}

void RunDisplay::progress() {
  std::lock_guard lock(mutex_);
  pending_.progress = true;
}

void RunDisplay::gaugeStep() {
  std::lock_guard lock(mutex_);
  pending_.gauge.push_back(GaugeOp::Step);
}

void RunDisplay::gaugeReset() {
  std::lock_guard lock(mutex_);
  pending_.gauge.push_back(GaugeOp::Reset);
}

void RunDisplay::animation(bool running) {
  std::lock_guard lock(mutex_);
  pending_.animation = running;
}

void RunDisplay::timer(bool enabled) {
  std::lock_guard lock(mutex_);
  pending_.timer = enabled;
}

void RunDisplay::copyButtonRaised() {
  std::lock_guard lock(mutex_);
  pending_.copyButtonRaised = true;
}
