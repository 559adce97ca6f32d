#pragma once

#include <sys/types.h>

#include <atomic>
#include <exception>
#include <set>
#include <string>
#include <utility>

#include "backup/RunObserver.h"
#include "backup/TEstad.h"

// The go flag: true = go on, false = stop after the file in progress (the user asked to
// stop). `abandon` is raised only when the program closes during a run: the
// copy in flight is then given up at its next buffer.
struct RunControl {
  std::atomic<bool> go{false};
  std::atomic<bool> abandon{false};
};

// Everything a task of a run works with.
struct RunContext {
  TEstad& estado;
  RunObserver& observer;
  RunControl& control;
  // The destination folder in the one form the whole run uses: links resolved, ending in "/".
  // The run fixes it when it starts; nothing changes it afterwards.
  std::string dirDestino;
  int failures = 0;  // files (or mail tasks) that failed; worker thread only
  // Warnings given once per run: the destination keeps no owners or modes; these files
  // (device, inode) are dated in the future.
  bool metadataWarned = false;
  std::set<std::pair<dev_t, ino_t>> futureWarned{};

  bool goOn() const { return control.go.load(std::memory_order_relaxed); }
  // Appends a line to the log; a log that cannot take it never stops the run.
  void log(const std::string& line) noexcept;
  // Logs "ERROR - <path>: <reason>" and counts the failure.
  void fail(const std::string& path, const std::exception& error) noexcept;
  // The same for whatever was caught (`fallbackPath` names it when it names no path).
  void fail(const std::string& fallbackPath, const std::exception_ptr& error) noexcept;
};
