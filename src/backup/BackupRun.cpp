#include "backup/BackupRun.h"

#include <stdexcept>

#include "backup/CopiarCarpeta.h"
#include "backup/DestinationFolder.h"
#include "backup/RunTexts.h"

namespace {

void setStatus(TEstad& estado, RunObserver& observer, const char* text) {
  estado.setTextoEstado(text);
  observer.currentItem(text);
}

void runMailTask(const MailTask& mailTask, const std::string& taskText, RunContext& run) {
  try {
    if (!mailTask) throw std::runtime_error("la extracción de mensajes no está disponible");
    mailTask(run);
  } catch (const std::exception& error) {
    // A failing mail task ends that task alone; the run goes on with the next one.
    run.fail(taskText, error);
  }
}

}  // namespace

RunResult Resguarda(const RunSnapshot& snapshot, TEstad& estado, RunObserver& observer,
                    RunControl& control, const MailTask& mailTask) {
  if (!control.go) {
    setStatus(estado, observer, kDetenido);
    observer.timer(false);
    observer.animation(false);
    return {RunOutcome::Stopped, 0};
  }

  estado.Actualizados = 0;
  estado.Copiados = 0;
  estado.Revisados = 0;
  estado.setInicioCopia(std::chrono::system_clock::now());
  observer.logCleared();

  if (snapshot.dirDestino.empty()) {
    control.go = false;
    observer.copyButtonRaised();
    return {RunOutcome::NoDestination, 0};
  }

  RunContext run{estado, observer, control, snapshot.dirDestino};
  const bool destinationReady = createDestinationFolder(snapshot.dirDestino);
  if (destinationReady) {
    setStatus(estado, observer, kCopiando);
    observer.progress();
    observer.timer(true);
    observer.animation(true);

    const MirrorTask base{{}, FolderIdentity::of(snapshot.dirDestino)};
    for (const RunSnapshot::Row& row : snapshot.rows) {
      if (!row.checked) continue;
      observer.gaugeStep();
      if (row.mailTask) {
        runMailTask(mailTask, row.text, run);
        continue;
      }
      observer.currentItem(row.path);
      // An empty path (a system folder this platform does not have) is no folder at all, and
      // a relative one (from a hand-edited settings file) would depend on the current folder.
      if (row.path.empty() || row.path.front() != '/') continue;
      MirrorTask task = base;
      task.taskRoot = row.path;
      while (task.taskRoot.size() > 1 && task.taskRoot.back() == '/') task.taskRoot.pop_back();
      CopiarCarpeta(task.taskRoot == "/" ? "/" : task.taskRoot + "/", task, run);
    }
  }

  const bool stopped = !control.go;
  if (!stopped) {
    control.go = false;
    observer.copyButtonRaised();
    setStatus(estado, observer, kFinalizado);
  } else {
    setStatus(estado, observer, kDetenido);
    observer.timer(false);
  }
  observer.animation(false);
  observer.gaugeReset();
  observer.progress();

  RunOutcome outcome = RunOutcome::Finished;
  if (stopped)
    outcome = RunOutcome::Stopped;
  else if (!destinationReady)
    outcome = RunOutcome::DestinationNotCreatable;
  return {outcome, run.failures};
}
