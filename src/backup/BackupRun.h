#pragma once

#include <functional>
#include <string>
#include <vector>

#include "backup/RunContext.h"

// The task list and destination as they were when the run started: the run never sees
// later edits.
struct RunSnapshot {
  struct Row {
    std::string text;  // the row as the task list shows it
    std::string path;  // the task's folder
    bool checked = false;
    bool mailTask = false;  // the mail extraction task, recognised by its display text
  };
  std::vector<Row> rows;
  std::string dirDestino;  // empty or ending in "/"
  // Where runs take their lock on a destination, one run per destination at a time; "" for
  // no lock.
  std::string stateFolder = {};
  // Beyond the mirror, from the settings; all off by default, and the run is then as it
  // always was.
  bool keepVersions = false;                 // each replaced copy is kept under versiones/
  int versionDays = 0;                       // kept versions older than this go; 0 keeps them
  std::vector<std::string> exclusions = {};  // names and paths never copied nor entered
  int checkDays = 0;        // the copies are checked once the last check is this old; 0 never
  bool forceCheck = false;  // the copies are checked in this run, whatever the last check
};

// The mail extraction task; it reports through the run context and may throw, which ends
// that task alone.
using MailTask = std::function<void(RunContext&)>;

// Resguarda: one backup run over the checked rows of the snapshot, on the calling thread.
// The observer hears of it from runStarted (or, for a run stopped before it began, from its
// status) to runEnded, which always comes last.
RunResult Resguarda(const RunSnapshot& snapshot, TEstad& estado, RunObserver& observer,
                    RunControl& control, const MailTask& mailTask);
