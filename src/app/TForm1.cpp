#include "app/TForm1.h"

#include <algorithm>

#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QMenuBar>
#include <QProgressBar>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/CopyAnimation.h"
#include "app/LogLines.h"
#include "app/ResguardaApplication.h"
#include "app/UnattendedEnd.h"
#include "backup/Progress.h"
#include "backup/RunTexts.h"
#include "dialogs/ByteText.h"
#include "dialogs/TAboutBox.h"
#include "platform/Errors.h"
#include "resources/Pictures.h"
#include "tasks/Prompts.h"
#include "tasks/RunSettings.h"
#include "tasks/TaskEditing.h"

namespace {

// Ends a run that something escaping it cut short as a run with one failure: the error is
// logged and the run ends as a finished one (or a stopped one, if it was being stopped), so
// that its end always arrives.
RunResult endCutShortRun(TEstad& estado, RunObserver& observer, RunControl& control,
                         const std::exception_ptr& error) {
  const std::string line = errorLogLine("Resguarda", error);
  const bool stopped = !control.go;
  control.go = false;
  observer.logLine(line);
  const char* status = stopped ? kDetenido : kFinalizado;
  estado.setTextoEstado(status);
  observer.statusChanged(status);
  const RunResult result{stopped ? RunOutcome::Stopped : RunOutcome::Finished, 1};
  observer.runEnded(result);
  return result;
}

}  // namespace

TForm1::TForm1(const StartupOptions& options, FormDependencies dependencies, QWidget* parent)
    : QMainWindow(parent), options_(options), deps_(std::move(dependencies)) {
  setObjectName(QStringLiteral("Form1"));
  buildLayout();
  buildMenu();
  displayTimer_.setInterval(50);
  connect(&displayTimer_, &QTimer::timeout, this, &TForm1::flushRunDisplay);
  FormCreate();
}

TForm1::~TForm1() {
  // The worker must be gone before anything it uses is destroyed.
  control_.go = false;
  control_.abandon = true;
  Sincronizador.join();
}

void TForm1::FormCreate() {
  setWindowTitle(fromUtf8(kCaption));
  try {
    applyLoadedSettings(CargarTareas(deps_.iniPath, tasks_, deps_.systemFolders));
  } catch (const std::exception& error) {
    // Start-up goes on with an empty list; "-hide" is not applied then.
    keepSettingsFile_ = true;
    deps_.prompts->error(boxText(describeFailure(error)));
    return;
  }
}

std::string TForm1::boxText(const FailureText& failure) const {
  // Standard error is all an unattended program without a window has: it gives the system's
  // reason too. The boxes keep their documented texts.
  const bool silent = deps_.headless || options_.Oculto;
  return options_.CerrarAlTerminar && silent ? withReason(failure.message, failure.reason)
                                             : failure.message;
}

void TForm1::applyLoadedSettings(const LoadedSettings& loaded) {
  if (loaded.unreadable) {
    keepSettingsFile_ = true;
    deps_.prompts->error(
        boxText({cannotOpenFileText(deps_.iniPath), deps_.iniPath, loaded.unreadableReason}));
  }
  DirDestino = loaded.dirDestino;
  Gauge1->setRange(0, loaded.gaugeMaximum);
  if (loaded.fromFile) setWindowTitle(fromBytes(captionFor(DirDestino)));
}

void TForm1::guarded(const std::function<void()>& handler) {
  try {
    handler();
  } catch (...) {
    reportCurrentError(deps_.prompts);
  }
}

RunSnapshot TForm1::takeSnapshot() const {
  RunSnapshot snapshot;
  snapshot.dirDestino = DirDestino;
  snapshot.stateFolder = deps_.runLogFolder;
  // Read as the run starts, so that what a dialog saved a moment ago counts.
  const RunSettings settings = loadRunSettings(deps_.iniPath);
  snapshot.keepVersions = settings.versiones;
  snapshot.versionDays = settings.diasVersiones;
  snapshot.exclusions = settings.excluir;
  snapshot.checkDays = settings.comprobarDias;
  snapshot.forceCheck = forceCheck_;
  for (const TaskRow& row : tasks_.rows())
    snapshot.rows.push_back({row.text, row.path, row.checked, row.text == kMailTaskText});
  return snapshot;
}

void TForm1::showProgress() {
  const ProgressTexts texts = DoProgress(Estado, std::chrono::system_clock::now());
  statusPanels_[1]->setText(fromBytes(texts.actualizados));
  statusPanels_[3]->setText(fromBytes(texts.copiados));
  statusPanels_[5]->setText(fromBytes(texts.revisados));
  statusPanels_[6]->setText(fromBytes(texts.elapsed));
  EstadoLb->setText(fromBytes(texts.estado));
}

