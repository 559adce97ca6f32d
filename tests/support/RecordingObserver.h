#pragma once

#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "backup/RunObserver.h"

// Records what a run reports, in order, as short event texts ("start", "status:Copiando...",
// "task:/a", "mail", "log:<line>", "end:Finished/0"); `lines` keeps the log lines alone and
// `refreshes` counts the counters' changes. A test can act on every line (`onLine`) or make
// every line fail (`logFull`).
class RecordingObserver : public RunObserver {
 public:
  void runStarted() override { add("start"); }
  void statusChanged(const std::string& text) override { add("status:" + text); }
  void taskStarted(const std::string& path, bool mailTask) override {
    add(mailTask ? "mail" : "task:" + path);
  }
  void countersChanged() override {
    std::lock_guard lock(mutex_);
    ++refreshes;
  }
  void logLine(const std::string& line) override {
    {
      std::lock_guard lock(mutex_);
      events_.push_back("log:" + line);
      lines.push_back(line);
    }
    if (onLine) onLine(line);
    if (logFull) throw std::runtime_error("log full");
  }
  void runEnded(const RunResult& result) override {
    add("end:" + std::string(outcomeName(result.outcome)) + "/" + std::to_string(result.failures));
  }

  static const char* outcomeName(RunOutcome outcome) {
    switch (outcome) {
      case RunOutcome::Finished:
        return "Finished";
      case RunOutcome::Stopped:
        return "Stopped";
      case RunOutcome::NoDestination:
        return "NoDestination";
      case RunOutcome::DestinationNotCreatable:
        return "DestinationNotCreatable";
    }
    return "?";
  }

  std::vector<std::string> events() const {
    std::lock_guard lock(mutex_);
    return events_;
  }
  std::vector<std::string> logLines() const {
    std::lock_guard lock(mutex_);
    return lines;
  }

  // Read once the run is over (or use logLines() while it goes on).
  std::vector<std::string> lines;
  int refreshes = 0;
  std::function<void(const std::string&)> onLine;
  bool logFull = false;

 private:
  void add(std::string event) {
    std::lock_guard lock(mutex_);
    events_.push_back(std::move(event));
  }
  mutable std::mutex mutex_;
  std::vector<std::string> events_;
};
