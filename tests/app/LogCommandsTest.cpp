#include "app/LogCommands.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QListView>
#include <QTest>

#include "app/LogLines.h"
#include "app/TForm1.h"
#include "support/FakePrompts.h"
#include "support/FirstRunRows.h"
#include "support/TempTree.h"

namespace {

class LogCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FormDependencies deps;
    deps.iniPath = tree.path("Resguarda.ini");
    deps.systemFolders = firstRunRows;
    deps.prompts = &prompts;
    deps.chooseLogFile = [this] { return savePath; };
    form = std::make_unique<TForm1>(StartupOptions{}, std::move(deps));
    view = form->findChild<QListView*>(QStringLiteral("RichEdit1"));
    lines = qobject_cast<LogLines*>(view->model());
    lines->append({"uno", "ERROR - /a: b", "tres", "cuatro"});
  }

  TempTree tree;
  FakePrompts prompts;
  std::string savePath;
  std::unique_ptr<TForm1> form;
  QListView* view = nullptr;
  LogLines* lines = nullptr;
};

// The view's own Ctrl+C would copy its current line only; Ctrl+Shift+End it would not select.
class LogCopy : public LogCommandsTest,
                public ::testing::WithParamInterface<std::pair<bool, const char*>> {};

TEST_P(LogCopy, CtrlCCopiesTheSelectedLinesInTheLogsOrder) {
  QApplication::clipboard()->setText(QStringLiteral("antes"));
  if (GetParam().first) {
    view->setCurrentIndex(lines->index(2, 0));
    QTest::keyClick(view, Qt::Key_End, Qt::ControlModifier | Qt::ShiftModifier);
  } else {
    view->selectionModel()->select(lines->index(3, 0), QItemSelectionModel::Select);
    view->selectionModel()->select(lines->index(1, 0), QItemSelectionModel::Select);
  }
  QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(QApplication::clipboard()->text().toStdString(), GetParam().second);
}

INSTANTIATE_TEST_SUITE_P(Selections, LogCopy,
                         ::testing::Values(std::pair(false, "ERROR - /a: b\ncuatro"),
                                           std::pair(true, "tres\ncuatro")));

TEST_F(LogCommandsTest, SavingWritesEveryKeptLineAsTheRunLogDoes) {
  // Saved as logged, not UTF-8 and all; a newline in a name cannot forge a line.
  lines->append({"caf\xe9\nERROR - falsa"});
  savePath = tree.path("guardado.log");
  view->findChild<QAction*>(QStringLiteral("GuardarRegistro"))->trigger();
  EXPECT_EQ(TempTree::read(savePath),
            "uno\nERROR - /a: b\ntres\ncuatro\ncaf\xe9\\x0aERROR - falsa\n");

  savePath = tree.path("no-existe/guardado.log");
  view->findChild<QAction*>(QStringLiteral("GuardarRegistro"))->trigger();
  EXPECT_EQ(prompts.errors, std::vector<std::string>{"Unable to write to " + savePath});
}

}  // namespace
