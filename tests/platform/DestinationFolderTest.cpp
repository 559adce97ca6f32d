#include "platform/DestinationFolder.h"
#include "platform/FolderChain.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "support/TempTree.h"

TEST(DestinationFolder, NeverCreatesAFolderWhereDisksAreMounted) {
  for (const char* place :
       {"/mnt/usb", "/media/ana", "/run/media/ana", "/run/media/ana/DISCO", "/mnt", "/media"})
    EXPECT_TRUE(isMountPointPlace(place)) << place;
  for (const char* place : {"/mnt/usb/Copias", "/run/media/ana/DISCO/Copias", "/home/ana/media/x",
                            "/srv/mnt", "/run/user/1000/x"})
    EXPECT_FALSE(isMountPointPlace(place)) << place;
}

TEST(DestinationFolder, CreatesMissingParentsAndAcceptsAnExistingFolder) {
  TempTree tree;
  EXPECT_TRUE(createDestinationFolder(tree.path("a/b/c/")));
  EXPECT_TRUE(TempTree::exists(tree.path("a/b/c")));
  EXPECT_TRUE(createDestinationFolder(tree.path("a/b/c")));
  tree.write("file", "x");
  EXPECT_FALSE(createDestinationFolder(tree.path("file/sub/")));
  EXPECT_FALSE(createDestinationFolder(""));
}

TEST(DestinationFolder, AnUnmountedDiskIsNotReplacedByAFolder) {
  // Nothing is mounted at this made-up place, so it must not be created.
  EXPECT_FALSE(createDestinationFolder("/mnt/resguarda-no-disk-here/Copias/"));
  EXPECT_FALSE(TempTree::exists("/mnt/resguarda-no-disk-here"));
}

// Detours that must not lead the guard astray: it judges where the folder really goes.
TEST(DestinationFolder, TheGuardSeesThroughDotsAndLinks) {
  TempTree tree;
  ASSERT_EQ(::symlink("/mnt", tree.path("to-mnt").c_str()), 0);
  const std::string disk = "resguarda-no-disk-" + tree.root().substr(tree.root().rfind('-') + 1);
  ASSERT_FALSE(TempTree::exists("/mnt/" + disk));
  for (const std::string& detour :
       {"/./mnt/" + disk + "/backup/", "/tmp/../mnt/" + disk + "/backup/",
        "/mnt//" + disk + "/./backup", tree.path("to-mnt/" + disk + "/backup/")}) {
    EXPECT_FALSE(createDestinationFolder(detour)) << detour;
    EXPECT_FALSE(TempTree::exists("/mnt/" + disk)) << detour;
    ::rmdir(("/mnt/" + disk + "/backup").c_str());
    ::rmdir(("/mnt/" + disk).c_str());
  }
}

TEST(DestinationFolder, ResolvedPathsKeepTheMissingRestAsWritten) {
  TempTree tree;
  tree.mkdir("real/sub");
  ASSERT_EQ(::symlink(tree.path("real").c_str(), tree.path("link").c_str()), 0);
  const std::string real = tree.path("real");
  const std::pair<std::string, std::string> cases[] = {
      {tree.path("link/sub/"), real + "/sub"},
      {tree.path("link/./sub/../new/deeper"), real + "/new/deeper"},
      {tree.path("link/new/../x"), ""},  // ".." after a missing folder
      {"relative/path", ""},
      {"/", "/"},
  };
  for (const auto& [given, expected] : cases)
    EXPECT_EQ(resolveFolderPath(given), expected) << given;
}
