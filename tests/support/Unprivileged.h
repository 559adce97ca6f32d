#pragma once

#include <functional>
#include <string>

// Tests run as root in CI, and root ignores permission bits. These run a piece of a test in
// a child process as an ordinary user (nobody), so permission failures really happen.

// Runs body in a forked child without privileges; returns its result, or -1 when the child
// died or could not drop its privileges.
int runUnprivileged(const std::function<int()>& body);

// Lets others into the folders from `root` down to `folder` (0755) and makes `folder`
// itself read-only for them (0555): files inside stay readable, nothing can be created.
void makeReadOnlyForOthers(const std::string& root, const std::string& folder);
