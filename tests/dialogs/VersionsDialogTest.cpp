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

using Saved = std::pair<bool, int>;

struct Controls {
  QCheckBox* keep;
  QSpinBox* days;
  QPushButton* open;
};

Controls controlsOf(const VersionsDialog& dialog) {
  return {dialog.findChild<QCheckBox*>(QStringLiteral("Keep")),
          dialog.findChild<QSpinBox*>(QStringLiteral("Days")),
          dialog.findChild<QPushButton*>(QStringLiteral("OpenFolder"))};
}

struct ChangeCase {
  const char* name;
  bool keep;
  int days;
  std::function<void(Controls&)> change;
  std::vector<Saved> saved;
};

class VersionsChangeTest : public ::testing::TestWithParam<ChangeCase> {};

TEST_P(VersionsChangeTest, EachChangeIsSavedAtOnce) {
  FakePrompts prompts;
  std::vector<Saved> saved;
  VersionsDialog dialog(
      "/nada/", GetParam().keep, GetParam().days,
      [&](bool keep, int days) { saved.emplace_back(keep, days); }, prompts);
  Controls controls = controlsOf(dialog);
  GetParam().change(controls);
  EXPECT_EQ(saved, GetParam().saved);
  EXPECT_TRUE(prompts.errors.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Changes, VersionsChangeTest,
    ::testing::Values(
        ChangeCase{"TurnedOn", false, 0, [](Controls& c) { c.keep->click(); }, {{true, 0}}},
        ChangeCase{
            "TurnedOffKeepsTheDays", true, 30, [](Controls& c) { c.keep->click(); }, {{false, 30}}},
        ChangeCase{"DaysTyped",
                   true,
                   0,
                   [](Controls& c) {
                     c.days->selectAll();
                     QTest::keyClicks(c.days, QStringLiteral("45"));
                   },
                   {{true, 4}, {true, 45}}},
        ChangeCase{
            "DaysBackToForEver", true, 7, [](Controls& c) { c.days->setValue(0); }, {{true, 0}}},
        ChangeCase{"NothingChanged", true, 7, [](Controls&) {}, {}}),
    [](const testing::TestParamInfo<ChangeCase>& p) { return std::string(p.param.name); });

TEST(VersionsDialogTest, DaysAreOnlyEditableWhileVersionsAreKept) {
  FakePrompts prompts;
  VersionsDialog dialog(
      "/nada/", false, 10, [](bool, int) {}, prompts);
  Controls controls = controlsOf(dialog);
  EXPECT_FALSE(controls.days->isEnabled());
  controls.keep->click();
  EXPECT_TRUE(controls.days->isEnabled());
}

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
  Controls controls = controlsOf(dialog);
  controls.keep->click();
  ASSERT_EQ(prompts.errors, std::vector<std::string>{"Unable to write to /cfg/resguarda.ini"});
  EXPECT_FALSE(controls.keep->isChecked());
  EXPECT_EQ(controls.days->value(), 30);
  // The same change is tried again, not taken as already saved.
  controls.keep->click();
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
  bool destinationChosen;
  bool versionsFolderExists;
  bool trailingSlash;
};

class VersionsFolderTest : public ::testing::TestWithParam<FolderCase> {};

TEST_P(VersionsFolderTest, TheButtonOpensTheFolderOnlyWhenItExists) {
  TempTree tree;
  if (GetParam().versionsFolderExists) tree.mkdir("versiones/2026-01-02 03.04.05");
  std::string destination = GetParam().trailingSlash ? tree.root() + "/" : tree.root();
  if (!GetParam().destinationChosen) destination.clear();
  FakePrompts prompts;
  VersionsDialog dialog(
      destination, true, 0, [](bool, int) {}, prompts);
  QPushButton* open = controlsOf(dialog).open;

  FolderCatcher catcher;
  QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "open");
  dialog.show();
  QTest::mouseClick(open, Qt::LeftButton);
  dialog.openFolder();
  QDesktopServices::unsetUrlHandler(QStringLiteral("file"));

  EXPECT_EQ(open->isEnabled(), GetParam().versionsFolderExists);
  EXPECT_FALSE(open->toolTip().isEmpty());
  if (GetParam().versionsFolderExists) {
    ASSERT_EQ(catcher.opened.size(), 2);
    EXPECT_EQ(catcher.opened[0].toLocalFile().toStdString(), tree.root() + "/versiones/");
  } else {
    EXPECT_TRUE(catcher.opened.isEmpty());
  }
  EXPECT_TRUE(prompts.errors.empty());
}

INSTANTIATE_TEST_SUITE_P(Folders, VersionsFolderTest,
                         ::testing::Values(FolderCase{"Present", true, true, true},
                                           FolderCase{"PresentNoSlash", true, true, false},
                                           FolderCase{"NotYetCreated", true, false, true},
                                           FolderCase{"NoDestination", false, false, true}),
                         [](const testing::TestParamInfo<FolderCase>& p) {
                           return std::string(p.param.name);
                         });

}  // namespace

#include "VersionsDialogTest.moc"
