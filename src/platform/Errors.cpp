#include "platform/Errors.h"

#include <cstring>

ResguardaError::ResguardaError(const std::string& message, std::string path, std::string reason)
    : std::runtime_error(message), path_(std::move(path)), reason_(std::move(reason)) {}

std::string systemReason(int err) {
  char buffer[256];
  // GNU strerror_r returns the text, which may or may not live in the buffer.
  return ::strerror_r(err, buffer, sizeof buffer);
}

std::string cannotOpenFileText(const std::string& path) {
  return "Cannot open file " + path;
}

std::string unableToWriteText(const std::string& path) {
  return "Unable to write to " + path;
}

std::string cannotReadFileText(const std::string& path) {
  return "Cannot read file " + path;
}

ResguardaError cannotReadFile(const std::string& path, std::string reason) {
  return ResguardaError(cannotReadFileText(path), path, std::move(reason));
}

ResguardaError cannotOpenFile(const std::string& path, int err) {
  return cannotOpenFile(path, systemReason(err));
}

ResguardaError cannotOpenFile(const std::string& path, std::string reason) {
  return ResguardaError(cannotOpenFileText(path), path, std::move(reason));
}

ResguardaError unableToWrite(const std::string& path, int err) {
  return unableToWrite(path, systemReason(err));
}

ResguardaError unableToWrite(const std::string& path, std::string reason, std::string logPath) {
  if (logPath.empty()) logPath = path;
  return ResguardaError(unableToWriteText(path), std::move(logPath), std::move(reason));
}

ResguardaError nameNotAccepted(const std::string& path) {
  return unableToWrite(path, "el disco de destino no admite este nombre de archivo");
}

ResguardaError timeNotKept(const std::string& path) {
  return unableToWrite(path, "el disco de destino no guarda la fecha de la copia");
}

ResguardaError invalidDataType(const std::string& valueName) {
  return ResguardaError("Invalid data type for '" + valueName + "'");
}

ResguardaError unknownError(const std::string& path) {
  return ResguardaError(kUnknownError, path, kUnknownError);
}

FailureText describeFailure(const std::exception& error) {
  FailureText text{error.what(), {}, {}};
  if (text.message.empty()) text.message = kUnknownError;
  if (const auto* own = dynamic_cast<const ResguardaError*>(&error)) {
    text.path = own->path();
    text.reason = own->reason();
  }
  return text;
}

FailureText describeFailure(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return describeFailure(e);
  } catch (...) {
    return {kUnknownError, {}, {}};
  }
}

std::string withReason(const std::string& message, const std::string& reason) {
  return reason.empty() ? message : message + ": " + reason;
}

namespace {

std::string logLine(const std::string& fallbackPath, const FailureText& text) {
  return "ERROR - " + (text.path.empty() ? fallbackPath : text.path) + ": " +
         text.reasonOrMessage();
}

}  // namespace

std::string errorLogLine(const std::string& fallbackPath, const std::exception& error) {
  return logLine(fallbackPath, describeFailure(error));
}

std::string errorLogLine(const std::string& fallbackPath, const std::exception_ptr& error) {
  return logLine(fallbackPath, describeFailure(error));
}
