#pragma once

#include <memory>
#include <optional>
#include <string>

#include "backup/RunObserver.h"

class ReplaceFile;

// A log line as it may go to a file or a terminal: control characters (a newline in a file
// name, an escape sequence) are written as \xNN, so no name can forge or hide a line.
std::string printableLine(const std::string& line);

// What a run tells, around the window's display. For an unattended run (`echoErrors`) every
// "ERROR - " and "AVISO - " line goes to standard error as it comes, one write per line; every
// line of any run goes to a new file
// in the log folder, which finish() puts in place of ultima-copia.log, the previous one kept
// as ultima-copia.1.log. A folder that cannot be written costs the file only, never the run:
// one line on standard error says so. Used on the worker during the run, then by whoever
// collects the run; never by two threads at once.
class RunLog : public RunObserver {
 public:
  static constexpr const char* kFileName = "ultima-copia.log";
  static constexpr const char* kPreviousFileName = "ultima-copia.1.log";

  // `folder` "" means that there is nowhere to keep the file.
  RunLog(RunObserver& display, const std::string& folder, int errorFd = 2, bool echoErrors = true);
  ~RunLog() override;

  void runStarted() override;
  void statusChanged(const std::string& text) override;
  void taskStarted(const std::string& path, bool mailTask) override;
  void countersChanged() override;
  void logLine(const std::string& line) override;
  void runEnded(const RunResult& result) override;

  // A line of the program's own that the window does not show (why a run could not run).
  void note(const std::string& line);
  // Ends the file with the summary line and puts it in place (the check's line, when there
  // is one, the run has logged already). Once only.
  void finish(const std::optional<std::string>& summary);

 private:
  void toFile(const std::string& line);
  void toErrors(const std::string& line);
  void problem(const std::string& text);

  RunObserver& display_;
  int errorFd_;
  bool echoErrors_;
  std::string folder_;
  std::unique_ptr<ReplaceFile> file_;
  bool problemTold_ = false;
};
