#include "dialogs/FileUtil.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QPoint>
#include <QRect>

#include "support/TempTree.h"
#include "support/Unprivileged.h"

namespace {

struct StripCase {
  const char* path;
  const char* expected;
};

class StripTrailingBackslashTest : public ::testing::TestWithParam<StripCase> {};

TEST_P(StripTrailingBackslashTest, RemovesOneTrailingSeparatorButNotTheRoot) {
  EXPECT_EQ(StripTrailingBackslash(GetParam().path), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Paths, StripTrailingBackslashTest,
                         ::testing::Values(StripCase{"", ""}, StripCase{"/", "/"},
                                           StripCase{"/home/ana/Datos/", "/home/ana/Datos"},
                                           StripCase{"/home/ana/Datos", "/home/ana/Datos"},
                                           StripCase{"/srv/compartido//",
                                                     "/srv/compartido/"},  // one only
                                           StripCase{"//", "/"}, StripCase{"datos/", "datos"},
                                           // "\" and ":" are ordinary characters in a Linux name.
                                           StripCase{"C:\\", "C:\\"}, StripCase{"/a\\", "/a\\"},
                                           StripCase{"/m\xc3\xbasica/", "/m\xc3\xbasica"}));

enum class Entry {
  Folder,
  FolderWithSlash,
  File,
  FileWithSlash,
  LinkToFolder,
  DanglingLink,
  Missing,
  Empty,
  Root
};

struct FolderCase {
  Entry entry;
  bool expected;
};

class IsExistingFolderTest : public ::testing::TestWithParam<FolderCase> {
 protected:
  std::string pathFor(Entry entry) {
    switch (entry) {
      case Entry::Folder:
        return tree.mkdir("carpeta");
      case Entry::FolderWithSlash:
        return tree.mkdir("carpeta") + "/";
      case Entry::File:
        return tree.write("fichero", "x");
      case Entry::FileWithSlash:
        return tree.write("fichero", "x") + "/";
      case Entry::LinkToFolder:
        ::symlink(tree.mkdir("destino").c_str(), tree.path("enlace").c_str());
        return tree.path("enlace");
      case Entry::DanglingLink:
        ::symlink(tree.path("nada").c_str(), tree.path("roto").c_str());
        return tree.path("roto");
      case Entry::Missing:
        return tree.path("no-existe");
      case Entry::Empty:
        return "";
      case Entry::Root:
        return "/";
    }
    return {};
  }
  TempTree tree;
};

TEST_P(IsExistingFolderTest, TellsFoldersFromEverythingElse) {
  EXPECT_EQ(IsExistingFolder(pathFor(GetParam().entry)), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Entries, IsExistingFolderTest,
    ::testing::Values(FolderCase{Entry::Folder, true}, FolderCase{Entry::FolderWithSlash, true},
                      FolderCase{Entry::File, false}, FolderCase{Entry::FileWithSlash, false},
                      FolderCase{Entry::LinkToFolder, true}, FolderCase{Entry::DanglingLink, false},
                      FolderCase{Entry::Missing, false}, FolderCase{Entry::Empty, false},
                      FolderCase{Entry::Root, true}));

TEST(IsExistingFolder, AFolderBehindALockedOneIsNotThereForAnOrdinaryUser) {
  TempTree tree;
  const std::string inner = tree.mkdir("cerrada/dentro");
  ::chmod(tree.root().c_str(), 0755);
  ::chmod(tree.path("cerrada").c_str(), 0700);
  EXPECT_EQ(runUnprivileged([&] { return IsExistingFolder(inner) ? 1 : 0; }), 0);
  EXPECT_TRUE(IsExistingFolder(inner));
}

struct CenterCase {
  QRect window;
  QRect screen;
  QPoint expected;
};

class CenterOnScreenTest : public ::testing::TestWithParam<CenterCase> {};

TEST_P(CenterOnScreenTest, CentresThenKeepsTheTopLeftCornerOnTheScreen) {
  const QPoint at = CenterOnScreen(GetParam().window, GetParam().screen);
  EXPECT_EQ(at, GetParam().expected) << at.x() << "," << at.y();
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, CenterOnScreenTest,
    ::testing::Values(CenterCase{QRect(5, 7, 400, 300), QRect(0, 0, 1024, 768), QPoint(312, 234)},
                      // Odd differences are truncated.
                      CenterCase{QRect(0, 0, 401, 301), QRect(0, 0, 1024, 768), QPoint(311, 233)},
                      CenterCase{QRect(0, 0, 1024, 768), QRect(0, 0, 1024, 768), QPoint(0, 0)},
                      // Larger than the screen: its top-left corner goes to the screen's.
                      CenterCase{QRect(0, 0, 1200, 900), QRect(0, 0, 1024, 768), QPoint(0, 0)},
                      CenterCase{QRect(0, 0, 1201, 300), QRect(0, 0, 1024, 768), QPoint(0, 234)},
                      CenterCase{QRect(0, 0, 300, 801), QRect(0, 0, 1024, 768), QPoint(362, 0)},
                      // A second screen to the right, or an area below a top panel.
                      CenterCase{QRect(0, 0, 400, 300), QRect(1920, 0, 1280, 1024),
                                 QPoint(2360, 362)},
                      CenterCase{QRect(0, 0, 400, 900), QRect(0, 32, 1024, 736), QPoint(312, 32)}));

}  // namespace
