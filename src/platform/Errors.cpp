#include "platform/Errors.h"

#include <cstring>

ResguardaError::ResguardaError(const std::string& message, std::string path, std::string reason)
    : std::runtime_error(message), path_(std::move(path)), reason_(std::move(reason)) {}

std::string systemReason(int err) {
  char buffer[256];
  // GNU strerror_r returns the text, which may or may not live in the buffer.
  return ::strerror_r(err, buffer, sizeof buffer);
}

ResguardaError cannotOpenFile(const std::string& path, int err) {
  return ResguardaError("Cannot open file " + path, path, systemReason(err));
}

ResguardaError unableToWrite(const std::string& path, int err) {
  return ResguardaError("Unable to write to " + path, path, systemReason(err));
}

ResguardaError nameNotAccepted(const std::string& path) {
  return ResguardaError("Unable to write to " + path, path,
                        "el disco de destino no admite este nombre de archivo");
}

ResguardaError timeNotKept(const std::string& path) {
  return ResguardaError("Unable to write to " + path, path,
                        "el disco de destino no guarda la fecha de la copia");
}

ResguardaError invalidDataType(const std::string& valueName) {
  return ResguardaError("Invalid data type for '" + valueName + "'");
}

ResguardaError unknownError(const std::string& path) {
  return ResguardaError("error desconocido", path, "error desconocido");
}

std::string errorLogLine(const std::string& fallbackPath, const std::exception& error) {
  const auto* own = dynamic_cast<const ResguardaError*>(&error);
  const std::string& path = own && !own->path().empty() ? own->path() : fallbackPath;
  const std::string reason = own && !own->reason().empty() ? own->reason() : error.what();
  return "ERROR - " + path + ": " + reason;
}
