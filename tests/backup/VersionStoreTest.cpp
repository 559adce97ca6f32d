#include "backup/VersionStore.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "platform/Errors.h"
#include "platform/UniqueFd.h"
#include "support/DiskImage.h"
#include "support/TempTree.h"

namespace {

constexpr time_t kNow = 1796817600;  // 2026-12-09 12:00:00 UTC
constexpr time_t kDay = 86400;

class VersionStoreTest : public testing::Test {
 protected:
  VersionStoreTest() : dest(tree.root() + "/dest/") {
    tree.write("dest/Docs/sub/a.txt", "old a");
    tree.write("dest/Docs/sub/b.txt", "old b");
    ::chmod(tree.path("dest/Docs/sub").c_str(), 0750);
  }
  UniqueFd folder(const std::string& relative) {
    return UniqueFd(::open(tree.path(relative).c_str(), O_RDONLY | O_DIRECTORY));
  }
  // Keeps dest/Docs/sub/<name> in a run started at `start`.
  bool keep(VersionStore& store, const std::string& name) {
    const UniqueFd sub = folder("dest/Docs/sub");
    return store.keep(sub.get(), name.c_str(), "Docs", "sub/" + name, "/src/Docs/sub/" + name);
  }
  std::string runFolder(time_t start) { return "dest/versiones/" + VersionStore::stampOf(start); }

