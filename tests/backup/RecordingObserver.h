#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "backup/RunObserver.h"

// Records what a run reports, in order, as short event texts ("log:/a/x", "item:Copiando...").
class RecordingObserver : public RunObserver {
 public:
  void logCleared() override { add("clear"); }
  void logLine(const std::string& line) override { add("log:" + line); }
  void currentItem(const std::string& text) override { add("item:" + text); }
  void countersChanged() override {}
  void progress() override { add("progress"); }
  void gaugeStep() override { add("gauge+"); }
  void gaugeReset() override { add("gauge0"); }
  void animation(bool running) override { add(running ? "anim:on" : "anim:off"); }
  void timer(bool enabled) override { add(enabled ? "timer:on" : "timer:off"); }
  void copyButtonRaised() override { add("raised"); }

  std::vector<std::string> events() const {
    std::lock_guard lock(mutex_);
    return events_;
  }
  std::vector<std::string> logLines() const {
    std::vector<std::string> lines;
    for (const std::string& e : events())
      if (e.rfind("log:", 0) == 0) lines.push_back(e.substr(4));
    return lines;
  }

 private:
  void add(std::string event) {
    std::lock_guard lock(mutex_);
    events_.push_back(std::move(event));
  }
  mutable std::mutex mutex_;
  std::vector<std::string> events_;
};
