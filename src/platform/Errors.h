#pragma once

#include <exception>
#include <stdexcept>
#include <string>

// How failures travel, in every layer:
// - A failure that names a file is a ResguardaError carrying one of the documented texts
//   ("Cannot open file <path>", "Unable to write to <path>"), built only by the functions
//   below, with the path the log names and the reason in words.
// - errno is read right where the system call that set it is made and becomes a reason there
//   (systemReason); no function hands an errno value on, but thin wrappers of one system call
//   that fail as it does (-1 and errno).
// - An optional is returned only where "absent" is a normal answer; a function never both
//   returns a failure and throws one.
// - Anything caught is turned into words by describeFailure, and nowhere else.

// An error carrying one of the program's documented messages. When a file is involved it
// also keeps the path and the reason, which the run writes as "ERROR - <path>: <reason>".
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

// What anything thrown carries that has no message of its own.
inline constexpr const char* kUnknownError = "error desconocido";

// The system's text for an errno value.
std::string systemReason(int err);

// The documented texts themselves, for errors of a more precise type.
std::string cannotOpenFileText(const std::string& path);
std::string unableToWriteText(const std::string& path);
// A file opened but read only in part.
std::string cannotReadFileText(const std::string& path);

// `logPath` is the path the log line names when it is not the one in the text (a copy that
// cannot be written is logged under its source).
ResguardaError cannotOpenFile(const std::string& path, int err);
ResguardaError cannotOpenFile(const std::string& path, std::string reason);
ResguardaError cannotReadFile(const std::string& path, std::string reason);
ResguardaError unableToWrite(const std::string& path, int err);
ResguardaError unableToWrite(const std::string& path, std::string reason, std::string logPath = {});
// The destination's file system cannot store a file under this name (characters a FAT or
// exFAT disk refuses, a name it cannot encode).
ResguardaError nameNotAccepted(const std::string& path);
// The destination kept neither the time given to a copy nor one older than its source.
ResguardaError timeNotKept(const std::string& path);
ResguardaError invalidDataType(const std::string& valueName);
ResguardaError unknownError(const std::string& path);

// Any failure in words: the message (the exception's text, kUnknownError when it has none),
// and the path and reason it carries (empty when it is not a ResguardaError).
struct FailureText {
  std::string message;
  std::string path;
  std::string reason;

  // The reason when there is one, else the message.
  const std::string& reasonOrMessage() const { return reason.empty() ? message : reason; }
};
FailureText describeFailure(const std::exception& error);
FailureText describeFailure(const std::exception_ptr& error);

// "<message>: <reason>", or the message alone when there is no reason.
std::string withReason(const std::string& message, const std::string& reason);

// "ERROR - <path>: <reason>" for anything thrown; `fallbackPath` when it names no path.
std::string errorLogLine(const std::string& fallbackPath, const std::exception& error);
std::string errorLogLine(const std::string& fallbackPath, const std::exception_ptr& error);
