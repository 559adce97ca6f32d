#include "platform/DestinationFolder.h"
#include "platform/FolderChain.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <functional>

#include "support/ForkedChild.h"
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
  EXPECT_EQ(createDestinationFolder(tree.path("a/b/c/")), 0);
  EXPECT_TRUE(TempTree::exists(tree.path("a/b/c")));
  EXPECT_EQ(createDestinationFolder(tree.path("a/b/c")), 0);
  tree.write("file", "x");
  EXPECT_EQ(createDestinationFolder(tree.path("file/sub/")), ENOTDIR);
  EXPECT_EQ(createDestinationFolder(""), ENOENT);
}

TEST(DestinationFolder, AnUnmountedDiskIsNotReplacedByAFolder) {
  // Nothing is mounted at this made-up place, so it must not be created.
  EXPECT_NE(createDestinationFolder("/mnt/resguarda-no-disk-here/Copias/"), 0);
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
    EXPECT_NE(createDestinationFolder(detour), 0) << detour;
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

namespace {

// A mount area as a test sets it up, in a mount namespace of its own so that nothing is
// mounted or made in the machine's own /media or /mnt.
struct MountCase {
  const char* name;
  std::function<bool()> setUp;  // false when a mount was refused
  const char* destination;
  bool missing;
};

bool tmpfsAt(const char* folder) {
  ::mkdir(folder, 0755);
  return ::mount("tmpfs", folder, "tmpfs", 0, "size=1m") == 0;
}

// /media on a tmpfs of its own, with a user's area holding a folder left by a disk.
bool mediaWithALeftFolder() {
  if (!tmpfsAt("/media")) return false;
  ::mkdir("/media/ana", 0755);
  return ::mkdir("/media/ana/DISCO", 0755) == 0;
}

// /mnt showing the system disk's root as it is, without the disks mounted on it.
bool mntOnTheSystemDisk() {
  return ::mount("/", "/mnt", nullptr, MS_BIND, nullptr) == 0;
}

class DiskMissing : public ::testing::TestWithParam<MountCase> {};

}  // namespace

TEST_P(DiskMissing, OnlyAMountedDiskCountsAsConnected) {
  const MountCase& c = GetParam();
  const std::string answer = runInChild([&]() -> std::string {
    if (::unshare(CLONE_NEWNS) != 0 ||
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 || !c.setUp())
      return "no mounts";
    return destinationDiskMissing(c.destination) ? "missing" : "connected";
  });
  if (answer == "no mounts") GTEST_SKIP() << "no private mounts here";
  EXPECT_EQ(answer, c.missing ? "missing" : "connected");
}

INSTANTIATE_TEST_SUITE_P(
    DestinationFolder, DiskMissing,
    ::testing::Values(
        MountCase{"AFolderLeftByADisk", mediaWithALeftFolder, "/media/ana/DISCO", true},
        MountCase{"BelowAFolderLeftByADisk", mediaWithALeftFolder, "/media/ana/DISCO/sub/x", true},
        MountCase{"APluggedDisk",
                  [] { return mediaWithALeftFolder() && tmpfsAt("/media/ana/DISCO"); },
                  "/media/ana/DISCO/Copias", false},
        MountCase{"ADiskMountedStraightBelowMedia",
                  [] { return tmpfsAt("/media") && tmpfsAt("/media/STICK"); },
                  "/media/STICK/Copias/sub", false},
        MountCase{"AFolderOfTheSystemDiskBelowMnt", mntOnTheSystemDisk, "/mnt/usr/Copias", true},
        MountCase{"ADiskMountedAtMntItself", [] { return tmpfsAt("/mnt"); }, "/mnt", false},
        MountCase{"AFolderOfADiskMountedAtMnt", [] { return tmpfsAt("/mnt"); }, "/mnt/x/Copias",
                  false},
        MountCase{"OutsideTheMountAreas", [] { return true; }, "/tmp/Copias", false}),
    [](const ::testing::TestParamInfo<MountCase>& row) { return std::string(row.param.name); });
