#pragma once

#include <functional>
#include <string>

// Runs `body` in a forked child and returns what it returned, or "" when it died.
// For what a test must not do to its own process: drop privileges, lower limits.
std::string runInChild(const std::function<std::string()>& body);

// Gives up the capabilities that let root ignore permission bits (this process only).
void dropPermissionOverride();