void TForm1::flushRunDisplay() {
  RunDisplay::Pending pending = display_.take();
  if (pending.empty()) return;
  if (pending.logCleared) logLines_->clear();
  logLines_->append(pending.lines);
  if (pending.label1) Label1->setText(fromBytes(*pending.label1));
  if (pending.countersChanged) {
    statusPanels_[1]->setText(fromBytes(counterPanelText(Estado.Actualizados)));
    statusPanels_[3]->setText(fromBytes(counterPanelText(Estado.Copiados)));
    statusPanels_[5]->setText(fromBytes(counterPanelText(Estado.Revisados)));
  }
  for (RunDisplay::GaugeOp op : pending.gauge) {
    if (op == RunDisplay::GaugeOp::Reset)
      Gauge1->setValue(0);
    else
      Gauge1->setValue(std::min(Gauge1->value() + 1, Gauge1->maximum()));
  }
  if (pending.animation) Animate1->setActive(*pending.animation);
  if (pending.timer) {
    if (*pending.timer)
      Timer1->start();
    else
      Timer1->stop();
  }
  if (pending.copyButtonRaised) CopiarBt->setChecked(false);
  if (pending.progress) showProgress();
}

void TForm1::CopiarBtClick() {
  if (!CopiarBt->isChecked()) {
    // Only a run still going is asked to stop: one that has just ended keeps its
    // "Finalizado." on show.
    if (runInProgress() && control_.go.exchange(false)) Estado.setTextoEstado(kDeteniendo);
    return;
  }
  // One run at a time: a run still going keeps its button down (F10 during a run), one that
  // is still stopping finishes first. The button and the go flag always agree.
  if (runInProgress()) {
    CopiarBt->setChecked(control_.go);
    return;
  }
  stoppedByClose_ = false;
  control_.abandon = false;
  control_.go = true;
  runProblem_.clear();
  const RunSnapshot snapshot = takeSnapshot();
  runLog_.reset();
  // A window run keeps its log too, so that an ERROR line the window has dropped stays
  // within reach; it has no terminal to echo its errors to.
  if (options_.CerrarAlTerminar)
    runLog_ = std::make_unique<RunLog>(display_, deps_.runLogFolder);
  else if (!deps_.runLogFolder.empty())
    runLog_ = std::make_unique<RunLog>(display_, deps_.runLogFolder, 2, false);
  RunObserver* observer = runLog_ ? static_cast<RunObserver*>(runLog_.get()) : &display_;
  runPending_ = true;
  runStateChanged();
  // Only a run has anything to show: an idle window never wakes up for it.
  displayTimer_.start();
  Sincronizador.start(
      [this, snapshot, observer] {
        // Should even the ending below fail, the run still counts as one that failed.
        workerResult_ = {RunOutcome::Finished, 1};
        try {
          workerResult_ =
              deps_.runBackup
                  ? deps_.runBackup(snapshot, Estado, *observer, control_, deps_.mailTask)
                  : Resguarda(snapshot, Estado, *observer, control_, deps_.mailTask);
        } catch (...) {
          workerResult_ = endCutShortRun(Estado, *observer, control_, std::current_exception());
        }
      },
      [this] {
        QMetaObject::invokeMethod(
            this, [this] { onRunEnded(); }, Qt::QueuedConnection);
      });
}

void TForm1::RealizarCopiaSeguridad1Click() {
  if (!CopiarBt->isChecked()) CopiarBt->setChecked(true);
  CopiarBtClick();
}

void TForm1::startUnattended() {
  CopiarBt->setChecked(true);
  CopiarBtClick();
}

// Joins the worker and takes what its run left: its result, its last reports and its log.
void TForm1::collectRun() {
  if (!runPending_) return;
  Sincronizador.join();
  runPending_ = false;
  runStateChanged();
  displayTimer_.stop();
  flushRunDisplay();
  lastResult_ = workerResult_;
  // Whatever the run reported, it is over: the window is idle again.
  CopiarBt->setChecked(false);
  Animate1->setActive(false);
  if (options_.CerrarAlTerminar) {
    if (lastResult_->outcome == RunOutcome::NoDestination)
      runProblem_ = "No hay carpeta de destino: elija una con la ventana de Resguarda";
    else if (lastResult_->outcome == RunOutcome::DestinationNotCreatable)
      runProblem_ = Estado.TextoEstado();  // the reason, as the run put it
  }
  // The log belongs to the run going on to the same destination: this one leaves it alone
  // and says why on standard error only.
  if (runLog_ && lastResult_->outcome == RunOutcome::DestinationNotCreatable &&
      Estado.TextoEstado().starts_with(kCopiaEnCurso))
    runLog_.reset();
  // A window without a destination asks for one: nothing ran, and the last run's log stays.
  if (runLog_ && lastResult_->outcome == RunOutcome::NoDestination && !options_.CerrarAlTerminar)
    runLog_.reset();
  if (runLog_) {
    // A run that could not use its destination has logged why itself.
    if (lastResult_->outcome == RunOutcome::NoDestination) runLog_->note("ERROR - " + runProblem_);
    const UnattendedEnd end = unattendedEnd(lastResult_, Estado, false, false);
    runLog_->finish(end.summary);
    runLog_.reset();
  }
}

