#pragma once

#include <string>

// What a run reports to whoever displays it. The worker calls these on its own thread;
// the window forwards them to the GUI thread. None of them may throw.
class RunObserver {
 public:
  virtual ~RunObserver() = default;

  virtual void logCleared() = 0;
  virtual void logLine(const std::string& line) = 0;
  // Label1: the status text, or the folder task being mirrored.
  virtual void currentItem(const std::string& text) = 0;
  // Panels 1, 3 and 5 show the counters again.
  virtual void countersChanged() = 0;
  // DoProgress: counters, elapsed time and EstadoLb := TextoEstado.
  virtual void progress() = 0;
  virtual void gaugeStep() = 0;
  virtual void gaugeReset() = 0;
  virtual void animation(bool running) = 0;
  virtual void timer(bool enabled) = 0;
  // The run raised CopiarBt by itself (finished, or no destination).
  virtual void copyButtonRaised() = 0;
};

// An observer that ignores everything: for tests and tools.
class NullRunObserver : public RunObserver {
 public:
  void logCleared() override {}
  void logLine(const std::string&) override {}
  void currentItem(const std::string&) override {}
  void countersChanged() override {}
  void progress() override {}
  void gaugeStep() override {}
  void gaugeReset() override {}
  void animation(bool) override {}
  void timer(bool) override {}
  void copyButtonRaised() override {}
};
