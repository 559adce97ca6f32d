#include "backup/RunContext.h"

#include "platform/Errors.h"

void RunContext::log(const std::string& line) noexcept {
  try {
    observer.logLine(line);
  } catch (...) {
    // A full or broken log must not keep files from being copied.
  }
}

void RunContext::fail(const std::string& path, const std::exception& error) noexcept {
  ++failures;
  try {
    log(errorLogLine(path, error));
  } catch (...) {
  }
}

void RunContext::fail(const std::string& fallbackPath, const std::exception_ptr& error) noexcept {
  ++failures;
  try {
    log(errorLogLine(fallbackPath, error));
  } catch (...) {
  }
}
