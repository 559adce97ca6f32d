#pragma once

#include <atomic>
#include <ctime>
#include <memory>
#include <string>

// The check that a backup's copies still hold their sources' bytes.
//
// When COMPROBAR_DIAS is above 0 and checkDue(days, time(nullptr), stateFolder()) says so,
// the walk, right where the update rule calls a copy current, compares it with its source
// (compare on the descriptors it holds): one walk, no second listing or lookup of every
// name, and the source is read as it is copied (links, another owner's rights). Same counts in
// "Comprobados"; SourceChanged counts there too, and nothing else; Different counts in "Dañados"
// too, and the copy is copied again with the documented ERROR line; Unreadable is an ERROR line
// with the path and reason it names; Stopped ends the check like a stop ends a run. A check that
// ran to its end is recorded with recordCheck(stateFolder(), startOfTheCheck).

// The reason of the ERROR line of a copy found damaged and copied again.
inline constexpr const char* kDamagedCopyReason =
    "la copia no coincidía con el original; copiada de nuevo";

// "Comprobados: N Dañados: M", the line a check adds to the run's log.
std::string checkSummaryLine(long long checked, long long damaged);

class CopyChecker {
 public:
  // SourceChanged: the source was written to while it was read, so a difference says nothing
  // about the copy; the update rule takes it at the next run.
  enum class Outcome { Same, Different, SourceChanged, Unreadable, Stopped };
  struct Result {
    Outcome outcome = Outcome::Same;
    std::string path;    // for Unreadable: the file that could not be read
    std::string reason;  // for Unreadable: why
  };

  CopyChecker();
  ~CopyChecker();
  CopyChecker(const CopyChecker&) = delete;
  CopyChecker& operator=(const CopyChecker&) = delete;

  // Compares two open files from their start: the source, opened as the walk copies it (links
  // followed, another owner's with that owner's rights), and its copy, never opened through a
  // link. `go` is read between blocks: false gives Stopped. The paths name the files in a result.
  Result compare(int source, const std::string& sourcePath, int copy, const std::string& copyPath,
                 const std::atomic<bool>& go);

  // Bytes read by each side at once.
  static constexpr size_t kBlock = size_t{1} << 20;

 private:
  std::unique_ptr<char[]> sourceBlock_;
  std::unique_ptr<char[]> copyBlock_;
};

// The file in the state folder that holds when the last complete check began.
inline constexpr const char* kLastCheckFileName = "ultima-comprobacion";

// True when checks are on (days > 0) and none is recorded in `stateFolder`, or the last one
// began `days` calendar days (local time) or more before `now`, or one is dated after `now`
// (a clock set back must not put the check off). With no state folder known, every run checks. Days
// are counted by the calendar, so a daily run at a fixed hour checks every `days` days whatever
// minute it starts.
bool checkDue(int days, time_t now, const std::string& stateFolder);

// Records a check that began at `when`, written whole or not at all. Throws "Unable to write
// to <file>" when the state folder or the file cannot be written.
void recordCheck(const std::string& stateFolder, time_t when);
