#include "platform/UserFolders.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "support/TempTree.h"

namespace {

class UserFoldersTest : public testing::Test {
 protected:
  UserFolders load(const std::string& dirs) {
    tree_.write("home/.config/user-dirs.dirs", dirs);
    return UserFolders::load(home(), "", "");
  }
  std::string home() const { return tree_.path("home"); }

  TempTree tree_;
};

TEST_F(UserFoldersTest, ReadsTheUsersOwnNames) {
  const UserFolders folders = load(
      "# This file is written by xdg-user-dirs-update\n"
      "XDG_DESKTOP_DIR=\"$HOME/Escritorio\"\n"
      "XDG_DOWNLOAD_DIR=\"$HOME/Descargas\"\n"
      "XDG_DOCUMENTS_DIR=\"$HOME/Documentos\"\n");
  EXPECT_EQ(folders.personal, home() + "/Documentos");
  EXPECT_EQ(folders.desktop, home() + "/Escritorio");
  EXPECT_EQ(folders.appData, home() + "/.local/share");
  EXPECT_EQ(folders.favorites, "");
}

struct LineCase {
  const char* name;
  std::string line;
  std::string expected;  // relative to home when not starting with "/", "" meaning the default
};

void PrintTo(const LineCase& c, std::ostream* os) {
  *os << c.name;
}

class DocumentsLine : public testing::TestWithParam<LineCase> {};

TEST_P(DocumentsLine, GivesTheFolderOrTheDefault) {
  TempTree tree;
  tree.write("home/.config/user-dirs.dirs", GetParam().line + "\n");
  const std::string home = tree.path("home");
  const std::string& expected = GetParam().expected;
  const std::string wanted = expected.empty()          ? home + "/Documents"
                             : expected.front() == '/' ? expected
                                                       : home + "/" + expected;
  EXPECT_EQ(UserFolders::load(home, "", "").personal, wanted);
}

INSTANTIATE_TEST_SUITE_P(
    UserFolders, DocumentsLine,
    testing::Values(
        LineCase{"Absolute", "XDG_DOCUMENTS_DIR=\"/srv/docs/\"", "/srv/docs"},
        LineCase{"TrailingSlash", "XDG_DOCUMENTS_DIR=\"$HOME/Docs//\"", "Docs"},
        LineCase{"Escapes", "XDG_DOCUMENTS_DIR=\"$HOME/Mis \\\"docs\\\\\"", "Mis \"docs\\"},
        LineCase{"Spaces", "  XDG_DOCUMENTS_DIR = \"$HOME/Mis documentos\"", "Mis documentos"},
        LineCase{"CrLf", "XDG_DOCUMENTS_DIR=\"$HOME/Docs\"\r", "Docs"},
        LineCase{"Relative", "XDG_DOCUMENTS_DIR=\"Docs\"", ""},
        LineCase{"OtherVariable", "XDG_DOCUMENTS_DIR=\"$HOMEX/Docs\"", ""},
        LineCase{"Unquoted", "XDG_DOCUMENTS_DIR=$HOME/Docs", ""},
        LineCase{"Unterminated", "XDG_DOCUMENTS_DIR=\"$HOME/Docs", ""},
        LineCase{"Commented", "#XDG_DOCUMENTS_DIR=\"$HOME/Docs\"", ""},
        LineCase{"LongerKey", "XDG_DOCUMENTS_DIRS=\"$HOME/Docs\"", ""},
        LineCase{"LaterWins", "XDG_DOCUMENTS_DIR=\"$HOME/A\"\nXDG_DOCUMENTS_DIR=\"$HOME/B\"", "B"}),
    [](const testing::TestParamInfo<LineCase>& param) { return param.param.name; });

TEST(UserFolders, HomeItselfHasNoTrailingSlash) {
  TempTree tree;
  tree.write("home/.config/user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"$HOME/\"\n");
  EXPECT_EQ(UserFolders::load(tree.path("home") + "/", "", "").personal, tree.path("home"));
}

TEST_F(UserFoldersTest, DefaultsWithoutTheFile) {
  const UserFolders folders = UserFolders::load(home(), "", "");
  EXPECT_EQ(folders.personal, home() + "/Documents");
  EXPECT_EQ(folders.desktop, home() + "/Desktop");
  EXPECT_EQ(folders.appData, home() + "/.local/share");
}

TEST_F(UserFoldersTest, XdgBaseFolders) {
  tree_.write("config/user-dirs.dirs", "XDG_DESKTOP_DIR=\"$HOME/Mesa\"\n");
  tree_.write("home/.config/user-dirs.dirs", "XDG_DESKTOP_DIR=\"$HOME/Ignored\"\n");
  const UserFolders folders =
      UserFolders::load(home(), tree_.path("config"), tree_.path("data") + "/");
  EXPECT_EQ(folders.desktop, home() + "/Mesa");
  EXPECT_EQ(folders.appData, tree_.path("data"));

  // Relative base folders are not valid and are taken as unset.
  const UserFolders relative = UserFolders::load(home(), "config", "data");
  EXPECT_EQ(relative.desktop, home() + "/Ignored");
  EXPECT_EQ(relative.appData, home() + "/.local/share");
}

TEST_F(UserFoldersTest, AFifoInPlaceOfTheFileIsNotWaitedOn) {
  tree_.mkdir("home/.config");
  ASSERT_EQ(::mkfifo(tree_.path("home/.config/user-dirs.dirs").c_str(), 0600), 0);
  EXPECT_EQ(UserFolders::load(home(), "", "").personal, home() + "/Documents");
}

TEST(UserFolders, UnknownHomeGuessesNothing) {
  const UserFolders folders = UserFolders::load("", "", "");
  EXPECT_EQ(folders.personal, "");
  EXPECT_EQ(folders.desktop, "");
  EXPECT_EQ(folders.appData, "");
}

}  // namespace
