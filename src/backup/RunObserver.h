#pragma once

#include <string>

enum class RunOutcome {
  Finished,                 // "Finalizado."
  Stopped,                  // "Detenido."
  NoDestination,            // nothing ran; the destination has to be chosen
  DestinationNotCreatable,  // nothing ran: the destination could not be used (the status says why)
};

struct RunResult {
  RunOutcome outcome = RunOutcome::Finished;
  int failures = 0;
};

// What a run tells whoever follows it, in the run's own terms; how it is shown is the
// follower's business. The worker calls these on its own thread. None of them may throw,
// except logLine, whose failure the run survives.
class RunObserver {
 public:
  virtual ~RunObserver() = default;

  // A run has begun: its counters are at zero and its log starts afresh.
  virtual void runStarted() = 0;
  // The run's status text (TEstad::TextoEstado) is now `text`.
  virtual void statusChanged(const std::string& text) = 0;
  // A checked task begins: the folder `path` is mirrored, or the mail task runs.
  virtual void taskStarted(const std::string& path, bool mailTask) = 0;
  // The counters of TEstad have moved.
  virtual void countersChanged() = 0;
  virtual void logLine(const std::string& line) = 0;
  // The run is over; nothing more comes from it.
  virtual void runEnded(const RunResult& result) = 0;
};

// An observer that ignores everything: for tests and tools.
class NullRunObserver : public RunObserver {
 public:
  void runStarted() override {}
  void statusChanged(const std::string&) override {}
  void taskStarted(const std::string&, bool) override {}
  void countersChanged() override {}
  void logLine(const std::string&) override {}
  void runEnded(const RunResult&) override {}
};
