#pragma once

#include <stdexcept>
#include <string>

// An error carrying one of the program's documented messages ("Cannot open file %s", ...).
// When a file is involved it also keeps the path and the system's reason, which the run
// writes as "ERROR - <path>: <reason>".
class ResguardaError : public std::runtime_error {
 public:
  explicit ResguardaError(const std::string& message, std::string path = {},
                          std::string reason = {});

  const std::string& path() const { return path_; }
  const std::string& reason() const { return reason_; }

 private:
  std::string path_;
  std::string reason_;
};

// The system's text for an errno value.
std::string systemReason(int err);

ResguardaError cannotOpenFile(const std::string& path, int err);
ResguardaError unableToWrite(const std::string& path, int err);
// The destination's file system cannot store a file under this name (characters a FAT or
// exFAT disk refuses, a name it cannot encode).
ResguardaError nameNotAccepted(const std::string& path);
// The destination kept neither the time given to a copy nor one older than its source.
ResguardaError timeNotKept(const std::string& path);
ResguardaError invalidDataType(const std::string& valueName);
// Something was thrown that carries no message at all.
ResguardaError unknownError(const std::string& path);

// The path and reason of any exception, for the "ERROR - <path>: <reason>" log line.
std::string errorLogLine(const std::string& fallbackPath, const std::exception& error);
