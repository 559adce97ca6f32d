#include "platform/WinePaths.h"

#include <unistd.h>

#include <gtest/gtest.h>
#include <cstdlib>

#include "support/ScopedVariable.h"
#include "support/TempTree.h"

namespace {

class WinePaths : public testing::Test {
 protected:
  void link(const std::string& target, const std::string& name) {
    tree_.mkdir("dosdevices");
    ASSERT_EQ(::symlink(target.c_str(), tree_.path("dosdevices/" + name).c_str()), 0);
  }
  std::string convert(const std::string& windowsPath) {
    return windowsToLinuxPath(windowsPath, tree_.root());
  }
  std::string root() const { return tree_.root(); }

  TempTree tree_;
};

TEST_F(WinePaths, DriveCThroughItsRelativeLink) {
  link("../drive_c", "c:");
  EXPECT_EQ(convert("C:\\users\\ana\\Correo\\"), root() + "/drive_c/users/ana/Correo/");
  EXPECT_EQ(convert("c:\\users\\ana\\Correo"), root() + "/drive_c/users/ana/Correo");
  EXPECT_EQ(convert("C:\\"), root() + "/drive_c/");
  EXPECT_EQ(convert("C:"), root() + "/drive_c");
  EXPECT_EQ(convert("C:x\\y"), root() + "/drive_c/x/y");
  EXPECT_EQ(convert("C:\\\\a\\/b\\\\"), root() + "/drive_c/a/b/");
  EXPECT_EQ(convert("\\\\?\\C:\\x"), root() + "/drive_c/x");
  // The prefix may be given with a trailing slash.
  EXPECT_EQ(windowsToLinuxPath("C:\\x", root() + "/"), root() + "/drive_c/x");
}

TEST_F(WinePaths, DriveCFallsBackToDriveCFolder) {
  EXPECT_EQ(convert("C:\\Correo\\"), root() + "/drive_c/Correo/");
}

TEST_F(WinePaths, OtherDrivesFollowTheirLinks) {
  link("/", "z:");
  link("/mnt/datos/", "d:");
  link("../../elsewhere/e", "e:");
  EXPECT_EQ(convert("Z:\\home\\ana\\"), "/home/ana/");
  EXPECT_EQ(convert("Z:\\"), "/");
  EXPECT_EQ(convert("d:\\Correo"), "/mnt/datos/Correo");
  const std::string parent = root().substr(0, root().rfind('/'));
  EXPECT_EQ(convert("E:\\x"), parent + "/elsewhere/e/x");
  // No link: an absolute path under the prefix that does not exist, never a relative one.
  EXPECT_EQ(convert("F:\\x"), root() + "/dosdevices/f:/x");
}

TEST_F(WinePaths, DriveThatIsARealFolder) {
  tree_.mkdir("dosdevices/c:");
  EXPECT_EQ(convert("C:\\x"), root() + "/dosdevices/c:/x");
}

TEST_F(WinePaths, PathsWithoutADriveKeepTheirText) {
  EXPECT_EQ(convert("\\\\server\\share\\x"), "//server/share/x");
  EXPECT_EQ(convert("/home/ana/Correo/"), "/home/ana/Correo/");
  EXPECT_EQ(convert("Correo\\x"), "Correo/x");
  EXPECT_EQ(convert("1:\\x"), "1:/x");
  EXPECT_EQ(convert(""), "");
}

TEST(WinePrefix, FromWineprefixElseHome) {
  ScopedVariable home("HOME", "/home/ana");
  {
    ScopedVariable prefix("WINEPREFIX", "/opt/wine/prefix//");
    EXPECT_EQ(winePrefix(), "/opt/wine/prefix");
    EXPECT_EQ(wineUserHive(winePrefix()), "/opt/wine/prefix/user.reg");
  }
  {
    ScopedVariable prefix("WINEPREFIX", "");
    EXPECT_EQ(winePrefix(), "/home/ana/.wine");
  }
  ScopedVariable prefix("WINEPREFIX", std::nullopt);
  EXPECT_EQ(winePrefix(), "/home/ana/.wine");
}

}  // namespace
