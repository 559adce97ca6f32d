#include "app/LogLines.h"
#include "app/TForm1.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QListView>
#include <QProgressBar>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>
#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

#include <sys/stat.h>

#include "platform/Errors.h"
#include "support/EventLoopWait.h"
#include "support/FakePrompts.h"
#include "support/FirstRunRows.h"
#include "support/TempTree.h"

namespace {

constexpr time_t kOld = 1600000000;

class FormTest : public ::testing::Test {
 protected:
  std::unique_ptr<TForm1> makeForm(StartupOptions options = {}, MailTask mail = {}) {
    FormDependencies deps;
    deps.iniPath = ini;
    deps.systemFolders = firstRunRows;
    deps.mailTask = std::move(mail);
    deps.prompts = &prompts;
    deps.runLogFolder = logFolder;
    return std::make_unique<TForm1>(options, std::move(deps));
  }

  template <typename T>
  static T* child(TForm1& form, const char* name) {
    T* found = form.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(found, nullptr) << name;
    return found;
  }
  static QString text(TForm1& form, const char* name) { return child<QLabel>(form, name)->text(); }
  static QString logText(TForm1& form) {
    return qobject_cast<LogLines*>(child<QListView>(form, "RichEdit1")->model())->text();
  }

  // Lets the event loop run until the condition holds (or a few seconds pass).
  static bool waitFor(const std::function<bool()>& condition) { return waitForEvents(condition); }
  static bool waitForRunEnd(TForm1& form) {
    return waitFor([&] { return form.lastResult().has_value() && !form.runInProgress(); });
  }

  TempTree tree;
  std::string ini = tree.path("Resguarda.ini");
  std::string logFolder = tree.path("state/resguarda");
  FakePrompts prompts;
};

}  // namespace

TEST_F(FormTest, AClickRunsTheTasksAndTheRunRaisesTheButtonAtTheEnd) {
  tree.write("src/a.txt", "a", kOld);
  tree.write("src/b/c.txt", "c", kOld);
  tree.write("Resguarda.ini", "[CONFIGURACION]\nDIR_DESTINO=" + tree.path("dest") +
                                  "\n[TAREAS]\n0=1 " + tree.path("src") + "\n");
  auto form = makeForm();
  EXPECT_EQ(form->windowTitle().toStdString(), "Resguarda v3.0 - " + tree.path("dest/"));
  EXPECT_EQ(child<QProgressBar>(*form, "Gauge1")->maximum(), 2);
  EXPECT_EQ(text(*form, "StatusPanel6"), " 0:00:00");

  child<QToolButton>(*form, "CopiarBt")->click();
  ASSERT_TRUE(waitForRunEnd(*form));
  form->flushRunDisplay();
  EXPECT_EQ(form->lastResult()->outcome, RunOutcome::Finished);
  EXPECT_FALSE(child<QToolButton>(*form, "CopiarBt")->isChecked());
  EXPECT_EQ(text(*form, "Label1"), "Finalizado.");
  EXPECT_EQ(text(*form, "EstadoLb"), "Finalizado.");
  EXPECT_EQ(text(*form, "StatusPanel3"), " 2");
  EXPECT_EQ(text(*form, "StatusPanel5"), " 2");
  EXPECT_EQ(child<QProgressBar>(*form, "Gauge1")->value(), 0);
  const QString log = logText(*form);
  EXPECT_TRUE(log.contains(QString::fromStdString(tree.path("src/b/c.txt")))) << log.toStdString();
  EXPECT_EQ(TempTree::files(tree.path("dest")),
            (std::vector<std::string>{"src/a.txt", "src/b/c.txt"}));

  // A finished run leaves the timer going; an interactive window stays open.
  EXPECT_TRUE(form->findChild<QTimer*>("Timer1")->isActive());
  form->Timer1Timer();
  EXPECT_FALSE(form->lastResult()->failures);
}

