#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>

// The one way tests start a child process: to run a program, or to do what a test must not
// do to its own process (drop privileges, lower limits, die in the middle of a write).

// Forks a child that runs `body` and exits with what it returns (1 when it throws); the
// child never returns into the test. Its pid, or -1 when no child could be made.
pid_t startChild(const std::function<int()>& body);

// How a child ended.
struct ChildEnd {
  bool exited = false;  // false: a signal ended it, or there was no child
  int status = -1;      // its exit status, or the signal that ended it
  // As a shell tells it: the exit status, or 128 + the signal.
  int shellCode() const { return exited ? status : 128 + status; }
};

// Waits for a child to end.
ChildEnd waitForChild(pid_t pid);
// Waits at most `limit`; nothing while the child still runs.
std::optional<ChildEnd> waitForChild(pid_t pid, std::chrono::milliseconds limit);

// Ends a child at once and waits for it; nothing when there is none.
void killChild(pid_t pid);

// Starts a child that stops where its body calls `stopHere`, and stays there until killed.
// Its pid once it stopped, or -1 when it ended without stopping.
pid_t startStoppedChild(const std::function<void(const std::function<void()>& stopHere)>& body);

// Runs `body` in a child and returns what it returned, or "" when it died.
std::string runInChild(const std::function<std::string()>& body);

// Gives up the capabilities that let root ignore permission bits (this process only).
void dropPermissionOverride();
