#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QPlainTextEdit>
#include <QSpinBox>
#include <QToolButton>
#include <atomic>
#include <chrono>
#include <thread>

#include "app/TForm1.h"
#include "app/UnattendedEnd.h"
#include "dialogs/ExclusionsDialog.h"
#include "dialogs/VersionsDialog.h"
#include "support/EventLoopWait.h"
#include "support/FakePrompts.h"
#include "support/FirstRunRows.h"
#include "support/TempTree.h"
#include "tasks/RunSettings.h"

namespace {

constexpr time_t kOld = 1600000000;

// The window's side of the settings beyond the task list: what its runs are given and what
// its dialogs save. The runs here are stand-ins that keep the snapshot they were given.
class RunSettingsForm : public ::testing::Test {
 protected:
  std::unique_ptr<TForm1> makeForm(std::function<void(QDialog&)> showDialog = {}) {
    FormDependencies deps;
    deps.iniPath = ini;
    deps.systemFolders = firstRunRows;
    deps.prompts = &prompts;
    deps.runLogFolder = logFolder;
    deps.showDialog = std::move(showDialog);
    deps.runBackup = [this](const RunSnapshot& snapshot, TEstad& estado, RunObserver& observer,
                            RunControl& control, const MailTask&) {
      snapshots.push_back(snapshot);
      while (hold && control.go) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      estado.Comprobando = snapshot.forceCheck;
      estado.Comprobados = 7;
      estado.Danados = 1;
      estado.setTextoEstado("Finalizado.");
      const RunResult result{RunOutcome::Finished, 1};
      observer.runEnded(result);
      return result;
    };
    return std::make_unique<TForm1>(StartupOptions{}, std::move(deps));
  }
  static bool waitForRunEnd(TForm1& form) {
    return waitForEvents([&] { return form.lastResult().has_value() && !form.runInProgress(); });
  }
  static QAction* action(TForm1& form, const char* name) {
    return form.findChild<QAction*>(QString::fromLatin1(name));
  }
  std::string settings(const std::string& extra = "") {
    return "[CONFIGURACION]\nDIR_DESTINO=" + tree.path("dest/") + "\n" + extra + "[TAREAS]\n0=1 " +
           tree.path("src") + "\n";
  }

