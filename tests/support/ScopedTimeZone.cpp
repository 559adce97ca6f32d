#include "support/ScopedTimeZone.h"

#include <ctime>

ScopedTimeZone::ScopedTimeZone(const char* zone) {
  variable_.emplace("TZ", zone);
  ::tzset();
}

ScopedTimeZone::~ScopedTimeZone() {
  variable_.reset();
  ::tzset();
}
