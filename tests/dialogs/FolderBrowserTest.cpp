#include "dialogs/FolderBrowser.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <QAbstractItemView>
#include <QApplication>
#include <QCompleter>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include "dialogs/FileUtil.h"
#include "dialogs/FolderListing.h"
#include "dialogs/FolderOrder.h"
#include "dialogs/NewFolderName.h"
#include "dialogs/TBrowseFolderDlg.h"
#include "platform/Errors.h"
#include "platform/PathText.h"
#include "platform/PseudoFileSystems.h"
#include "support/TempTree.h"
#include "support/Unprivileged.h"

namespace {

class FolderBrowserTest : public ::testing::Test {
 protected:
  FolderBrowserTest() {
    tree.mkdir("home/Datos/Fotos");
    tree.mkdir("home/Datos2");
    tree.mkdir("home/Documentos");
    tree.mkdir("home/.oculta/dentro");
    tree.write("home/nota.txt", "x");
    ::symlink(tree.path("home/Documentos").c_str(), tree.path("home/Enlace").c_str());
    // Neither is a folder, and neither may make the listing wait.
    ::mkfifo(tree.path("home/tubo").c_str(), 0600);
    ::symlink(tree.path("home/tubo").c_str(), tree.path("home/Enlace al tubo").c_str());
    tree.mkdir("media/ana/USB 10");
    tree.mkdir("media/ana/USB 2");
    tree.mkdir("media/ana/.Trash-0");
    sources.home = tree.path("home");
    sources.userFolders = {tree.path("home/Documentos"), tree.path("home"),
                           tree.path("home/Descargas"), "/", "relativa"};
    sources.diskParents = {tree.path("media/ana"), tree.path("mnt")};
    browser = std::make_unique<FolderBrowser>(nullptr, sources);
  }

  QLineEdit* pathEdit() { return browser->findChild<QLineEdit*>(QStringLiteral("FolderPath")); }
  QTreeWidget* folderTree() {
    return browser->findChild<QTreeWidget*>(QStringLiteral("FolderTree"));
  }
  QPushButton* okButton() {
    return browser->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
  }
  QPushButton* newFolderButton() {
    return browser->findChild<QPushButton*>(QStringLiteral("NewFolderBt"));
  }
  std::string selectedItem() {
    const auto items = folderTree()->selectedItems();
    return items.isEmpty() ? "" : FolderBrowser::itemPath(items.front());
  }
  static std::vector<std::string> childNames(QTreeWidgetItem* item) {
    std::vector<std::string> names;
    for (int i = 0; i < item->childCount(); ++i)
      names.push_back(item->child(i)->text(0).toStdString());
    return names;
  }

