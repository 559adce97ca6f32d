#include "dialogs/VersionsDialog.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDesktopServices>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QUrl>
#include <functional>
#include <utility>
#include <vector>

#include "platform/Errors.h"
#include "support/FakePrompts.h"
#include "support/TempTree.h"

namespace {

using Saved = std::vector<std::pair<bool, int>>;

QCheckBox* keepBox(const VersionsDialog& dialog) {
  return dialog.findChild<QCheckBox*>(QStringLiteral("Keep"));
}
QSpinBox* daysBox(const VersionsDialog& dialog) {
  return dialog.findChild<QSpinBox*>(QStringLiteral("Days"));
}

struct ChangeCase {
  const char* name;
  bool keep;
  int days;
  std::function<void(VersionsDialog&)> change;
  Saved saved;
};

class VersionsChangeTest : public ::testing::TestWithParam<ChangeCase> {};

TEST_P(VersionsChangeTest, EachChangeIsSavedAtOnce) {
  FakePrompts prompts;
  Saved saved;
  VersionsDialog dialog(
      "/nada/", GetParam().keep, GetParam().days,
      [&](bool keep, int days) { saved.emplace_back(keep, days); }, prompts);
  GetParam().change(dialog);
  EXPECT_EQ(saved, GetParam().saved);
  EXPECT_EQ(daysBox(dialog)->isEnabled(), keepBox(dialog)->isChecked());
}

void typeDays(VersionsDialog& dialog) {
  daysBox(dialog)->selectAll();
  QTest::keyClicks(daysBox(dialog), QStringLiteral("45"));
}

INSTANTIATE_TEST_SUITE_P(
    Changes, VersionsChangeTest,
    ::testing::Values(
        ChangeCase{"TurnedOn", false, 0, [](auto& d) { keepBox(d)->click(); }, {{true, 0}}},
        ChangeCase{
            "TurnedOffKeepsTheDays", true, 30, [](auto& d) { keepBox(d)->click(); }, {{false, 30}}},
        ChangeCase{"DaysTyped", true, 0, typeDays, {{true, 4}, {true, 45}}},
        ChangeCase{"BackToForEver", true, 7, [](auto& d) { daysBox(d)->setValue(0); }, {{true, 0}}},
        ChangeCase{"NothingChanged", true, 7, [](auto&) {}, {}}),
    [](const testing::TestParamInfo<ChangeCase>& p) { return std::string(p.param.name); });

TEST(VersionsDialogTest, AFailedSaveIsShownAndTheControlsGoBackToWhatTheFileHolds) {
  FakePrompts prompts;
  int attempts = 0;
  VersionsDialog dialog(
      "/nada/", false, 30,
      [&](bool, int) {
        ++attempts;
        throw unableToWrite("/cfg/resguarda.ini", EROFS);
      },
      prompts);
  keepBox(dialog)->click();
  ASSERT_EQ(prompts.errors, std::vector<std::string>{"Unable to write to /cfg/resguarda.ini"});
  EXPECT_FALSE(keepBox(dialog)->isChecked());
  EXPECT_FALSE(daysBox(dialog)->isEnabled());
  // The same change is tried again, not taken as already saved.
  keepBox(dialog)->click();
  EXPECT_EQ(attempts, 2);
}

// Records the folders the desktop was asked to open.
class FolderCatcher : public QObject {
  Q_OBJECT
 public:
  QList<QUrl> opened;
 public Q_SLOTS:
  void open(const QUrl& url) { opened.push_back(url); }
};

struct FolderCase {
  const char* name;
  const char* destination;  // below the test's folder; nullptr: none chosen
  bool versionsExist;
};

class VersionsFolderTest : public ::testing::TestWithParam<FolderCase> {};

TEST_P(VersionsFolderTest, TheButtonOpensTheFolderOnlyWhenItExists) {
  TempTree tree;
  if (GetParam().versionsExist) tree.mkdir("versiones/2026-01-02 03.04.05");
  const std::string destination =
      GetParam().destination ? tree.root() + GetParam().destination : std::string();
  FakePrompts prompts;
  VersionsDialog dialog(
      destination, true, 0, [](bool, int) {}, prompts);
  auto* open = dialog.findChild<QPushButton*>(QStringLiteral("OpenFolder"));

  FolderCatcher catcher;
  QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "open");
  dialog.show();
  QTest::mouseClick(open, Qt::LeftButton);
  QDesktopServices::unsetUrlHandler(QStringLiteral("file"));

  EXPECT_EQ(open->isEnabled(), GetParam().versionsExist);
  EXPECT_FALSE(open->toolTip().isEmpty());
  QList<QUrl> expected;
  if (GetParam().versionsExist)
    expected.push_back(QUrl::fromLocalFile(QString::fromStdString(tree.root() + "/versiones/")));
  EXPECT_EQ(catcher.opened, expected);
}

INSTANTIATE_TEST_SUITE_P(Folders, VersionsFolderTest,
                         ::testing::Values(FolderCase{"PresentNoSlash", "", true},
                                           FolderCase{"NotYetCreated", "/", false},
                                           FolderCase{"NoDestination", nullptr, false}),
                         [](const testing::TestParamInfo<FolderCase>& p) {
                           return std::string(p.param.name);
                         });

}  // namespace

#include "VersionsDialogTest.moc"