  TempTree tree;
  std::string ini = tree.path("Resguarda.ini");
  std::string logFolder = tree.path("state/resguarda");
  FakePrompts prompts;
  std::vector<RunSnapshot> snapshots;  // written by the worker; read after the run ended
  std::atomic<bool> hold{false};
};

TEST_F(RunSettingsForm, EachRunIsGivenTheSettingsAsTheFileHoldsThemWhenItStarts) {
  tree.write("Resguarda.ini", settings());
  auto form = makeForm();
  form->findChild<QToolButton*>("CopiarBt")->click();
  ASSERT_TRUE(waitForRunEnd(*form));
  // Written while the window is open (a dialog, a hand edit): the next run takes it.
  tree.write("Resguarda.ini", settings("VERSIONES=1\nDIAS_VERSIONES=30\nCOMPROBAR_DIAS=7\n") +
                                  "[EXCLUIR]\n0=*.tmp\n1=.cache/\n");
  form->findChild<QToolButton*>("CopiarBt")->click();
  ASSERT_TRUE(waitForRunEnd(*form));

  ASSERT_EQ(snapshots.size(), 2u);
  const RunSnapshot& before = snapshots[0];
  EXPECT_FALSE(before.keepVersions);
  EXPECT_EQ(before.versionDays, 0);
  EXPECT_TRUE(before.exclusions.empty());
  EXPECT_EQ(before.checkDays, 0);
  EXPECT_FALSE(before.forceCheck);
  const RunSnapshot& after = snapshots[1];
  EXPECT_TRUE(after.keepVersions);
  EXPECT_EQ(after.versionDays, 30);
  EXPECT_EQ(after.exclusions, (std::vector<std::string>{"*.tmp", ".cache/"}));
  EXPECT_EQ(after.checkDays, 7);
  EXPECT_FALSE(after.forceCheck);
}

TEST_F(RunSettingsForm, CheckingStartsOneRunThatChecksAndIsNotOfferedWhileARunGoes) {
  tree.write("Resguarda.ini", settings());
  auto form = makeForm();
  QAction* check = action(*form, "ComprobarCopia1");
  ASSERT_NE(check, nullptr);
  hold = true;
  form->findChild<QToolButton*>("CopiarBt")->click();
  EXPECT_FALSE(check->isEnabled());
  check->trigger();  // refused while the run goes: no second run, no check
  hold = false;
  ASSERT_TRUE(waitForRunEnd(*form));
  EXPECT_TRUE(check->isEnabled());

  check->trigger();
  EXPECT_TRUE(form->findChild<QToolButton*>("CopiarBt")->isChecked());
  ASSERT_TRUE(waitForRunEnd(*form));
  // The next ordinary run checks only if its days say so.
  action(*form, "RealizarCopiaSeguridad1")->trigger();
  ASSERT_TRUE(waitForRunEnd(*form));
  ASSERT_EQ(snapshots.size(), 3u);
  EXPECT_FALSE(snapshots[0].forceCheck);
  EXPECT_TRUE(snapshots[1].forceCheck);
  EXPECT_FALSE(snapshots[2].forceCheck);

  // A window run's log ends as an unattended one's does: the summary, then the check.
  check->trigger();
  ASSERT_TRUE(waitForRunEnd(*form));
  EXPECT_EQ(TempTree::read(logFolder + "/ultima-copia.log"),
            "Finalizado. Actualizados: 0 Copiados: 0 Revisados: 0\nComprobados: 7 Dañados: 1\n");
}

TEST_F(RunSettingsForm, TheDialogsShowTheSettingsAndSaveEachChangeAtOnce) {
  // No settings file yet: the task list is written first, so the file never lacks its rows.
  int shown = 0;
  auto form = makeForm([&](QDialog& dialog) {
    ++shown;
    if (auto* versions = qobject_cast<VersionsDialog*>(&dialog)) {
      auto* keep = versions->findChild<QCheckBox*>("Keep");
      auto* days = versions->findChild<QSpinBox*>("Days");
      if (shown == 1) {
        EXPECT_FALSE(keep->isChecked());
        keep->click();
        days->setValue(14);
        // Saved before the dialog is closed.
        EXPECT_EQ(loadRunSettings(ini).diasVersiones, 14);
      } else {
        EXPECT_TRUE(keep->isChecked());
        EXPECT_EQ(days->value(), 14);
      }
    } else if (auto* exclusions = qobject_cast<ExclusionsDialog*>(&dialog)) {
      auto* patterns = exclusions->findChild<QPlainTextEdit*>("Patterns");
      if (shown == 3) {
        patterns->setPlainText(QStringLiteral("*.tmp\nnode_modules/\n"));
        dialog.reject();
      } else {
        EXPECT_EQ(patterns->toPlainText(), QStringLiteral("*.tmp\nnode_modules/"));
      }
    } else {
      ADD_FAILURE() << "another dialog";
    }
  });
  ASSERT_FALSE(TempTree::exists(ini));
  for (const char* name : {"VersionesAnteriores1", "VersionesAnteriores1", "Excluir1", "Excluir1"})
    action(*form, name)->trigger();
  EXPECT_EQ(shown, 4);
  EXPECT_TRUE(prompts.errors.empty());

  const RunSettings saved = loadRunSettings(ini);
  EXPECT_TRUE(saved.versiones);
  EXPECT_EQ(saved.diasVersiones, 14);
  EXPECT_EQ(saved.excluir, (std::vector<std::string>{"*.tmp", "node_modules/"}));
  EXPECT_NE(TempTree::read(ini).find("[TAREAS]"), std::string::npos);
}

TEST_F(RunSettingsForm, WithoutTheNewKeysASessionAndARunLeaveTheSettingsFileAsItWas) {
  tree.write("src/a.txt", "a", kOld);
  const std::string text = settings();
  tree.write("Resguarda.ini", text);
  {
    FormDependencies deps;
    deps.iniPath = ini;
    deps.systemFolders = firstRunRows;
    deps.prompts = &prompts;
    deps.runLogFolder = logFolder;
    // The dialogs are opened and closed without a change.
    deps.showDialog = [](QDialog& dialog) { dialog.reject(); };
    TForm1 form(StartupOptions{}, std::move(deps));
    form.findChild<QAction*>("VersionesAnteriores1")->trigger();
    form.findChild<QAction*>("Excluir1")->trigger();
    form.findChild<QToolButton*>("CopiarBt")->click();
    ASSERT_TRUE(waitForRunEnd(form));
    EXPECT_EQ(form.lastResult()->failures, 0);
    EXPECT_TRUE(form.close());
  }
  EXPECT_TRUE(prompts.errors.empty());
  EXPECT_EQ(TempTree::read(ini), text);
  EXPECT_EQ(TempTree::files(tree.path("dest")), std::vector<std::string>{"src/a.txt"});
}

// The unattended program prints the summary and, when the run checked, the check's line.
struct EndRow {
  std::optional<RunOutcome> outcome;
  bool checked;
  std::optional<std::string> summary, check;
};

class UnattendedEndLines : public ::testing::TestWithParam<EndRow> {};

TEST_P(UnattendedEndLines, TheCheckLineFollowsTheSummaryOnlyWhenTheRunChecked) {
  const EndRow& row = GetParam();
  TEstad estado;
  estado.setTextoEstado("Finalizado.");
  estado.Copiados = 3;
  estado.Revisados = 4;
  estado.Comprobando = row.checked;
  estado.Comprobados = 4;
  estado.Danados = 1;
  std::optional<RunResult> result;
  if (row.outcome) result = RunResult{*row.outcome, 0};
  const UnattendedEnd end = unattendedEnd(result, estado, false, false);
  EXPECT_EQ(end.summary, row.summary);
  EXPECT_EQ(end.check, row.check);
}

const std::string kSummary = "Finalizado. Actualizados: 0 Copiados: 3 Revisados: 4";
INSTANTIATE_TEST_SUITE_P(
    Rows, UnattendedEndLines,
    ::testing::Values(EndRow{RunOutcome::Finished, false, kSummary, std::nullopt},
                      EndRow{RunOutcome::Finished, true, kSummary, "Comprobados: 4 Dañados: 1"},
                      EndRow{RunOutcome::Stopped, true, kSummary, "Comprobados: 4 Dañados: 1"},
                      EndRow{RunOutcome::NoDestination, true, std::nullopt, std::nullopt},
                      EndRow{std::nullopt, true, std::nullopt, std::nullopt}));

}  // namespace
