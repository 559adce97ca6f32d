#pragma once

#include <optional>

#include "support/ScopedVariable.h"

// Sets TZ for as long as it lives. The C library reads TZ only in tzset(), so that is called
// after setting it and again after the old value is back.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* zone);
  ~ScopedTimeZone();
  ScopedTimeZone(const ScopedTimeZone&) = delete;
  ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

 private:
  std::optional<ScopedVariable> variable_;
};
