#pragma once

#include <functional>

// Runs the event loop until the condition holds; false when it still does not after ten
// seconds (a hang, not a slow machine).
bool waitForEvents(const std::function<bool()>& condition);