TEST_F(FormTest, RaisingTheButtonStopsTheRunAndAStoppingRunIsNotStartedTwice) {
  tree.write("Resguarda.ini", "[CONFIGURACION]\nDIR_DESTINO=" + tree.path("dest") +
                                  "\n[TAREAS]\n0=1 " + kMail + "\n");
  std::atomic<bool> entered{false}, release{false};
  std::atomic<int> runs{0};
  auto form = makeForm({}, [&](RunContext& run) {
    ++runs;
    entered = true;
    while (run.goOn()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  });
  auto* button = child<QToolButton>(*form, "CopiarBt");
  button->click();
  ASSERT_TRUE(waitFor([&] { return entered.load(); }));
  button->click();  // raised: a stop request
  form->Timer1Timer();
  EXPECT_EQ(text(*form, "EstadoLb").toStdString(),
            "Deteniendo... por favor espere a que se copie este archivo.");
  button->click();  // pressed again while the run is still stopping
  EXPECT_FALSE(button->isChecked());
  release = true;
  ASSERT_TRUE(waitForRunEnd(*form));
  form->flushRunDisplay();
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(form->lastResult()->outcome, RunOutcome::Stopped);
  EXPECT_EQ(text(*form, "Label1"), "Detenido.");
  EXPECT_FALSE(form->findChild<QTimer*>("Timer1")->isActive());
}

TEST_F(FormTest, F10DuringARunLeavesItGoingWithItsButtonDown) {
  tree.write("Resguarda.ini", "[CONFIGURACION]\nDIR_DESTINO=" + tree.path("dest") +
                                  "\n[TAREAS]\n0=1 " + kMail + "\n");
  std::atomic<bool> entered{false}, release{false};
  auto form = makeForm({}, [&](RunContext&) {
    entered = true;
    while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  });
  auto* button = child<QToolButton>(*form, "CopiarBt");
  button->click();
  ASSERT_TRUE(waitFor([&] { return entered.load(); }));
  form->findChild<QAction*>("RealizarCopiaSeguridad1")->trigger();
  EXPECT_TRUE(button->isChecked());
  // The button still stops the run.
  button->click();
  release = true;
  ASSERT_TRUE(waitForRunEnd(*form));
  EXPECT_EQ(form->lastResult()->outcome, RunOutcome::Stopped);
}

TEST_F(FormTest, AClickJustAfterTheEndLeavesFinalizadoOnShow) {
  tree.write("Resguarda.ini", "[CONFIGURACION]\nDIR_DESTINO=" + tree.path("dest") + "\n");
  auto form = makeForm();
  auto* button = child<QToolButton>(*form, "CopiarBt");
  button->click();
  // The run ends on the worker before the window has heard of it.
  ASSERT_TRUE(waitFor([&] { return form->estado().TextoEstado() == "Finalizado."; }));
  button->click();
  ASSERT_TRUE(waitForRunEnd(*form));
  form->Timer1Timer();
  EXPECT_EQ(text(*form, "EstadoLb"), "Finalizado.");
  EXPECT_FALSE(button->isChecked());
}

TEST_F(FormTest, F10StartsARunAsAClickWould) {
  tree.write("src/a.txt", "a", kOld);
  tree.write("Resguarda.ini", "[CONFIGURACION]\nDIR_DESTINO=" + tree.path("dest") +
                                  "\n[TAREAS]\n0=1 " + tree.path("src") + "\n");
  auto form = makeForm();
  form->findChild<QAction*>("RealizarCopiaSeguridad1")->trigger();
  ASSERT_TRUE(waitForRunEnd(*form));
  EXPECT_EQ(TempTree::files(tree.path("dest")), std::vector<std::string>{"src/a.txt"});
}

TEST_F(FormTest, ClosingDuringARunSavesStopsAndWaitsForTheWorker) {
  tree.write("Resguarda.ini", "[CONFIGURACION]\nDIR_DESTINO=" + tree.path("dest") +
                                  "\n[TAREAS]\n0=1 " + kMail + "\n1=1 /x\n");
  std::atomic<bool> entered{false}, finished{false};
  auto form = makeForm({}, [&](RunContext& run) {
    entered = true;
    while (run.goOn()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    finished = true;
  });
  form->show();
  QAbstractItemModel* rows = child<QListView>(*form, "Memo1")->model();
  rows->setData(rows->index(1, 0), Qt::Unchecked, Qt::CheckStateRole);
  child<QToolButton>(*form, "CopiarBt")->click();
  ASSERT_TRUE(waitFor([&] { return entered.load(); }));
  QSignalSpy closed(form.get(), &TForm1::closed);
  EXPECT_TRUE(form->close());
  EXPECT_TRUE(finished);  // joined before the close returned
  EXPECT_EQ(closed.count(), 1);
  EXPECT_TRUE(form->stoppedByClose());
  EXPECT_EQ(form->lastResult()->outcome, RunOutcome::Stopped);
  EXPECT_EQ(TempTree::read(ini), "[CONFIGURACION]\nDIR_DESTINO=" + tree.path("dest/") +
                                     "\n[TAREAS]\n0=1 " + kMail + "\n1=0 /x\n");
}

TEST_F(FormTest, ASaveThatFailsKeepsTheWindowOpen) {
  ini = tree.path("missing/Resguarda.ini");
  auto form = makeForm();
  form->show();
  EXPECT_FALSE(form->close());
  EXPECT_TRUE(form->isVisible());
  ASSERT_EQ(prompts.errors.size(), 1u);
  EXPECT_EQ(prompts.errors[0], "Unable to write to " + ini);
}

TEST_F(FormTest, AnUnattendedRunClosesTheWindowOnceFinished) {
  tree.write("src/a.txt", "a", kOld);
  tree.write("Resguarda.ini", "[CONFIGURACION]\nDIR_DESTINO=" + tree.path("dest") +
                                  "\n[TAREAS]\n0=1 " + tree.path("src") + "\n");
  auto form = makeForm(StartupOptions::fromArguments({"-HiDe"}));
  EXPECT_TRUE(form->options().Oculto);
  QSignalSpy closed(form.get(), &TForm1::closed);
  form->startUnattended();
  ASSERT_TRUE(waitFor([&] { return closed.count() > 0; }));
  form->Timer1Timer();
  EXPECT_EQ(closed.count(), 1);
  EXPECT_EQ(form->lastResult()->outcome, RunOutcome::Finished);
}

TEST_F(FormTest, ARunWithoutDestinationAsksForOne) {
  tree.write("Resguarda.ini", "[TAREAS]\n0=1 /x\n");
  prompts.folders.push_back(tree.mkdir("elegida"));
  auto form = makeForm();
  child<QToolButton>(*form, "CopiarBt")->click();
  ASSERT_TRUE(waitForRunEnd(*form));
  ASSERT_TRUE(waitFor([&] { return !prompts.picked.empty(); }));
  EXPECT_EQ(prompts.picked[0], "Carpeta donde Guardar la Copia de Seguridad @");
  EXPECT_EQ(form->dirDestino(), tree.path("elegida/"));
  EXPECT_FALSE(child<QToolButton>(*form, "CopiarBt")->isChecked());
  EXPECT_NE(TempTree::read(ini).find("DIR_DESTINO=" + tree.path("elegida/")), std::string::npos);
  // Nothing ran: the last run's log is not replaced.
  EXPECT_FALSE(TempTree::exists(logFolder + "/ultima-copia.log"));
}

// A destination the window's run cannot use: the run says why in its log, its status and a
// box, stops its clock and never passes for a finished one.
TEST_F(FormTest, ADestinationThatCannotBeUsedSaysWhyAndStopsTheClock) {
  tree.write("src/a.txt", "a", kOld);
  tree.write("blocked", "a file where the folder should be");
  const std::string destination = tree.path("blocked/dest");
  tree.write("Resguarda.ini", "[CONFIGURACION]\nDIR_DESTINO=" + destination + "\n[TAREAS]\n0=1 " +
                                  tree.path("src") + "\n");
  auto form = makeForm();
  child<QToolButton>(*form, "CopiarBt")->click();
  ASSERT_TRUE(waitForRunEnd(*form));
  form->flushRunDisplay();
  const std::string problem = "No se puede crear la carpeta de destino " + destination +
                              ": una parte de la ruta es un archivo, no una carpeta";
  EXPECT_EQ(logText(*form).toStdString(), "ERROR - " + problem);
  EXPECT_EQ(text(*form, "Label1").toStdString(), problem);
  EXPECT_EQ(text(*form, "EstadoLb").toStdString(), problem);
  EXPECT_FALSE(form->findChild<QTimer*>("Timer1")->isActive());
  EXPECT_FALSE(child<QToolButton>(*form, "CopiarBt")->isChecked());
  EXPECT_EQ(prompts.errors, std::vector<std::string>{problem});
}

TEST_F(FormTest, Memo1ShowsTheTaskListAndItsEditsAndTheAddAndRemoveSave) {
  auto form = makeForm();
  auto* memo = child<QListView>(*form, "Memo1");
  QAbstractItemModel* rows = memo->model();
  auto text = [&](int row) { return rows->index(row, 0).data().toString().toStdString(); };
  auto checkState = [&](int row) { return rows->index(row, 0).data(Qt::CheckStateRole).toInt(); };
  ASSERT_EQ(rows->rowCount(), 6);
  EXPECT_EQ(text(5), kMail);
  EXPECT_FALSE(TempTree::exists(ini));

  prompts.folders.push_back("/srv/Proyectos");
  form->AnyadirBtClick();
  ASSERT_EQ(rows->rowCount(), 7);
  EXPECT_EQ(text(6), "/srv/Proyectos");
  EXPECT_EQ(checkState(6), Qt::Checked);
  EXPECT_NE(TempTree::read(ini).find("6=1 /srv/Proyectos"), std::string::npos);

  // A check given in the view is the task list's, and reaches the file with the next save.
  rows->setData(rows->index(0, 0), Qt::Unchecked, Qt::CheckStateRole);
  EXPECT_FALSE(form->tasks().row(0).checked);

  form->BorrarBtClick();  // no selection: the last row is offered, and removed
  ASSERT_EQ(prompts.questions.size(), 1u);
  EXPECT_EQ(rows->rowCount(), 6);
  EXPECT_NE(TempTree::read(ini).find("0=0 "), std::string::npos);
  EXPECT_EQ(TempTree::read(ini).find("/srv/Proyectos"), std::string::npos);

  prompts.answer = false;
  form->BorrarBtClick();  // the selection moves to the row asked about, and stays there
  EXPECT_EQ(memo->currentIndex().row(), 5);
  memo->setCurrentIndex(rows->index(2, 0));
  form->BorrarBtClick();
  EXPECT_EQ(prompts.warnings.size(), 1u);
  EXPECT_EQ(memo->currentIndex().row(), 2);
  EXPECT_EQ(rows->rowCount(), 6);

  form->ToolButton1Click();
  for (int i = 0; i < rows->rowCount(); ++i) EXPECT_EQ(checkState(i), Qt::Checked) << i;
  form->ToolButton2Click();
  for (int i = 0; i < rows->rowCount(); ++i) EXPECT_EQ(checkState(i), Qt::Unchecked) << i;
}

TEST_F(FormTest, ChoosingTheDestinationCreatesTheOldOneAndSavesTheNew) {
  const std::string old = tree.path("old/copias");
  tree.write("Resguarda.ini", "[CONFIGURACION]\nDIR_DESTINO=" + old + "\n[TAREAS]\n");
  auto form = makeForm();
  form->GuardarCopiadeSeguridaden1Click();  // cancelled
  EXPECT_TRUE(TempTree::exists(old));
  EXPECT_EQ(prompts.picked.back(), "Carpeta donde Guardar la Copia de Seguridad @" + old);
  EXPECT_EQ(form->dirDestino(), old + "/");
  prompts.folders.push_back(tree.path("nueva"));
  form->GuardarCopiadeSeguridaden1Click();
  EXPECT_EQ(form->dirDestino(), tree.path("nueva/"));
  EXPECT_EQ(form->windowTitle().toStdString(), "Resguarda v3.0 - " + tree.path("nueva/"));
}

TEST_F(FormTest, PathsThatAreNotUtf8SurviveALoadAndASave) {
  const std::string odd = tree.path("caf\xe9-\xff");
  const std::string content =
      "[CONFIGURACION]\nDIR_DESTINO=" + odd + "/\n[TAREAS]\n0=1 " + odd + "\n1=0 " + odd + "/x\n";
  tree.write("Resguarda.ini", content);
  auto form = makeForm();
  ASSERT_TRUE(form->FormCloseQuery());
  EXPECT_EQ(TempTree::read(ini), content);
}

namespace {

// Interactive (false) or unattended (true).
class FormCutShortRun : public FormTest, public ::testing::WithParamInterface<bool> {};

}  // namespace

TEST_P(FormCutShortRun, ATaskThatThrowsAnythingEndsWithOneFailureAndTheRunGoesOn) {
  const bool unattended = GetParam();
  tree.write("src/a.txt", "a", kOld);
  tree.write("Resguarda.ini", "[CONFIGURACION]\nDIR_DESTINO=" + tree.path("dest") +
                                  "\n[TAREAS]\n0=1 " + kMail + "\n1=1 " + tree.path("src") + "\n");
  int mailRuns = 0;
  // Not even a std::exception: that task fails, and the run goes on with the next.
  auto form = makeForm(StartupOptions::fromArguments(unattended ? std::vector<std::string>{"x"}
                                                                : std::vector<std::string>{}),
                       [&](RunContext&) {
                         if (++mailRuns == 1) throw 42;
                       });
  QSignalSpy closed(form.get(), &TForm1::closed);
  if (unattended)
    form->startUnattended();
  else
    child<QToolButton>(*form, "CopiarBt")->click();
  ASSERT_TRUE(waitForRunEnd(*form));
  form->flushRunDisplay();
  EXPECT_EQ(form->lastResult()->outcome, RunOutcome::Finished);
  EXPECT_EQ(form->lastResult()->failures, 1);
  EXPECT_FALSE(child<QToolButton>(*form, "CopiarBt")->isChecked());
  EXPECT_EQ(text(*form, "Label1"), "Finalizado.");
  const std::string log = logText(*form).toStdString();
  EXPECT_NE(log.find("ERROR - " + kMail + ": error desconocido"), std::string::npos) << log;
  const std::string firstLog = "ERROR - " + kMail + ": error desconocido\n" +
                               tree.path("src/a.txt") +
                               "\nFinalizado. Actualizados: 0 Copiados: 1 Revisados: 1\n";

  if (unattended) {
    ASSERT_TRUE(waitFor([&] { return closed.count() > 0; }));
    EXPECT_EQ(TempTree::read(logFolder + "/ultima-copia.log"), firstLog);
    return;
  }
  // A window run keeps its log file as an unattended one does.
  EXPECT_EQ(TempTree::read(logFolder + "/ultima-copia.log"), firstLog);
  // The window is idle as after a finished run, and the next run works.
  EXPECT_TRUE(form->findChild<QTimer*>("Timer1")->isActive());
  EXPECT_EQ(closed.count(), 0);
  child<QToolButton>(*form, "CopiarBt")->click();
  ASSERT_TRUE(waitFor([&] { return mailRuns == 2 && !form->runInProgress(); }));
  EXPECT_EQ(form->lastResult()->failures, 0);
  EXPECT_EQ(TempTree::files(tree.path("dest")), std::vector<std::string>{"src/a.txt"});
  // The next run's log takes its place; the earlier one stays beside it.
  EXPECT_EQ(TempTree::read(logFolder + "/ultima-copia.1.log"), firstLog);
  EXPECT_EQ(TempTree::read(logFolder + "/ultima-copia.log"),
            "Finalizado. Actualizados: 0 Copiados: 0 Revisados: 1\n");
}

INSTANTIATE_TEST_SUITE_P(Form, FormCutShortRun, ::testing::Bool(),
                         [](const testing::TestParamInfo<bool>& p) {
                           return std::string(p.param ? "Unattended" : "Interactive");
                         });

TEST_F(FormTest, ClosingJustAfterARunEndedStillTakesItsResultAndLog) {
  tree.write("Resguarda.ini", "[CONFIGURACION]\nDIR_DESTINO=" + tree.path("dest") +
                                  "\n[TAREAS]\n0=1 " + kMail + "\n");
  std::atomic<bool> done{false};
  auto form = makeForm(StartupOptions::fromArguments({"x"}), [&](RunContext&) { done = true; });
  form->startUnattended();
  // The worker ends, and its end waits in the event queue, unseen, when the close comes.
  while (!done) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  form->close();
  ASSERT_TRUE(form->lastResult().has_value());
  EXPECT_EQ(form->lastResult()->outcome, RunOutcome::Finished);
  EXPECT_EQ(TempTree::read(logFolder + "/ultima-copia.log"),
            "Finalizado. Actualizados: 0 Copiados: 0 Revisados: 0\n");
}

TEST_F(FormTest, AFailedStartUpNeverSavesItsEmptyListOverTheFile) {
  const std::string text = "[CONFIGURACION]\nDIR_DESTINO=/copias/\n[TAREAS]\n0=1 /a\n";
  tree.write("Resguarda.ini", text);
  FormDependencies deps;
  deps.iniPath = ini;
  deps.systemFolders = []() -> std::vector<TaskRow> {
    throw std::runtime_error("Invalid data type for 'Store Root'");
  };
  deps.prompts = &prompts;
  deps.runLogFolder = logFolder;
  auto form = std::make_unique<TForm1>(StartupOptions{}, std::move(deps));
  EXPECT_EQ(prompts.errors, std::vector<std::string>{"Invalid data type for 'Store Root'"});
  EXPECT_TRUE(form->FormCloseQuery());
  EXPECT_EQ(TempTree::read(ini), text);
  // Once the user chooses a destination, the file holds what the user sees.
  prompts.folders.push_back(tree.path("otra"));
  form->GuardarCopiadeSeguridaden1Click();
  EXPECT_NE(TempTree::read(ini).find("DIR_DESTINO=" + tree.path("otra") + "/"), std::string::npos);
}

TEST_F(FormTest, AnUnreadableSettingsFileIsReportedAndKept) {
  tree.mkdir("Resguarda.ini");  // a folder under the file's name cannot be read
  auto form = makeForm();
  EXPECT_EQ(prompts.errors, std::vector<std::string>{"Cannot open file " + ini});
  EXPECT_TRUE(form->FormCloseQuery());
  EXPECT_TRUE(TempTree::list(ini).empty());
}

TEST_F(FormTest, TheCaptionShowsTheNewDestinationEvenWhenTheSaveFails) {
  tree.write("Resguarda.ini", "[CONFIGURACION]\nDIR_DESTINO=/copias/\n");
  ::chmod(ini.c_str(), 0444);
  auto form = makeForm();
  prompts.folders.push_back("/nueva");
  EXPECT_THROW(form->GuardarCopiadeSeguridaden1Click(), ResguardaError);
  EXPECT_EQ(form->windowTitle().toStdString(), "Resguarda v3.0 - /nueva/");
  EXPECT_EQ(TempTree::read(ini), "[CONFIGURACION]\nDIR_DESTINO=/copias/\n");
}
