#include "app/LogCommands.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QItemSelectionModel>
#include <QListView>
#include <QTest>
#include <functional>
#include <memory>

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
    ASSERT_NE(view, nullptr);
    lines = qobject_cast<LogLines*>(view->model());
    lines->append({"uno", "ERROR - /a: b", "tres", "cuatro", "cinco"});
  }
  void trigger(const char* name) {
    auto* action = view->findChild<QAction*>(QString::fromLatin1(name));
    ASSERT_NE(action, nullptr) << name;
    action->trigger();
  }

  TempTree tree;
  FakePrompts prompts;
  std::string savePath;
  std::unique_ptr<TForm1> form;
  QListView* view = nullptr;
  LogLines* lines = nullptr;
};

struct Selecting {
  const char* name;
  std::function<void(QListView&)> select;
  const char* copied;
};

class LogCopy : public LogCommandsTest, public ::testing::WithParamInterface<Selecting> {};

TEST_P(LogCopy, CtrlCCopiesTheSelectedLinesInTheLogsOrder) {
  QApplication::clipboard()->setText(QStringLiteral("antes"));
  GetParam().select(*view);
  QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(QApplication::clipboard()->text().toStdString(), GetParam().copied);
}

void pick(QListView& view, int row, QItemSelectionModel::SelectionFlags how) {
  view.selectionModel()->select(view.model()->index(row, 0), how);
}

INSTANTIATE_TEST_SUITE_P(
    Selections, LogCopy,
    ::testing::Values(Selecting{"PickedOutOfOrder",
                                [](QListView& v) {
                                  pick(v, 3, QItemSelectionModel::Select);
                                  pick(v, 1, QItemSelectionModel::Select);
                                },
                                "ERROR - /a: b\ncuatro"},
                      Selecting{"ShiftClickExtends",
                                [](QListView& v) {
                                  v.setCurrentIndex(v.model()->index(1, 0));
                                  const QRect last = v.visualRect(v.model()->index(3, 0));
                                  QTest::mouseClick(v.viewport(), Qt::LeftButton, Qt::ShiftModifier,
                                                    last.center());
                                },
                                "ERROR - /a: b\ntres\ncuatro"},
                      Selecting{"CtrlShiftEndToTheLastLine",
                                [](QListView& v) {
                                  v.setCurrentIndex(v.model()->index(2, 0));
                                  QTest::keyClick(&v, Qt::Key_End,
                                                  Qt::ControlModifier | Qt::ShiftModifier);
                                },
                                "tres\ncuatro\ncinco"},
                      Selecting{"SelectAllFromTheMenu", [](QListView& v) { v.selectAll(); },
                                "uno\nERROR - /a: b\ntres\ncuatro\ncinco"},
                      // Nothing selected leaves the clipboard as it was.
                      Selecting{"NothingSelected", [](QListView& v) { v.clearSelection(); },
                                "antes"}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(LogCommandsTest, SavingWritesEveryKeptLineAsTheRunLogDoes) {
  // A name may hold any byte but "/" and NUL: it is saved as logged, control bytes escaped.
  lines->append({"caf\xe9\nERROR - forged", "\xc3\xb1"});
  savePath = tree.path("guardado.log");
  trigger("GuardarRegistro");
  EXPECT_TRUE(prompts.errors.empty());
  EXPECT_EQ(TempTree::read(savePath),
            "uno\nERROR - /a: b\ntres\ncuatro\ncinco\ncaf\xe9\\x0aERROR - forged\n\xc3\xb1\n");
}

TEST_F(LogCommandsTest, ASaveThatCannotBeWrittenSaysSoAndLeavesNothing) {
  savePath = tree.path("no-existe/guardado.log");
  trigger("GuardarRegistro");
  EXPECT_EQ(prompts.errors, std::vector<std::string>{"Unable to write to " + savePath});
  EXPECT_FALSE(TempTree::exists(tree.path("no-existe")));
}

}  // namespace
