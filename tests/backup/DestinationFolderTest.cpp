#include "backup/DestinationFolder.h"
#include "platform/FolderChain.h"

#include <gtest/gtest.h>

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