  TempTree tree;
  FolderRootSources sources;
  std::unique_ptr<FolderBrowser> browser;
};

TEST_F(FolderBrowserTest, TheTreeStartsAtHomeTheUserFoldersAndTheDisksThenTheRoot) {
  std::vector<std::pair<std::string, std::string>> roots;
  for (const FolderRoot& root : folderTreeRoots(sources))
    roots.emplace_back(root.path, root.label.toStdString());
  const std::vector<std::pair<std::string, std::string>> expected = {
      {tree.path("home"), "Carpeta personal"},
      {tree.path("home/Documentos"), "Documentos"},
      {tree.path("media/ana/USB 2"), "USB 2"},
      {tree.path("media/ana/USB 10"), "USB 10"},
      {"/", "Sistema de archivos"}};
  EXPECT_EQ(roots, expected);
}

TEST_F(FolderBrowserTest, AFolderIsListedOnlyWhenOpened) {
  QTreeWidgetItem* home = folderTree()->topLevelItem(0);
  EXPECT_EQ(home->childCount(), 0);
  EXPECT_EQ(home->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);
  home->setExpanded(true);
  // Hidden folders, files and FIFOs are left out; a link to a folder is shown.
  EXPECT_EQ(childNames(home),
            (std::vector<std::string>{"Datos", "Datos2", "Documentos", "Enlace"}));
  EXPECT_EQ(home->child(0)->childCount(), 0);
}

TEST(SortByDisplayName, IgnoresCaseAndReadsNumbersByValue) {
  std::vector<std::string> names = {"fotos", "USB 10", "Zeta",      "usb 2",    "USB 2",
                                    "2024",  "10",     "Copia 007", "Copia 7b", "Copia 8"};
  sortByDisplayName(names);
  EXPECT_EQ(names, (std::vector<std::string>{"10", "2024", "Copia 007", "Copia 7b", "Copia 8",
                                             "fotos", "USB 2", "usb 2", "USB 10", "Zeta"}));
}

TEST_F(FolderBrowserTest, NothingIsListedInsideAPseudoFileSystem) {
  if (!IsExistingFolder("/proc/self")) GTEST_SKIP() << "no /proc here";
  PseudoFileSystems pseudo;
  EXPECT_EQ(listSubfolders("/proc", false, pseudo), std::vector<std::string>{});
  EXPECT_TRUE(listSubfolders(tree.path("home"), false, pseudo).has_value());
}

TEST_F(FolderBrowserTest, ANameThatIsNotUtf8ComesBackAsItsBytes) {
  const std::string odd = tree.mkdir("home/m\xfasica");
  QTreeWidgetItem* item = browser->revealFolder(odd);
  ASSERT_NE(item, nullptr);
  folderTree()->setCurrentItem(item);
  EXPECT_EQ(browser->selectedPath(), odd);
  EXPECT_TRUE(okButton()->isEnabled());
}

struct PreselectCase {
  const char* name;
  const char* given;     // relative to the temporary tree, "" for an empty path
  const char* selected;  // "" for nothing
};

class PreselectTest : public FolderBrowserTest,
                      public ::testing::WithParamInterface<PreselectCase> {};

TEST_P(PreselectTest, OpensTheTreeOnAnExistingFolderOnly) {
  const std::string given = *GetParam().given ? tree.path(GetParam().given) : "";
  const std::string selected = *GetParam().selected ? tree.path(GetParam().selected) : "";
  EXPECT_EQ(browser->preselect(given), !selected.empty());
  EXPECT_EQ(browser->selectedPath(), selected);
  EXPECT_EQ(selectedItem(), selected);
  EXPECT_EQ(okButton()->isEnabled(), !selected.empty());
  if (!selected.empty()) {
    QTreeWidgetItem* item = folderTree()->selectedItems().front();
    for (auto* up = item->parent(); up; up = up->parent()) EXPECT_TRUE(up->isExpanded());
    // The nearest top item holds it: a user folder's own, not home's.
    if (std::string(GetParam().name) == "UserFolder") {
      EXPECT_EQ(item->parent(), nullptr);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Paths, PreselectTest,
    ::testing::Values(PreselectCase{"Empty", "", ""},
                      PreselectCase{"Folder", "home/Datos/Fotos", "home/Datos/Fotos"},
                      PreselectCase{"TrailingSlash", "home/Datos/", "home/Datos"},
                      PreselectCase{"Gone", "home/Borrada", ""},
                      PreselectCase{"AFile", "home/nota.txt", ""},
                      PreselectCase{"Hidden", "home/.oculta/dentro", "home/.oculta/dentro"},
                      PreselectCase{"Climbing", "home/Datos/../Datos2", "home/Datos2"},
                      // The nearest top item holds it: the user folder, not home.
                      PreselectCase{"UserFolder", "home/Documentos", "home/Documentos"},
                      PreselectCase{"OutsideEveryPlace", "media", "media"}),
    [](const auto& row) { return std::string(row.param.name); });

struct TypingCase {
  const char* name;
  const char* typed;  // "@" stands for the temporary tree
  const char* selected;
  bool ok;
};

class TypingTest : public FolderBrowserTest, public ::testing::WithParamInterface<TypingCase> {};

TEST_P(TypingTest, TheTypedPathIsTheSelectionAndNeverItsParent) {
  ASSERT_TRUE(browser->preselect(tree.path("home")));
  QString typed = QString::fromUtf8(GetParam().typed);
  typed.replace(QLatin1Char('@'), QString::fromStdString(tree.root()));
  pathEdit()->setText(typed);
  std::string expected = GetParam().selected;
  if (expected.starts_with("@")) expected = tree.root() + expected.substr(1);
  EXPECT_EQ(browser->selectedPath(), expected);
  EXPECT_EQ(okButton()->isEnabled(), GetParam().ok);
  EXPECT_EQ(selectedItem(), GetParam().ok ? StripTrailingBackslash(expected) : "");
}

INSTANTIATE_TEST_SUITE_P(
    Texts, TypingTest,
    ::testing::Values(TypingCase{"HalfTyped", "@/home/Dat", "@/home/Dat", false},
                      TypingCase{"Folder", "@/home/Datos", "@/home/Datos", true},
                      TypingCase{"TrailingSlash", "@/home/Datos/", "@/home/Datos/", true},
                      TypingCase{"DoubledSlashes", "@//home///Datos", "@/home/Datos", true},
                      TypingCase{"DotParts", "@/home/./Datos/.", "@/home/Datos", true},
                      TypingCase{"Tilde", "~/Datos/Fotos", "@/home/Datos/Fotos", true},
                      TypingCase{"AFile", "@/home/nota.txt", "@/home/nota.txt", false},
                      TypingCase{"AFifo", "@/home/Enlace al tubo/", "@/home/Enlace al tubo/",
                                 false},
                      TypingCase{"Relative", "Datos", "Datos", false},
                      TypingCase{"Nothing", "", "", false}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(FolderBrowserTest, OnlyTheWayToTheTypedFolderStaysOpen) {
  pathEdit()->setText(QString::fromStdString(tree.path("media/ana")));
  QTreeWidgetItem* fileSystem = folderTree()->topLevelItem(folderTree()->topLevelItemCount() - 1);
  ASSERT_TRUE(fileSystem->isExpanded());
  pathEdit()->setText(QString::fromStdString(tree.path("home/Datos/Fotos")));
  EXPECT_FALSE(fileSystem->isExpanded());
  EXPECT_TRUE(folderTree()->topLevelItem(0)->isExpanded());
  // A path that is not there yet leaves the tree as it is.
  pathEdit()->setText(QString::fromStdString(tree.path("home/Datos/Fotos/Nue")));
  EXPECT_TRUE(folderTree()->topLevelItem(0)->isExpanded());
}

TEST_F(FolderBrowserTest, ReturnInTheCompletionListNeverAcceptsAHalfTypedPath) {
  browser->show();
  ASSERT_TRUE(browser->preselect(tree.path("home")));
  pathEdit()->setFocus();
  pathEdit()->clear();
  QSignalSpy accepted(browser.get(), &QDialog::accepted);
  QTest::keyClicks(pathEdit(), QString::fromStdString(tree.path("home/Dat")));
  QCompleter* completer = browser->findChild<QCompleter*>();
  ASSERT_TRUE(completer->popup()->isVisible());
  EXPECT_EQ(completer->completionCount(), 2);  // Datos, Datos2

  QTest::keyClick(completer->popup(), Qt::Key_Return);
  EXPECT_EQ(accepted.count(), 0);
  EXPECT_EQ(browser->selectedPath(), tree.path("home/Dat"));
  QTest::keyClick(pathEdit(), Qt::Key_Return);
  EXPECT_EQ(accepted.count(), 0);

  // Choosing an entry of the list takes that folder, not the one above it.
  QTest::keyClicks(pathEdit(), QStringLiteral("o"));
  ASSERT_TRUE(completer->popup()->isVisible());
  QTest::keyClick(completer->popup(), Qt::Key_Down);
  QTest::keyClick(completer->popup(), Qt::Key_Down);
  QTest::keyClick(completer->popup(), Qt::Key_Return);
  EXPECT_EQ(browser->selectedPath(), tree.path("home/Datos2"));
  EXPECT_EQ(selectedItem(), tree.path("home/Datos2"));
  EXPECT_EQ(accepted.count(), 0);
}

TEST_F(FolderBrowserTest, AFolderThatWentAwayIsNotAccepted) {
  const std::string gone = tree.mkdir("home/Pronto");
  ASSERT_TRUE(browser->preselect(gone));
  ASSERT_TRUE(okButton()->isEnabled());
  ::rmdir(gone.c_str());
  QSignalSpy accepted(browser.get(), &QDialog::accepted);
  browser->accept();
  EXPECT_EQ(accepted.count(), 0);
  EXPECT_FALSE(okButton()->isEnabled());
}

TEST_F(FolderBrowserTest, NewFolderIsMadeUnderTheSelectionAndSelected) {
  QTreeWidgetItem* datos = browser->revealFolder(tree.path("home/Datos"));
  datos->setExpanded(true);
  folderTree()->setCurrentItem(datos);
  browser->setNameAsker([](QWidget*) { return QStringLiteral("  Facturas 2024 "); });
  newFolderButton()->click();
  const std::string made = tree.path("home/Datos/Facturas 2024");
  EXPECT_TRUE(IsExistingFolder(made));
  EXPECT_EQ(browser->selectedPath(), made);
  EXPECT_EQ(selectedItem(), made);
  EXPECT_EQ(datos->childCount(), 2);  // Fotos and the new one, once
  EXPECT_TRUE(okButton()->isEnabled());
}

TEST_F(FolderBrowserTest, NewFolderFailuresGoToTheErrorBox) {
  std::vector<std::string> errors;
  browser->setErrorReporter([&](const std::string& message) { errors.push_back(message); });
  ASSERT_TRUE(browser->preselect(tree.path("home")));

  browser->setNameAsker([](QWidget*) { return QStringLiteral("Datos"); });
  newFolderButton()->click();
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].rfind("No se puede crear la carpeta " + tree.path("home/Datos") + ": ", 0),
            0u)
      << errors[0];

  // The selected folder was removed while the name was being asked for.
  const std::string gone = tree.mkdir("home/Pronto");
  ASSERT_TRUE(browser->preselect(gone));
  browser->setNameAsker([&](QWidget*) {
    ::rmdir(gone.c_str());
    return QStringLiteral("Nueva");
  });
  newFolderButton()->click();
  EXPECT_EQ(errors.size(), 2u);
  EXPECT_FALSE(TempTree::exists(gone));

  // Cancelled: nothing made, nothing said.
  ASSERT_TRUE(browser->preselect(tree.path("home")));
  browser->setNameAsker([](QWidget*) { return std::nullopt; });
  newFolderButton()->click();
  EXPECT_EQ(errors.size(), 2u);
  EXPECT_EQ(browser->selectedPath(), tree.path("home"));
}

TEST(ListSubfolders, AFolderAnOrdinaryUserMayNotReadListsNothing) {
  TempTree tree;
  tree.mkdir("cerrada/dentro");
  ::chmod(tree.root().c_str(), 0755);
  ::chmod(tree.path("cerrada").c_str(), 0700);
  const int result = runUnprivileged([&] {
    PseudoFileSystems pseudo;
    return listSubfolders(tree.path("cerrada"), false, pseudo).has_value() ? 1 : 0;
  });
  EXPECT_EQ(result, 0);
}

TEST(CreateFolder, AFullDiskIsReported) {
  TempTree tree;
  const std::string disk = tree.mkdir("disco");
  // One inode only, which the disk's own root takes.
  if (::mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=64k,nr_inodes=1") != 0)
    GTEST_SKIP() << "cannot mount a tmpfs here";
  std::string reason;
  try {
    createFolder(joinPath(disk, "nueva"));
  } catch (const ResguardaError& error) {
    reason = error.reason();
  }
  ::umount2(disk.c_str(), MNT_DETACH);
  EXPECT_EQ(reason, systemReason(ENOSPC));
}

TEST(CreateFolder, AReadOnlyFolderRefusesAnOrdinaryUser) {
  TempTree tree;
  const std::string locked = tree.mkdir("solo-lectura");
  makeReadOnlyForOthers(tree.root(), locked);
  const int result = runUnprivileged([&] {
    try {
      createFolder(joinPath(locked, "nueva"));
      return 1;
    } catch (const ResguardaError& error) {
      return error.reason().empty() ? 2 : 0;
    }
  });
  EXPECT_EQ(result, 0);
  EXPECT_FALSE(TempTree::exists(locked + "/nueva"));
}

struct NameCase {
  const char* name;
  bool valid;
};

class NewFolderNameTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(NewFolderNameTest, RefusesEmptyNamesSlashesAndDots) {
  EXPECT_EQ(newFolderNameProblem(QString::fromUtf8(GetParam().name)).isEmpty(), GetParam().valid);
}

INSTANTIATE_TEST_SUITE_P(Names, NewFolderNameTest,
                         ::testing::Values(NameCase{"", false}, NameCase{"   ", false},
                                           NameCase{"/", false}, NameCase{"a/b", false},
                                           NameCase{".", false}, NameCase{"..", false},
                                           NameCase{" Año 2024 ", true}, NameCase{"...", true},
                                           NameCase{".copia", true}, NameCase{"a\\b:c", true}));

// Execute with a window that closes itself once it is up, the way a user would.
class ExecuteTest : public ::testing::Test {
 protected:
  TempTree tree;
};

TEST_F(ExecuteTest, ConfirmedChoiceComesBackWithoutATrailingSlash) {
  const std::string start = tree.mkdir("origen");
  const std::string chosen = tree.mkdir("elegida");
  TBrowseFolderDlg dialog;
  dialog.DialogText = "Carpeta donde Guardar la Copia de Seguridad";
  dialog.FolderName = start + "/";
  std::string preselected;
  int changes = 0;
  dialog.OnSelChanged = [&](TBrowseFolderDlg&) { ++changes; };
  dialog.OnInitialized = [&](TBrowseFolderDlg& self) {
    preselected = self.SelectedName();
    self.browser()
        ->findChild<QLineEdit*>(QStringLiteral("FolderPath"))
        ->setText(QString::fromStdString(chosen + "/"));
    self.browser()->accept();
  };
  EXPECT_TRUE(dialog.Execute());
  EXPECT_EQ(preselected, start);
  EXPECT_EQ(dialog.FolderName, chosen);
  EXPECT_EQ(dialog.SelectedName(), chosen);
  EXPECT_GE(changes, 2);
  EXPECT_EQ(dialog.browser(), nullptr);
}

TEST_F(ExecuteTest, TheRootKeepsItsSlash) {
  TBrowseFolderDlg dialog;
  dialog.OnInitialized = [](TBrowseFolderDlg& self) {
    self.browser()->findChild<QLineEdit*>(QStringLiteral("FolderPath"))->setText("/");
    self.browser()->accept();
  };
  EXPECT_TRUE(dialog.Execute());
  EXPECT_EQ(dialog.FolderName, "/");
}

TEST_F(ExecuteTest, CancelLeavesThePathExactlyAsItWas) {
  const std::string other = tree.mkdir("otra");
  // As written by a user, with a trailing slash and a folder that is gone.
  for (const std::string& start : {tree.path("nada") + "/", tree.root() + "//", std::string()}) {
    std::string folder = start;
    bool opened = false;
    QTimer::singleShot(0, [&] {
      for (QWidget* window : QApplication::topLevelWidgets()) {
        auto* browser = qobject_cast<FolderBrowser*>(window);
        if (!browser || !browser->isVisible()) continue;
        opened = true;
        ASSERT_TRUE(browser->preselect(other));
        browser->reject();
      }
    });
    EXPECT_FALSE(PickFolder(folder, "Añadir Carpeta y subcarpetas"));
    EXPECT_TRUE(opened);
    EXPECT_EQ(folder, start);
  }
}

}  // namespace
