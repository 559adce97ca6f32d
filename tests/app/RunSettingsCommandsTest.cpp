#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QDialog>
#include <QPlainTextEdit>
#include <QSpinBox>
#include <atomic>
#include <thread>

#include "app/TForm1.h"
#include "backup/CopyCheck.h"
#include "support/EventLoopWait.h"
#include "support/FakePrompts.h"
#include "support/FirstRunRows.h"
#include "support/TempTree.h"
#include "tasks/RunSettings.h"

namespace {

// The window's side of the settings beyond the task list. Runs are stand-ins that keep the
// snapshot they were given, unless the real run is asked for.
class RunSettingsForm : public ::testing::Test {
 protected:
  std::unique_ptr<TForm1> makeForm(bool realRun = false) {
    FormDependencies deps{ini, firstRunRows, {}, &prompts, false, logFolder, {}, {}, {}};
    deps.showDialog = [this](QDialog& dialog) {
      if (onDialog) onDialog(dialog);
      dialog.reject();
    };
    if (!realRun)
      deps.runBackup = [this](const RunSnapshot& snapshot, TEstad& estado, RunObserver& observer,
                              RunControl& control, const MailTask&) {
        snapshots.push_back(snapshot);
        while (hold && control.go) std::this_thread::yield();
        estado.Comprobando = snapshot.forceCheck;
        estado.Comprobados = 7;
        estado.Danados = 1;
        if (snapshot.forceCheck) observer.logLine(checkSummaryLine(7, 1));
        estado.setTextoEstado("Finalizado.");
        observer.runEnded({RunOutcome::Finished, 0});
        return RunResult{RunOutcome::Finished, 0};
      };
    return std::make_unique<TForm1>(StartupOptions{}, std::move(deps));
  }
  static void run(TForm1& form, const char* action) {
    form.findChild<QAction*>(action)->trigger();
    EXPECT_TRUE(waitForEvents([&] { return !form.runInProgress(); }));
  }
  void writeSettings(const std::string& extra = "") {
    tree.write("Resguarda.ini", "[CONFIGURACION]\nDIR_DESTINO=" + tree.path("dest/") + "\n" +
                                    extra + "[TAREAS]\n0=1 " + tree.path("src") + "\n");
  }

  TempTree tree;
  std::string ini = tree.path("Resguarda.ini"), logFolder = tree.path("state");
  FakePrompts prompts;
  std::function<void(QDialog&)> onDialog;
  std::vector<RunSnapshot> snapshots;  // written by the worker, read once it has ended
  std::atomic<bool> hold{false};
};

TEST_F(RunSettingsForm, RunsTakeTheSettingsAndTheCheckCommandForcesACheck) {
  writeSettings(
      "VERSIONES=1\nDIAS_VERSIONES=30\nCOMPROBAR_DIAS=7\n[EXCLUIR]\n0=*.tmp\n1=.cache/\n");
  auto form = makeForm();
  auto* check = form->findChild<QAction*>("ComprobarCopia1");
  hold = true;
  form->findChild<QAction*>("RealizarCopiaSeguridad1")->trigger();
  EXPECT_FALSE(check->isEnabled());
  check->trigger();  // refused while a run goes on: no second run
  hold = false;
  EXPECT_TRUE(waitForEvents([&] { return !form->runInProgress(); }));
  EXPECT_TRUE(check->isEnabled());
  run(*form, "ComprobarCopia1");

  ASSERT_EQ(snapshots.size(), 2u);
  EXPECT_TRUE(snapshots[0].keepVersions);
  EXPECT_EQ(snapshots[0].versionDays, 30);
  EXPECT_EQ(snapshots[0].exclusions, (std::vector<std::string>{"*.tmp", ".cache/"}));
  EXPECT_EQ(snapshots[0].checkDays, 7);
  EXPECT_FALSE(snapshots[0].forceCheck);
  EXPECT_TRUE(snapshots[1].forceCheck);
  // The check's line, as the run logged it, is in the file once, before the summary.
  EXPECT_EQ(TempTree::read(logFolder + "/ultima-copia.log"),
            "Comprobados: 7 Dañados: 1\nFinalizado. Actualizados: 0 Copiados: 0 Revisados: 0\n");
}

TEST_F(RunSettingsForm, TheDialogsShowTheSettingsAndSaveAtOnceAlsoWithoutASettingsFile) {
  auto form = makeForm();
  int days = -1;
  onDialog = [&](QDialog& dialog) {
    if (auto* keep = dialog.findChild<QCheckBox*>("Keep"); keep && !keep->isChecked()) {
      keep->click();
      dialog.findChild<QSpinBox*>("Days")->setValue(14);
    } else if (keep) {
      days = dialog.findChild<QSpinBox*>("Days")->value();
    } else {
      dialog.findChild<QPlainTextEdit*>("Patterns")->setPlainText("*.tmp\nnode_modules/\n");
    }
  };
  for (const char* action : {"VersionesAnteriores1", "Excluir1", "VersionesAnteriores1"})
    form->findChild<QAction*>(action)->trigger();
  EXPECT_EQ(days, 14);
  EXPECT_TRUE(prompts.errors.empty());
  const RunSettings saved = loadRunSettings(ini);
  EXPECT_TRUE(saved.versiones);
  EXPECT_EQ(saved.excluir, (std::vector<std::string>{"*.tmp", "node_modules/"}));
  // The task list went in first: the file holds its rows.
  EXPECT_NE(TempTree::read(ini).find("[TAREAS]\n0="), std::string::npos);
}

TEST_F(RunSettingsForm, WithoutTheKeysASessionAndARunLeaveTheSettingsFileAsItWas) {
  writeSettings();
  tree.write("src/a.txt", "a");
  const std::string before = TempTree::read(ini);
  auto form = makeForm(true);
  form->findChild<QAction*>("VersionesAnteriores1")->trigger();
  form->findChild<QAction*>("Excluir1")->trigger();
  run(*form, "RealizarCopiaSeguridad1");
  EXPECT_TRUE(form->close());
  EXPECT_EQ(TempTree::read(ini), before);
  EXPECT_EQ(TempTree::read(tree.path("dest/src/a.txt")), "a");
}

}  // namespace
