#include "backup/BackupRun.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>
#include <vector>

#include "backup/CopiarCarpeta.h"
#include "backup/CopyFiles.h"
#include "backup/RunTexts.h"
#include "platform/DestinationFolder.h"
#include "platform/Errors.h"
#include "platform/FolderChain.h"
#include "platform/PathText.h"

namespace {

void setStatus(TEstad& estado, RunObserver& observer, const char* text) {
  estado.setTextoEstado(text);
  observer.statusChanged(text);
}

void runMailTask(const MailTask& mailTask, const std::string& taskText, RunContext& run) {
  try {
    if (!mailTask) throw std::runtime_error("la extracción de mensajes no está disponible");
    mailTask(run);
  } catch (const std::exception& error) {
    // A failing mail task ends that task alone; the run goes on with the next one.
    run.fail(taskText, error);
  } catch (...) {
    run.fail(taskText, unknownError(taskText));
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
// stored backups has always been: the user is told at the start of every such run.
void warnSharedDestinations(const RunSnapshot& snapshot, RunContext& run) {
  std::vector<const RunSnapshot::Row*> seen;
  const bool mailChecked =
      std::any_of(snapshot.rows.begin(), snapshot.rows.end(),
                  [](const RunSnapshot::Row& row) { return row.checked && row.mailTask; });
  for (const RunSnapshot::Row& row : snapshot.rows) {
    if (!row.checked || row.mailTask || row.path.empty() || row.path.front() != '/') continue;
    const std::string name = destinationName(row.path);
    if (name.empty()) continue;
    for (const RunSnapshot::Row* earlier : seen) {
      if (destinationName(earlier->path) != name || earlier->path == row.path) continue;
      run.log("AVISO - Las carpetas " + earlier->path + " y " + row.path +
              " se copian en la misma carpeta " + run.dirDestino + name +
              ": los archivos con el mismo nombre no se guardan por separado");
      break;
    }
    if (mailChecked && (name == kMailFolder || name == kAttachmentFolder))
      run.log("AVISO - La carpeta " + row.path + " se copia en " + run.dirDestino + name +
              ", donde también se guardan los mensajes de correo extraídos");
    seen.push_back(&row);
  }
}

// "Finalizado." is shown once the copies are on the disk, so that it can be unplugged.
void flushDestination(RunContext& run) {
  const int fd = ::open(run.dirDestino.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  if (::syncfs(fd) != 0) run.fail(run.dirDestino, unableToWrite(run.dirDestino, errno));
  ::close(fd);
}

void carryOutTasks(const RunSnapshot& snapshot, RunContext& run, const MailTask& mailTask) {
  warnSharedDestinations(snapshot, run);
  const MirrorTask base{{}, FolderIdentity::of(run.dirDestino)};
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
    try {
      MirrorTask task = base;
      task.taskRoot = withoutTrailingSlash(row.path);
      CopiarCarpeta(task.taskRoot == "/" ? "/" : task.taskRoot + "/", task, run);
    } catch (const std::exception& error) {
      run.fail(row.path, error);
    }
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
  estado.setInicioCopia(std::chrono::system_clock::now());
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
  // Temporaries that a killed copy left behind, and only those, go before anything else.
  FileCopier::removeRecordedLeftovers();
  RunContext run{estado, observer, control,
                 resolved.empty()  ? snapshot.dirDestino
                 : resolved == "/" ? resolved
                                   : resolved + "/"};
  const bool destinationReady = createDestinationFolder(run.dirDestino);
  if (destinationReady) {
    setStatus(estado, observer, kCopiando);
    try {
      carryOutTasks(snapshot, run, mailTask);
    } catch (const std::exception& error) {
      // Whatever goes wrong, the run still ends and says so.
      run.fail(run.dirDestino, error);
    } catch (...) {
      run.fail(run.dirDestino, unknownError(run.dirDestino));
    }
    if (!control.abandon && estado.Copiados + estado.Actualizados > 0) flushDestination(run);
  }

  RunResult result{RunOutcome::Finished, run.failures};
  if (!control.go) {
    result.outcome = RunOutcome::Stopped;
    setStatus(estado, observer, kDetenido);
  } else {
    control.go = false;
    if (!destinationReady) result.outcome = RunOutcome::DestinationNotCreatable;
    setStatus(estado, observer, kFinalizado);
  }
  observer.runEnded(result);
  return result;
}
