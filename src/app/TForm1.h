#pragma once

#include <QMainWindow>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/RunDisplay.h"
#include "app/RunLog.h"
#include "app/StartupOptions.h"
#include "app/TaskListModel.h"
#include "backup/BackupRun.h"
#include "backup/TEstad.h"
#include "backup/TSincronizador.h"
#include "platform/Errors.h"
#include "tasks/TaskSettings.h"

class CopyAnimation;
class Prompts;
class QAction;
class QDialog;
class QLabel;
class QListView;
class LogLines;
class QProgressBar;
class QToolButton;
class WindowMetrics;

// What the main window is built from: where its settings live, how it reads the system
// folders, how it runs the mail task and how it talks to the user.
struct FormDependencies {
  std::string iniPath;
  std::function<std::vector<TaskRow>()> systemFolders;
  MailTask mailTask;
  Prompts* prompts = nullptr;
  // No display: an unattended run reports to standard error instead of opening dialogs.
  bool headless = false;
  // Where an unattended run keeps its log ("" when nowhere is known).
  std::string runLogFolder;
  // Where "Guardar registro..." writes ("" for nowhere); unset asks with the save dialog.
  std::function<std::string()> chooseLogFile;
  // How a run runs; unset is Resguarda.
  std::function<RunResult(const RunSnapshot&, TEstad&, RunObserver&, RunControl&, const MailTask&)>
      runBackup;
  // Shows a settings dialog until it is closed; unset runs it modally.
  std::function<void(QDialog&)> showDialog;
};

// The main window. It wires the widgets to the task list, the run and the worker; the logic
// itself lives in the tasks and backup layers.
class TForm1 : public QMainWindow {
  Q_OBJECT
 public:
  TForm1(const StartupOptions& options, FormDependencies dependencies, QWidget* parent = nullptr);
  ~TForm1() override;

  // Command handlers.
  void CopiarBtClick();
  void RealizarCopiaSeguridad1Click();
  void Timer1Timer();
  void AnyadirBtClick();
  void BorrarBtClick();
  void ToolButton1Click();
  void ToolButton2Click();
  void GuardarCopiadeSeguridaden1Click();
  void Salir1Click();
  void GuardarRegistroClick();
  // The settings beyond the task list, each saved as soon as it changes (RunSettingsCommands.cpp).
  void VersionesAnteriores1Click();
  void Excluir1Click();
  // A run that also checks every current copy against its source, whenever the last check was.
  void ComprobarCopia1Click();
  // The unattended start: presses CopiarBt and starts a run.
  void startUnattended();
  // Stops a run at once, giving up the copy in flight, as closing the window does. A stop
  // signal calls it before the close, so the copy does not go on while the settings save.
  void abandonRun();

  // Saves the settings; false (after telling the user) when they could not be written.
  bool FormCloseQuery();

  const StartupOptions& options() const { return options_; }
  const TaskList& tasks() const { return tasks_; }
  const std::string& dirDestino() const { return DirDestino; }
  const TEstad& estado() const { return Estado; }
  // A run is going on, or has ended without the window having taken its result yet.
  bool runInProgress() const { return runPending_ || Sincronizador.running(); }
  // The outcome of the last run that ended, if any.
  const std::optional<RunResult>& lastResult() const { return lastResult_; }
  bool stoppedByClose() const { return stoppedByClose_; }
  bool settingsUnwritable() const { return settingsUnwritable_; }
  // Why the last unattended run could not run at all; "" when it ran.
  const std::string& runProblem() const { return runProblem_; }
  // Applies what the worker reported so far (during a run the window does this on its own
  // every 50 ms).
  void flushRunDisplay();

 Q_SIGNALS:
  // The window has accepted its close: the program ends, shown or not.
  void closed();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  // The window, one screen region at a time (TForm1Layout.cpp).
  void buildLayout();
  QWidget* buildTopBand(QWidget* parent, const WindowMetrics& m, int& bandWidth);
  QWidget* buildLogPanel(QWidget* parent, const WindowMetrics& m);
  QWidget* buildTaskPanel(QWidget* parent, const WindowMetrics& m, int& panelWidth);
  QWidget* buildToolBar(QWidget* parent, const WindowMetrics& m);
  QWidget* buildGauge(QWidget* parent, const WindowMetrics& m);
  int buildStatusBar(const WindowMetrics& m);
  void buildMenu();
  void buildLogCommands();  // LogCommands.cpp
  void FormCreate();
  void onRunEnded();
  void collectRun();
  void showProgress();
  void applyLoadedSettings(const LoadedSettings& loaded);
  // GuardarTareas with the caption set first, as the documented order has it.
  void saveSettings();
  void guarded(const std::function<void()>& handler);
  RunSnapshot takeSnapshot() const;
  // Runs one of the settings' own saves, writing the task list first where there is no
  // settings file yet (those saves add to a file, never create one).
  void saveRunSetting(const std::function<void(const std::string& iniPath)>& save);
  void showDialog(QDialog& dialog);
  // The commands that start a run are offered only while none is going.
  void runStateChanged();
  // A failure's text for the error box, with the system's reason where only standard error
  // tells.
  std::string boxText(const FailureText& failure) const;

  StartupOptions options_;
  FormDependencies deps_;

  // Widgets, named as the program's documentation names them.
  QToolButton* CopiarBt = nullptr;
  CopyAnimation* Animate1 = nullptr;
  QLabel* EstadoLb = nullptr;
  QLabel* Label1 = nullptr;
  QListView* Memo1 = nullptr;
  QListView* RichEdit1 = nullptr;  // the log, one row a line
  LogLines* logLines_ = nullptr;
  bool logFollows_ = true;  // the log shows its newest line as lines come
  QProgressBar* Gauge1 = nullptr;
  std::vector<QLabel*> statusPanels_;
  QTimer* Timer1 = nullptr;
  QAction* ComprobarCopia1 = nullptr;
  QTimer displayTimer_;

  TaskList tasks_;  // what Memo1 shows: each row's path, text and checked state
  std::unique_ptr<TaskListModel> taskListModel_;  // goes before the list it shows
  std::string DirDestino;
  TEstad Estado;
  RunControl control_;
  RunDisplay display_;
  TSincronizador Sincronizador;
  std::optional<RunResult> lastResult_;
  bool stoppedByClose_ = false;
  bool settingsUnwritable_ = false;
  // The settings could not be loaded at start-up: the file is saved again only once the user
  // has changed the list or the destination, so that an empty list never replaces it.
  bool keepSettingsFile_ = false;
  bool closeQueryInProgress_ = false;
  bool closing_ = false;
  bool runPending_ = false;  // started and not yet collected
  bool forceCheck_ = false;  // the run being started checks the copies
  std::string runProblem_;
  std::unique_ptr<RunLog> runLog_;  // used by the worker while it runs
  RunResult workerResult_;          // written by the worker; read after it has been joined
};
