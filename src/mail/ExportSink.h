#pragma once

#include <exception>
#include <string>

// What the mail export reports to the run that called it. The run's counters, log and
// stop flag stay behind this interface, so the mail layer does not depend on the backup
// layer.
class ExportSink {
 public:
  virtual ~ExportSink() = default;

  // The go flag: false once a stop was requested (tested before every folder and message).
  virtual bool goOn() const = 0;
  // Appends a line to the run log; never throws.
  virtual void logLine(const std::string& line) = 0;
  // Revisados + 1, then the counters are shown again.
  virtual void messageReviewed() = 0;
  // Copiados + 1.
  virtual void attachmentWritten() = 0;
  // A file that could not be written: logs "ERROR - <path>: <reason>" and counts a failure.
  virtual void failed(const std::string& path, const std::exception& error) = 0;
};
