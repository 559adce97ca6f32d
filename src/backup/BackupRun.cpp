#include "backup/BackupRun.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <stdexcept>
#include <unordered_map>
#include <vector>

#include "backup/CopiarCarpeta.h"
#include "backup/CopyCheck.h"
#include "backup/CopyFiles.h"
#include "backup/Exclusions.h"
#include "backup/RunTexts.h"
#include "backup/VersionStore.h"
#include "platform/DestinationFolder.h"
#include "platform/Errors.h"
#include "platform/FolderChain.h"
#include "platform/PathText.h"
#include "platform/RunLock.h"

namespace {

void setStatus(TEstad& estado, RunObserver& observer, const char* text) {
  estado.setTextoEstado(text);
  observer.statusChanged(text);
}

void runMailTask(const MailTask& mailTask, const std::string& taskText, RunContext& run) {
  try {
    if (!mailTask) throw std::runtime_error("la extracción de mensajes no está disponible");
    mailTask(run);
  } catch (...) {
    // A failing mail task ends that task alone; the run goes on with the next one.
    run.fail(taskText, std::current_exception());
  }
}

// The last folder name of a task: its folder's name inside the destination.
std::string destinationName(const std::string& path) {
  std::string name = withoutTrailingSlash(path);
  const std::size_t slash = name.find_last_of('/');
  name.erase(0, slash == std::string::npos ? 0 : slash + 1);
  return name == "." || name == ".." ? std::string() : name;
}

// Tasks whose folders share a name are merged in one destination folder, as the layout of
// stored backups has always been: the user is told at the start of every such run. Names
// that differ only by case are one folder on the disks most people back up to (FAT, exFAT).
// Each row is told of the earliest row before it with that name and another path.
void warnSharedDestinations(const RunSnapshot& snapshot, RunContext& run) {
  // The first row of each name, and the first one after it with another path.
  struct Earlier {
    const RunSnapshot::Row* first = nullptr;
    const RunSnapshot::Row* otherPath = nullptr;
  };
  std::unordered_map<std::string, Earlier> byName;
  const bool mailChecked =
      std::any_of(snapshot.rows.begin(), snapshot.rows.end(),
                  [](const RunSnapshot::Row& row) { return row.checked && row.mailTask; });
  for (const RunSnapshot::Row& row : snapshot.rows) {
    if (!row.checked || row.mailTask || row.path.empty() || row.path.front() != '/') continue;
    const std::string name = destinationName(row.path);
    if (name.empty()) continue;
    Earlier& earlier = byName[asciiLower(name)];
    if (!earlier.first) {
      earlier.first = &row;
    } else {
      const RunSnapshot::Row* shared =
          earlier.first->path != row.path ? earlier.first : earlier.otherPath;
      if (shared)
        run.log("AVISO - Las carpetas " + shared->path + " y " + row.path +
                " se copian en la misma carpeta " + run.dirDestino +
                destinationName(earlier.first->path) +
                ": los archivos con el mismo nombre no se guardan por separado");
      if (!earlier.otherPath && earlier.first->path != row.path) earlier.otherPath = &row;
    }
    if (mailChecked && (asciiLower(name) == kMailFolder || asciiLower(name) == kAttachmentFolder))
      run.log("AVISO - La carpeta " + row.path + " se copia en " + run.dirDestino + name +
              ", donde también se guardan los mensajes de correo extraídos");
    // Only a run that keeps versions writes to versiones/; in any other the folder is the
    // task's alone.
    if (snapshot.keepVersions && asciiLower(name) == kVersionsFolder)
      run.log("AVISO - La carpeta " + row.path + " se copia en " + run.dirDestino + name +
              ", donde también se guardan las versiones anteriores de los archivos");
  }
}

// The reason a destination folder could not be made, in the user's words.
std::string folderReason(int err) {
  switch (err) {
    case ENOENT:
      return "no existe la carpeta que la contiene";
    case ENOTDIR:
      return "una parte de la ruta es un archivo, no una carpeta";
    case EACCES:
    case EPERM:
      return "no hay permiso para crearla";
    case EROFS:
      return "el disco es de solo lectura";
    case ENOSPC:
    case EDQUOT:
      return "el disco está lleno";
    case ELOOP:
      return "la ruta tiene demasiados enlaces simbólicos";
    case EILSEQ:
      return "el disco no admite el nombre de la carpeta";
    case ENAMETOOLONG:
      return "la ruta es demasiado larga";
    default:
      return systemReason(err);
  }
}

void logLine(RunObserver& observer, const std::string& line) noexcept {
  try {
    observer.logLine(line);
  } catch (...) {
    // The run's end says it all the same.
  }
}

// Why the run cannot use its destination, "" when it can. The folder is made here, and the
// lock is taken before anything is written.
std::string prepareDestination(const RunSnapshot& snapshot, const std::string& resolved,
                               RunLock& lock, RunLock& folderLock) {
  const std::string shown = withoutTrailingSlash(snapshot.dirDestino);
  // A hand-edited settings file may hold one; it would depend on the current folder.
  if (snapshot.dirDestino.front() != '/')
    return "La carpeta de destino " + shown +
           " no es una ruta completa: tiene que empezar por \"/\"";
  if (resolved.empty())
    return "No se puede crear la carpeta de destino " + shown + ": " + folderReason(ENOENT);
  // Nothing may land on the system disk in place of a disk that is not plugged in.
  if (destinationDiskMissing(resolved)) return "El disco de destino no está conectado: " + shown;
  lock = RunLock::take(snapshot.stateFolder, resolved);
  if (lock.state() == RunLock::State::Busy) return kCopiaEnCurso + shown;

  // Temporaries that a killed copy left behind, and only those, go before anything else.
  FileCopier::removeRecordedLeftovers();
  if (const int err = createDestinationFolder(resolved))
    return "No se puede crear la carpeta de destino " + shown + ": " + folderReason(err);
  // Runs without a state folder in common (another user's, a linked one) meet at the folder.
  folderLock = RunLock::onFolder(resolved);
  if (folderLock.state() == RunLock::State::Busy) return kCopiaEnCurso + shown;
  if (destinationReadOnly(resolved) != 0)
    return "No se puede escribir en la carpeta de destino " + shown + ": " + folderReason(EROFS);
  return {};
}

// "Finalizado." is shown once the copies are on the disk, so that it can be unplugged.
void flushDestination(RunContext& run) {
  const int fd = ::open(run.dirDestino.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  if (::syncfs(fd) != 0) run.fail(run.dirDestino, unableToWrite(run.dirDestino, errno));
  ::close(fd);
}

// What a run does beyond the mirror, each part made only when its setting asks for it.
struct Beyond {
  time_t start;
  bool check;
  std::optional<VersionStore> versions = {};
  Exclusions exclusions = {};
  std::optional<CopyChecker> checker = {};
};

void carryOutTasks(const RunSnapshot& snapshot, RunContext& run, const MailTask& mailTask,
                   Beyond& beyond) {
  if (snapshot.versionDays > 0)
    for (const VersionProblem& problem :
         pruneVersions(run.dirDestino, snapshot.versionDays, beyond.start))
      run.fail(problem.path, unableToWrite(problem.path, problem.reason));
  warnSharedDestinations(snapshot, run);
  if (snapshot.keepVersions) beyond.versions.emplace(run.dirDestino, beyond.start);
  if (!snapshot.exclusions.empty()) beyond.exclusions = Exclusions(snapshot.exclusions);
  if (beyond.check) beyond.checker.emplace();
  MirrorTask base{{}, FileIdentity::ofFolder(run.dirDestino)};
  base.versions = beyond.versions ? &*beyond.versions : nullptr;
  base.exclusions = &beyond.exclusions;
  base.checker = beyond.checker ? &*beyond.checker : nullptr;
  for (const RunSnapshot::Row& row : snapshot.rows) {
    if (!row.checked) continue;
    run.observer.taskStarted(row.path, row.mailTask);
    if (row.mailTask) {
      runMailTask(mailTask, row.text, run);
      continue;
    }
    // An empty path (a system folder this platform does not have) is no folder at all, and
    // a relative one (from a hand-edited settings file) would depend on the current folder.
    if (row.path.empty() || row.path.front() != '/') continue;
    MirrorTask task = base;
    task.taskRoot = withoutTrailingSlash(row.path);
    CopiarCarpeta(task, run);
  }
}

// A check that ran to its end says what it found and is recorded, so that the next one is
// due in COMPROBAR_DIAS days. A record that cannot be written is an ERROR: every later run
// would check again, at the cost of reading the whole backup, until the user mends it.
void endCheck(const RunSnapshot& snapshot, RunContext& run, time_t start) {
  run.log(checkSummaryLine(run.estado.Comprobados, run.estado.Danados));
  // Without a state folder (tools, tests) there is nowhere to record it, and every run checks.
  if (snapshot.stateFolder.empty()) return;
  try {
    recordCheck(snapshot.stateFolder, start);
  } catch (...) {
    run.fail(joinPath(snapshot.stateFolder, kLastCheckFileName), std::current_exception());
  }
}

}  // namespace

RunResult Resguarda(const RunSnapshot& snapshot, TEstad& estado, RunObserver& observer,
                    RunControl& control, const MailTask& mailTask) {
  if (!control.go) {
    setStatus(estado, observer, kDetenido);
    const RunResult stopped{RunOutcome::Stopped, 0};
    observer.runEnded(stopped);
    return stopped;
  }

  estado.Actualizados = 0;
  estado.Copiados = 0;
  estado.Revisados = 0;
  estado.Comprobando = false;
  estado.Comprobados = 0;
  estado.Danados = 0;
  const auto now = std::chrono::system_clock::now();
  estado.setInicioCopia(now);
  Beyond beyond{std::chrono::system_clock::to_time_t(now), false};
  // A check is due by the last one recorded; absent the setting, never.
  beyond.check =
      snapshot.forceCheck || checkDue(snapshot.checkDays, beyond.start, snapshot.stateFolder);
  estado.Comprobando = beyond.check;
  observer.runStarted();

  if (snapshot.dirDestino.empty()) {
    control.go = false;
    const RunResult noDestination{RunOutcome::NoDestination, 0};
    observer.runEnded(noDestination);
    return noDestination;
  }

  // Links, "." and ".." in the destination are resolved once: the whole run writes to the
  // folder they led to at its start, and the guard for unmounted disks sees the real place.
  const std::string resolved = resolveFolderPath(snapshot.dirDestino);
  RunLock lock, folderLock;  // held until the run has ended
  const std::string problem = prepareDestination(snapshot, resolved, lock, folderLock);
  if (!problem.empty()) {
    logLine(observer, "ERROR - " + problem);
    control.go = false;
    setStatus(estado, observer, problem.c_str());
    const RunResult notRun{RunOutcome::DestinationNotCreatable, 0};
    observer.runEnded(notRun);
    return notRun;
  }

  // The destination's one form for the whole run, its tasks and the mail export alike.
  RunContext run{estado, observer, control, withTrailingSlash(resolved)};
  setStatus(estado, observer, kCopiando);
  try {
    carryOutTasks(snapshot, run, mailTask, beyond);
  } catch (...) {
    // Whatever goes wrong, the run still ends and says so.
    run.fail(run.dirDestino, std::current_exception());
  }
  // Repaired copies count in Dañados alone.
  if (!control.abandon && estado.Copiados + estado.Actualizados + estado.Danados > 0)
    flushDestination(run);
  if (beyond.check && control.go) endCheck(snapshot, run, beyond.start);

  RunResult result{RunOutcome::Finished, run.failures};
  if (!control.go) {
    result.outcome = RunOutcome::Stopped;
    setStatus(estado, observer, kDetenido);
  } else {
    control.go = false;
    setStatus(estado, observer, kFinalizado);
  }
  observer.runEnded(result);
  return result;
}