  TempTree tree;
  std::string dest;
};

TEST_F(VersionStoreTest, MovesTheOldCopyAsideWithItsFoldersModes) {
  VersionStore store(dest, kNow);
  EXPECT_TRUE(keep(store, "a.txt"));
  EXPECT_TRUE(keep(store, "b.txt"));
  EXPECT_FALSE(keep(store, "none.txt"));
  ::chmod(tree.write("dest/Docs/sub/ro.txt", "read-only").c_str(), 0444);
  EXPECT_FALSE(keep(store, "ro.txt"));
  EXPECT_EQ(TempTree::read(tree.path("dest/Docs/sub/ro.txt")), "read-only");
  const UniqueFd sub = folder("dest/Docs/sub");
  EXPECT_TRUE(store.restore(sub.get(), "b.txt", "Docs", "sub/b.txt"));
  EXPECT_EQ(TempTree::read(tree.path("dest/Docs/sub/b.txt")), "old b");
  ASSERT_TRUE(keep(store, "b.txt"));
  const std::string run = runFolder(kNow);
  EXPECT_EQ(TempTree::read(tree.path(run + "/Docs/sub/a.txt")), "old a");
  EXPECT_EQ(TempTree::read(tree.path(run + "/Docs/sub/b.txt")), "old b");
  EXPECT_FALSE(TempTree::exists(tree.path("dest/Docs/sub/a.txt")));
  struct stat st {};
  ASSERT_EQ(::stat(tree.path(run + "/Docs/sub").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0750u);
}

TEST_F(VersionStoreTest, NeverWritesThroughALinkNorReplacesAnything) {
  tree.mkdir("outside");
  const std::string versions = tree.path("dest/versiones");
  ASSERT_EQ(::symlink(tree.path("outside").c_str(), versions.c_str()), 0);
  VersionStore throughVersions(dest, kNow);
  EXPECT_THROW(keep(throughVersions, "a.txt"), ResguardaError);
  ASSERT_EQ(::unlink(versions.c_str()), 0);
  const std::string run = runFolder(kNow);
  tree.mkdir(run);
  ASSERT_EQ(::symlink(tree.path("outside").c_str(), tree.path(run + "/Docs").c_str()), 0);
  VersionStore linked(dest, kNow);
  EXPECT_THROW(keep(linked, "a.txt"), ResguardaError);
  EXPECT_EQ(TempTree::read(tree.path("dest/Docs/sub/a.txt")), "old a");
  EXPECT_TRUE(TempTree::list(tree.path("outside")).empty());

  // Nor through a second name of another file where the list goes.
  ASSERT_EQ(::unlink(tree.path(run + "/Docs").c_str()), 0);
  const std::string list = tree.path(run + "/" + kVersionListName);
  ASSERT_EQ(::unlink(list.c_str()), 0);
  ASSERT_EQ(::link(tree.write("outside/secret", "s").c_str(), list.c_str()), 0);
  VersionStore hardLinked(dest, kNow);
  EXPECT_THROW(keep(hardLinked, "a.txt"), ResguardaError);
  EXPECT_EQ(TempTree::read(tree.path("outside/secret")), "s");
  ASSERT_EQ(::unlink(list.c_str()), 0);

  tree.write(run + "/Docs/sub/a.txt", "a user's file");
  VersionStore taken(dest, kNow);
  try {
    keep(taken, "a.txt");
    ADD_FAILURE() << "kept over a file that was there";
  } catch (const ResguardaError& error) {
    EXPECT_EQ(error.path(), "/src/Docs/sub/a.txt");
  }
  EXPECT_EQ(TempTree::read(tree.path(run + "/Docs/sub/a.txt")), "a user's file");
  EXPECT_EQ(TempTree::read(tree.path("dest/Docs/sub/a.txt")), "old a");
}

TEST_F(VersionStoreTest, PruningRemovesOnlyWhatItKeptInOldRuns) {
  const time_t oldStart = kNow - 10 * kDay;
  {
    VersionStore old(dest, oldStart);
    keep(old, "a.txt");
    keep(old, "b.txt");
  }
  tree.write("dest/Docs/sub/a.txt", "newer a");
  VersionStore recent(dest, kNow - kDay);
  keep(recent, "a.txt");
  const std::string oldRun = runFolder(oldStart);
  // A user's own file in a kept folder, a kept file the user replaced, and a stamp-named
  // link and a forged list reaching outside.
  tree.write(oldRun + "/Docs/mine.txt", "mine");
  ASSERT_EQ(::unlink(tree.path(oldRun + "/Docs/sub/b.txt").c_str()), 0);
  tree.write(oldRun + "/Docs/sub/b.txt", "old b");
  tree.write("outside/x", "x");
  const std::string linkRun = "dest/versiones/" + VersionStore::stampOf(oldStart - kDay);
  ASSERT_EQ(::symlink(tree.path("outside").c_str(), tree.path(linkRun).c_str()), 0);
  const std::string forged = runFolder(oldStart - 2 * kDay);
  tree.write(forged + "/" + kVersionListName, "F 1 1 0 0 4 ../x\nD 2 ..\n");

  EXPECT_TRUE(pruneVersions(dest, 5, kNow).empty());

  EXPECT_EQ(TempTree::files(tree.path(oldRun)),
            (std::vector<std::string>{"Docs/mine.txt", "Docs/sub/b.txt"}));
  EXPECT_EQ(TempTree::read(tree.path(runFolder(kNow - kDay) + "/Docs/sub/a.txt")), "newer a");
  EXPECT_EQ(TempTree::read(tree.path("outside/x")), "x");

  EXPECT_TRUE(pruneVersions(dest, 0, kNow + 100 * kDay).empty());
  EXPECT_TRUE(TempTree::exists(tree.path(runFolder(kNow - kDay) + "/Docs/sub/a.txt")));
}

// A stick gets other inode numbers each time it is plugged in: what was kept there is still
// known as ours, and only that.
TEST(VersionsOnAStick, PruningAfterAReplugTakesWhatItKept) {
  DiskImage disk(DiskImage::Kind::Exfat);
  if (!disk.missing().empty()) GTEST_SKIP() << "no removable disk: " << disk.missing();
  const std::string dest = disk.mountPoint() + "/copias/";
  for (const std::string& folder : {dest, dest + "Docs"})
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
  for (const char* name : {"a.txt", "b.txt"}) {
    std::ofstream(dest + "Docs/" + name) << "old " << name;
  }
  const time_t start = kNow - 10 * kDay;
  {
    VersionStore store(dest, start);
    const UniqueFd docs(::open((dest + "Docs").c_str(), O_RDONLY | O_DIRECTORY));
    ASSERT_TRUE(store.keep(docs.get(), "a.txt", "Docs", "a.txt", "/src/Docs/a.txt"));
    ASSERT_TRUE(store.keep(docs.get(), "b.txt", "Docs", "b.txt", "/src/Docs/b.txt"));
  }
  const std::string run = dest + "versiones/" + VersionStore::stampOf(start) + "/Docs/";
  ASSERT_EQ(::unlink((run + "b.txt").c_str()), 0);
  std::ofstream(run + "b.txt") << "mine, not old";
  ASSERT_TRUE(disk.replug());
  EXPECT_TRUE(pruneVersions(dest, 5, kNow).empty());
  EXPECT_FALSE(TempTree::exists(run + "a.txt"));
  EXPECT_EQ(TempTree::read(run + "b.txt"), "mine, not old");
}

}  // namespace
