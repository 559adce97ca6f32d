#pragma once

#include <optional>
#include <string>

#include "backup/BackupRun.h"

class TEstad;

// How an unattended program ends: its exit status and the summary line it prints.
struct UnattendedEnd {
  int status = 0;                      // 0 clean, 1 files failed, 2 could not run, 3 stopped
  std::optional<std::string> summary;  // "<status> Actualizados: N Copiados: N Revisados: N"
  std::optional<std::string> check;    // "Comprobados: N Dañados: M", after the summary
};

// "<status> Actualizados: N Copiados: N Revisados: N", the last line of an unattended run.
std::string runSummary(const TEstad& estado);

// "Comprobados: N Dañados: M" when the run checked the copies.
std::optional<std::string> checkSummary(const TEstad& estado);

UnattendedEnd unattendedEnd(const std::optional<RunResult>& lastResult, const TEstad& estado,
                            bool settingsUnwritable, bool signalled);
