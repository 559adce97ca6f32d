#include "dialogs/ExclusionsDialog.h"

#include <gtest/gtest.h>

#include <QPlainTextEdit>
#include <QTest>
#include <string>
#include <vector>

#include "platform/Errors.h"
#include "support/EventLoopWait.h"
#include "support/FakePrompts.h"

namespace {

using Patterns = std::vector<std::string>;

struct LinesCase {
  const char* name;
  const char* text;
  Patterns patterns;
};

class PatternLinesTest : public ::testing::TestWithParam<LinesCase> {};

TEST_P(PatternLinesTest, CleansEachLine) {
  EXPECT_EQ(ExclusionsDialog::patternLines(QString::fromUtf8(GetParam().text)),
            GetParam().patterns);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, PatternLinesTest,
    ::testing::Values(LinesCase{"BlankLinesAndTrailingBlanksCut",
                                "\n  \n*.tmp \t\r\n\t\n\nnode_modules/\r\n",
                                {"*.tmp", "node_modules/"}},
                      // A name may start with a blank; only the end of a line is cleaned.
                      LinesCase{"LeadingBlanksKept", "  nota.txt", {"  nota.txt"}},
                      LinesCase{"AccentsAsUtf8", "fotos/año */\n", {"fotos/a\xc3\xb1o */"}}),
    [](const testing::TestParamInfo<LinesCase>& p) { return std::string(p.param.name); });

QPlainTextEdit* editor(ExclusionsDialog& dialog) {
  return dialog.findChild<QPlainTextEdit*>(QStringLiteral("Patterns"));
}

class ExclusionsDialogTest : public ::testing::Test {
 protected:
  FakePrompts prompts;
  std::vector<Patterns> saved;
  ExclusionsDialog::SavePatterns recorder() {
    return [this](const Patterns& patterns) { saved.push_back(patterns); };
  }
};

TEST_F(ExclusionsDialogTest, OpeningAndClosingWithoutEditsSavesNothing) {
  ExclusionsDialog dialog({"*.tmp", ".cache/"}, recorder(), prompts);
  dialog.show();
  EXPECT_EQ(editor(dialog)->toPlainText().toStdString(), "*.tmp\n.cache/");
  // An empty line added is no change of the patterns.
  editor(dialog)->appendPlainText(QString());
  QTest::keyClick(editor(dialog), Qt::Key_Escape);
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_TRUE(saved.empty());
}

TEST_F(ExclusionsDialogTest, TypingIsSavedWhenItPausesAndWhatIsLeftAtClose) {
  ExclusionsDialog dialog({}, recorder(), prompts);
  dialog.show();
  QTest::keyClicks(editor(dialog), QStringLiteral("*.tmp  "));
  EXPECT_TRUE(saved.empty());
  ASSERT_TRUE(waitForEvents([&] { return !saved.empty(); }));
  editor(dialog)->appendPlainText(QStringLiteral("node_modules/\r"));
  dialog.reject();
  EXPECT_EQ(saved, (std::vector<Patterns>{{"*.tmp"}, {"*.tmp", "node_modules/"}}));
}

TEST_F(ExclusionsDialogTest, APatternNotInTheSystemEncodingKeepsItsBytes) {
  const std::string latin1 = "a\xf1o*";
  ExclusionsDialog dialog({latin1}, recorder(), prompts);
  editor(dialog)->appendPlainText(QStringLiteral("*.bak"));
  ASSERT_TRUE(dialog.saveNow());
  EXPECT_EQ(saved, (std::vector<Patterns>{{latin1, "*.bak"}}));
}

TEST_F(ExclusionsDialogTest, AFailedSaveAtCloseKeepsTheEditsOnScreenOnce) {
  int attempts = 0;
  ExclusionsDialog dialog(
      {},
      [&](const Patterns&) {
        ++attempts;
        throw unableToWrite("/cfg/resguarda.ini", EACCES);
      },
      prompts);
  dialog.show();
  editor(dialog)->setPlainText(QStringLiteral("*.iso"));
  dialog.reject();
  EXPECT_TRUE(dialog.isVisible());
  ASSERT_EQ(prompts.errors, std::vector<std::string>{"Unable to write to /cfg/resguarda.ini"});
  // Told once, the user may leave.
  dialog.reject();
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(attempts, 2);
}

}  // namespace
