// Runs with earlier versions kept, exclusions and the check of the copies.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "backup/BackupRun.h"
#include "backup/CopyCheck.h"
#include "backup/VersionStore.h"
#include "support/RecordingObserver.h"
#include "support/TempTree.h"
#include "support/Unprivileged.h"

namespace {

constexpr time_t kOld = 1600000000;
using Lines = std::vector<std::string>;

struct Beyond {
  TempTree tree;
  TEstad estado;
  RecordingObserver observer;
  RunControl control;
  RunSnapshot snapshot{
      {{"uno", tree.path("uno"), true, false}}, tree.path("dest/"), tree.path("state")};

  RunResult run() {
    control.go = true;
    observer.lines.clear();
    return Resguarda(snapshot, estado, observer, control, {});
  }
  std::string stamp() const {
    return VersionStore::stampOf(std::chrono::system_clock::to_time_t(estado.InicioCopia()));
  }
};

struct VersionCase {
  const char* name;
  bool keep;
  bool versionsIsAFile;  // nothing can be kept: the copy must stay as it was
  bool merged;           // a second task of the same name updates the copy again
  const char* copy;      // the copy after the update
};
class Versions : public testing::TestWithParam<VersionCase> {};

TEST_P(Versions, AnUpdateKeepsTheOldCopyOrLeavesItAndSaysWhy) {
  const VersionCase& c = GetParam();
  Beyond f;
  f.snapshot.keepVersions = c.keep;
  f.tree.write("uno/sub/a.txt", "old", kOld);
  f.run();
  f.tree.write("uno/sub/a.txt", "new", kOld + 100);
  f.tree.write("b/uno/sub/a.txt", "newer", kOld + 200);
  if (c.merged) f.snapshot.rows.push_back({"b", f.tree.path("b/uno"), true, false});
  if (c.versionsIsAFile) f.tree.write("dest/versiones", "mine");
  const RunResult result = f.run();
  EXPECT_EQ(TempTree::read(f.tree.path("dest/uno/sub/a.txt")), c.copy);
  EXPECT_EQ(result.failures, c.versionsIsAFile ? 1 : 0);
  EXPECT_EQ(f.observer.lines.back().rfind("ERROR - " + f.tree.path("uno/sub/a.txt") + ": ", 0),
            c.versionsIsAFile ? 0u : std::string::npos);
  const std::string kept = f.tree.path("dest/versiones/" + f.stamp() + "/uno/sub/a.txt");
  EXPECT_EQ(TempTree::exists(kept) ? TempTree::read(kept) : "-",
            c.keep && !c.versionsIsAFile ? "old" : "-");
  if (!c.keep) {
    // The defaults: the run is as it always was, and nothing else is written.
    EXPECT_EQ(f.observer.lines, Lines{"ACTUALIZADO - " + f.tree.path("uno/sub/a.txt")});
    EXPECT_EQ(TempTree::list(f.tree.path("dest")), Lines{"uno"});
    EXPECT_FALSE(TempTree::exists(f.snapshot.stateFolder + "/" + kLastCheckFileName));
    EXPECT_FALSE(f.estado.Comprobando);
  }
}

INSTANTIATE_TEST_SUITE_P(Run, Versions,
                         testing::Values(VersionCase{"Kept", true, false, false, "new"},
                                         VersionCase{"CannotBeKept", true, true, false, "old"},
                                         VersionCase{"MergedTasks", true, false, true, "newer"},
                                         VersionCase{"Off", false, false, false, "new"}),
                         [](const auto& row) { return std::string(row.param.name); });

TEST(Beyond, OldVersionsArePrunedAtTheStartAndAUsersFileStays) {
  Beyond f;
  f.snapshot.versionDays = 5;
  const time_t now = ::time(nullptr);
  for (const time_t start : {now - 10 * 86400, now - 86400}) {
    f.tree.write("dest/uno/a.txt", "kept");
    const int folder = ::open(f.tree.path("dest/uno").c_str(), O_RDONLY | O_DIRECTORY);
    VersionStore(f.tree.path("dest/"), start).keep(folder, "a.txt", "uno", "a.txt", "a.txt");
    ::close(folder);
  }
  const std::string old = "dest/versiones/" + VersionStore::stampOf(now - 10 * 86400);
  f.tree.write(old + "/mine.txt", "mine");
  f.run();
  EXPECT_EQ(TempTree::files(f.tree.path(old)), Lines{"mine.txt"});
  EXPECT_EQ(TempTree::files(f.tree.path("dest/versiones/" + VersionStore::stampOf(now - 86400))),
            (Lines{kVersionListName, "uno/a.txt"}));
}

struct ExclusionCase {
  const char* name;
  std::vector<std::string> patterns;
  Lines copies;
};
class Excluded : public testing::TestWithParam<ExclusionCase> {};

TEST_P(Excluded, EntriesAreNeitherCopiedNorCounted) {
  Beyond f;
  f.snapshot.exclusions = GetParam().patterns;
  for (const char* file : {"a.txt", "b.tmp", "build/c.txt", "sub/build/d.txt"})
    f.tree.write(std::string("uno/") + file, "x", kOld);
  f.run();
  EXPECT_EQ(TempTree::files(f.tree.path("dest/uno")), GetParam().copies);
  EXPECT_EQ(f.estado.Revisados, static_cast<int>(GetParam().copies.size()));
}

INSTANTIATE_TEST_SUITE_P(
    Run, Excluded,
    testing::Values(ExclusionCase{"None", {}, {"a.txt", "b.tmp", "build/c.txt", "sub/build/d.txt"}},
                    ExclusionCase{"Names", {"*.tmp"}, {"a.txt", "build/c.txt", "sub/build/d.txt"}},
                    ExclusionCase{"Folders", {"build/"}, {"a.txt", "b.tmp"}},
                    ExclusionCase{
                        "PathFromTheTask", {"/build"}, {"a.txt", "b.tmp", "sub/build/d.txt"}}),
    [](const auto& row) { return std::string(row.param.name); });

// Run by a user who cannot read it, a folder is an ERROR unless it is excluded.
TEST(Beyond, AnExcludedFolderIsNeverEntered) {
  TempTree tree;
  ASSERT_EQ(::chmod(tree.root().c_str(), 0755), 0);
  ASSERT_EQ(::chown(tree.mkdir("mine").c_str(), 65534, 65534), 0);
  const int failures = runUnprivileged([&] {
    Beyond f;
    const std::string mine = tree.path("mine/");
    f.snapshot = {{{"uno", mine + "uno", true, false}}, mine + "dest/"};
    f.snapshot.exclusions = {"cache/"};
    if (::mkdir((mine + "uno").c_str(), 0700) || ::mkdir((mine + "uno/cache").c_str(), 0))
      return 99;
    const int excluded = f.run().failures;
    f.snapshot.exclusions.clear();
    return excluded * 10 + f.run().failures;
  });
  EXPECT_EQ(failures, 1);
}

TEST(Beyond, ADamagedCopyIsFoundRepairedAndNotKeptAsAVersion) {
  Beyond f;
  f.snapshot.keepVersions = true;
  f.tree.write("uno/a.txt", "hello", kOld);
  f.tree.write("uno/b.txt", "fine", kOld);
  f.run();
  TempTree::setMtime(f.tree.write("dest/uno/a.txt", "jello"), kOld);
  f.snapshot.forceCheck = true;
  const RunResult result = f.run();
  EXPECT_EQ(result.failures, 1);
  EXPECT_EQ(f.observer.lines,
            (Lines{"ERROR - " + f.tree.path("uno/a.txt") + ": " + kDamagedCopyReason,
                   "Comprobados: 2 Dañados: 1"}));
  EXPECT_EQ(f.observer.events().end()[-3], "log:Comprobados: 2 Dañados: 1");
  EXPECT_TRUE(f.estado.Comprobando);
  EXPECT_EQ(f.estado.Danados, 1);
  EXPECT_EQ(TempTree::read(f.tree.path("dest/uno/a.txt")), "hello");
  EXPECT_FALSE(TempTree::exists(f.tree.path("dest/versiones")));
  // Recorded: a check every day is not due again today.
  f.snapshot.forceCheck = false;
  f.snapshot.checkDays = 1;
  f.run();
  EXPECT_FALSE(f.estado.Comprobando);
  EXPECT_TRUE(f.observer.lines.empty());
}

}  // namespace