void TForm1::onRunEnded() {
  if (!runPending_) return;  // the close has taken the run already
  collectRun();
  if (closing_) return;
  const RunResult result = *lastResult_;
  const bool silent = deps_.headless || options_.Oculto;
  switch (result.outcome) {
    case RunOutcome::NoDestination:
      if (options_.CerrarAlTerminar && silent) {
        deps_.prompts->error(runProblem_);
        close();
      } else {
        guarded([this] { GuardarCopiadeSeguridaden1Click(); });
      }
      break;
    case RunOutcome::DestinationNotCreatable:
      // Its "ERROR - " line has gone to standard error already where no box can be shown.
      if (!(options_.CerrarAlTerminar && silent)) deps_.prompts->error(Estado.TextoEstado());
      if (options_.CerrarAlTerminar) close();
      break;
    case RunOutcome::Finished:
      // An unattended program need not wait up to a second for the timer's next tick.
      if (options_.CerrarAlTerminar) Timer1Timer();
      break;
    case RunOutcome::Stopped:
      break;
  }
}

void TForm1::Timer1Timer() {
  if (closing_) return;
  showProgress();
  // An unattended program ends once its run has finished.
  if (options_.CerrarAlTerminar && !runInProgress() && lastResult_ &&
      lastResult_->outcome == RunOutcome::Finished)
    close();
}

void TForm1::AnyadirBtClick() {
  if (addFolder(tasks_, *deps_.prompts)) saveSettings();
}

void TForm1::BorrarBtClick() {
  int selected = Memo1->currentIndex().row();
  const bool removed = removeSelectedFolder(tasks_, selected, *deps_.prompts);
  // The selection moves to the row the command looked at, as the user saw it asked about.
  if (!removed && selected >= 0) Memo1->setCurrentIndex(taskListModel_->index(selected));
  if (removed) saveSettings();
}

void TForm1::ToolButton1Click() {
  checkAll(tasks_, true);
}

void TForm1::ToolButton2Click() {
  checkAll(tasks_, false);
}

void TForm1::GuardarCopiadeSeguridaden1Click() {
  if (chooseDestination(DirDestino, *deps_.prompts)) saveSettings();
}

void TForm1::Salir1Click() {
  close();
}

void TForm1::saveSettings() {
  DirDestino = normalDirDestino(DirDestino);
  setWindowTitle(fromBytes(captionFor(DirDestino)));
  GuardarTareas(deps_.iniPath, tasks_, DirDestino);
  keepSettingsFile_ = false;
}

bool TForm1::FormCloseQuery() {
  if (keepSettingsFile_) return true;
  try {
    saveSettings();
    return true;
  } catch (const std::exception& error) {
    deps_.prompts->error(boxText(describeFailure(error)));
    return false;
  }
}

void TForm1::abandonRun() {
  CopiarBt->setChecked(false);
  control_.go = false;
  if (Sincronizador.running()) {
    // The copy in flight is given up at its next buffer.
    control_.abandon = true;
    stoppedByClose_ = true;
  }
}

void TForm1::closeEvent(QCloseEvent* event) {
  // A second close (a signal during the first one's save or its error box) has nothing left
  // to do: the settings are saved once.
  if (closing_) {
    event->accept();
    return;
  }
  if (closeQueryInProgress_) {
    event->ignore();
    return;
  }
  closeQueryInProgress_ = true;
  settingsUnwritable_ = !FormCloseQuery();
  closeQueryInProgress_ = false;
  if (settingsUnwritable_) {
    // An unattended run cannot wait for someone to free the settings file.
    if (!options_.CerrarAlTerminar) {
      event->ignore();
      return;
    }
  }
  abandonRun();
  // Also a run that has just ended: its result must not wait for an event that never comes.
  collectRun();
  closing_ = true;
  flushRunDisplay();
  Timer1->stop();
  displayTimer_.stop();
  event->accept();
  Q_EMIT closed();
}
