#include "backup/CopiarCarpeta.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <functional>
#include <optional>
#include <stdexcept>
#include <vector>

#include "MirrorFixture.h"
#include "backup/RunContext.h"
#include "support/ForkedChild.h"
#include "support/TempTree.h"

namespace {

using namespace mirror_test;

// The update rule, one source file against what the destination already holds.
struct UpdateCase {
  const char* name;
  time_t source;
  std::optional<time_t> destination;  // none: missing
  bool copied;
};

class UpdateRule : public Mirror, public testing::WithParamInterface<UpdateCase> {};

TEST_P(UpdateRule, CopiesMissingAndOlderCopiesOnly) {
  const UpdateCase& c = GetParam();
  const std::string source = tree.write("Mis/x.txt", "new", c.source);
  if (c.destination) tree.write("bk/Mis/x.txt", "old", *c.destination);
  mirror("Mis");

  const bool update = c.copied && c.destination;
  EXPECT_EQ(TempTree::read(out("Mis/x.txt")), c.copied ? "new" : "old");
  EXPECT_EQ(observer.lines, c.copied ? Files{(update ? "ACTUALIZADO - " : "") + source} : Files{});
  expectCounts(c.copied && !update, update, 1);
  EXPECT_EQ(run.failures, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UpdateRule,
    testing::Values(UpdateCase{"Missing", T, std::nullopt, true},
                    UpdateCase{"SameTime", T, T, false},
                    UpdateCase{"SameTwoSecondStep", T + 1, T, false},
                    UpdateCase{"NewerByOneStep", T + 2, T, true},
                    UpdateCase{"DestinationMuchOlder", T, T - 400 * 86400, true},
                    UpdateCase{"DestinationNewer", T, T + 2, false},
                    // A copy dated in the future is never newer than a source of the past.
                    UpdateCase{"FutureCopy", T, 2400000000, true}),
    [](const testing::TestParamInfo<UpdateCase>& p) { return std::string(p.param.name); });

TEST_F(Mirror, TaskFolderKeepsItsNameInsideTheDestination) {
  tree.write("docs/Mis/a/b/x.txt", "x", T);
  tree.write("docs/Mis/top.txt", "t", T);
  mirror("docs/Mis");
  EXPECT_EQ(copied(), (Files{"Mis/a/b/x.txt", "Mis/top.txt"}));
  // Subfolders are walked before the files of their parent.
  EXPECT_EQ(observer.lines,
            (Files{tree.path("docs/Mis/a/b/x.txt"), tree.path("docs/Mis/top.txt")}));
  EXPECT_EQ(observer.refreshes, 2);
}

TEST_F(Mirror, CopyKeepsTheSourcesTimeAndMode) {
  tree.write("Mis/x.txt", "x", T);
  ::chmod(tree.path("Mis/x.txt").c_str(), 0600);
  mirror("Mis");
  struct stat st {};
  ASSERT_EQ(::stat(out("Mis/x.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtime, T);
  EXPECT_EQ(st.st_mode & 07777, 0600);
  // And so a second run finds it up to date.
  observer.lines.clear();
  mirror("Mis");
  EXPECT_TRUE(observer.lines.empty());
}

TEST_F(Mirror, StopRequestLetsTheFileInProgressFinishAndNothingMore) {
  for (const char* f : {"Mis/a/1", "Mis/a/2", "Mis/b/3", "Mis/4", "Mis/5"}) tree.write(f, f, T);
  observer.onLine = [this](const std::string&) { control.go = false; };
  mirror("Mis");
  ASSERT_EQ(observer.lines.size(), 1u);
  EXPECT_EQ(copied().size(), 1u);
  expectCounts(1, 0, 1);
}

TEST_F(Mirror, StopFlagDownBeforeTheCallTouchesNothing) {
  tree.write("Mis/x.txt", "x", T);
  control.go = false;
  mirror("Mis");
  EXPECT_TRUE(TempTree::list(dest).empty());
  EXPECT_TRUE(observer.lines.empty());
  expectCounts(0, 0, 0);
}

TEST_F(Mirror, HiddenFoldersAreNotEnteredButDotFilesAreCopied) {
  tree.write("Mis/.cache/x", "x", T);
  tree.write("Mis/.profile", "p", T);
  tree.write("Mis/sub/.rc", "r", T);
  mirror("Mis");
  EXPECT_EQ(copied(), (Files{"Mis/.profile", "Mis/sub/.rc"}));
}

TEST_F(Mirror, SpecialFilesAreNeverOpenedNorCounted) {
  tree.write("Mis/x.txt", "x", T);
  ASSERT_EQ(::mkfifo(tree.path("Mis/fifo").c_str(), 0644), 0);
  ASSERT_EQ(::symlink("fifo", tree.path("Mis/to-fifo").c_str()), 0);
  const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  const std::string sockPath = tree.path("Mis/sock");
  ASSERT_LT(sockPath.size(), sizeof addr.sun_path);
  sockPath.copy(addr.sun_path, sockPath.size());
  ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  mirror("Mis");  // would hang on opening the FIFO
  ::close(sock);
  EXPECT_EQ(TempTree::list(out("Mis")), Files{"x.txt"});
  expectCounts(1, 0, 1);
}

TEST_F(Mirror, LinksAreFollowedAndCyclesEnd) {
  tree.write("Mis/x", "x", T);
  tree.write("Mis/a/y", "y", T);
  tree.write("other/z", "z", T);
  tree.write("target.txt", "content", T);
  ASSERT_EQ(::symlink("..", tree.path("Mis/a/up").c_str()), 0);
  ASSERT_EQ(::symlink(tree.path("Mis").c_str(), tree.path("Mis/a/self").c_str()), 0);
  ASSERT_EQ(::symlink("../other", tree.path("Mis/linked").c_str()), 0);
  ASSERT_EQ(::symlink("../target.txt", tree.path("Mis/file-link").c_str()), 0);
  ASSERT_EQ(::symlink("nowhere", tree.path("Mis/dangling").c_str()), 0);
  ASSERT_EQ(::symlink("Mis", tree.path("MisLink").c_str()), 0);
  mirrorPath(tree.path("MisLink"));
  EXPECT_EQ(copied(), (Files{"MisLink/a/y", "MisLink/file-link", "MisLink/linked/z", "MisLink/x"}));
  EXPECT_EQ(TempTree::read(out("MisLink/file-link")), "content");
  expectCounts(4, 0, 4);
  EXPECT_EQ(run.failures, 0);
}

// Deep folders give their descriptor back while their subfolders are walked.
TEST_F(Mirror, DeepTreeKeepsEveryLevelsFiles) {
  std::string deep = "Mis";
  for (int i = 0; i < 230; ++i) deep += "/d";
  tree.write(deep + "/bottom", "b", T);
  tree.write("Mis/d/d/top", "t", T);
  tree.write(deep.substr(0, 3 + 2 * 210) + "/middle", "m", T);
  mirror("Mis");
  EXPECT_EQ(copied(),
            (Files{deep + "/bottom", deep.substr(0, 3 + 2 * 210) + "/middle", "Mis/d/d/top"}));
}

TEST_F(Mirror, NamesAreBytes) {
  const std::string latin1 = "caf\xe9 \xff.txt";
  const std::string longest(255, 'n');
  tree.write("Mis/" + latin1, "l", T);
  tree.write("Mis/" + longest, "n", T);
  mirror("Mis");
  EXPECT_EQ(TempTree::read(out("Mis/" + latin1)), "l");
  EXPECT_EQ(TempTree::read(out("Mis/" + longest)), "n");
  expectCounts(2, 0, 2);
}

TEST_F(Mirror, ReadOnlyCopyIsNotReplaced) {
  const std::string source = tree.write("Mis/x.txt", "new", T + 10);
  const std::string copy = tree.write("bk/Mis/x.txt", "old", T);
  ::chmod(copy.c_str(), 0444);
  tree.write("Mis/y.txt", "y", T);
  mirror("Mis");
  EXPECT_EQ(TempTree::read(copy), "old");
  EXPECT_EQ(TempTree::read(out("Mis/y.txt")), "y");
  ASSERT_EQ(observer.lines.size(), 3u);
  EXPECT_EQ(observer.lines[0].rfind("ACTUALIZADO - " + source, 0), 0u) << observer.lines[0];
  EXPECT_EQ(observer.lines[1], "ERROR - " + copy + ": Permission denied");
  expectCounts(1, 0, 2);
  EXPECT_EQ(run.failures, 1);
  EXPECT_EQ(TempTree::list(out("Mis")), (Files{"x.txt", "y.txt"}));
}

TEST_F(Mirror, UnreadableSourceFileAndFolderWithoutPermissionOverride) {
  const std::string locked = tree.write("Mis/locked.txt", "secret", T);
  tree.write("Mis/shut/inner.txt", "i", T);
  tree.write("Mis/ok.txt", "ok", T);
  ::chmod(locked.c_str(), 0);
  ::chmod(tree.path("Mis/shut").c_str(), 0);
  const std::string result = runInChild([this] {
    dropPermissionOverride();
    mirror("Mis");
    std::string r = std::to_string(estado.Copiados) + " " + std::to_string(estado.Revisados) + " " +
                    std::to_string(run.failures) + "\n";
    for (const auto& line : observer.lines) r += line + "\n";
    return r;
  });
  // Neither the file nor the folder is passed over silently.
  EXPECT_EQ(result, "1 2 2\nERROR - " + tree.path("Mis/shut") + ": Permission denied\n" + locked +
                        "\nERROR - " + locked + ": Permission denied\n" + tree.path("Mis/ok.txt") +
                        "\n");
  EXPECT_EQ(copied(), Files{"Mis/ok.txt"});
}

TEST_F(Mirror, EmptyFoldersCreateNothingAndDeletedFilesStay) {
  tree.mkdir("Mis/empty/deeper");
  tree.write("bk/Mis/gone.txt", "kept", T);
  mirror("Mis");
  EXPECT_EQ(copied(), Files{"Mis/gone.txt"});
  EXPECT_FALSE(TempTree::exists(out("Mis/empty")));
  expectCounts(0, 0, 0);
}

TEST_F(Mirror, DestinationInsideTheTaskIsNotWalked) {
  tree.write("Mis/x", "x", T);
  ASSERT_EQ(::symlink("bk", tree.path("Mis/alias").c_str()), 0);
  dest = tree.path("Mis/bk") + "/";
  run.dirDestino = dest;
  tree.mkdir("Mis/bk");
  mirror("Mis");
  mirror("Mis");
  EXPECT_EQ(copied(), Files{"Mis/x"});
  expectCounts(1, 0, 2);
}

TEST_F(Mirror, EmptyTaskPathIsPassedOver) {
  const MirrorTask task{"", FileIdentity::ofFolder(dest)};
  CopiarCarpeta(task, run);
  expectCounts(0, 0, 0);
  EXPECT_TRUE(observer.lines.empty());
}

TEST_F(Mirror, MissingTaskFolderIsPassedOver) {
  mirror("nothing-here");
  EXPECT_TRUE(observer.lines.empty());
  EXPECT_TRUE(TempTree::list(dest).empty());
}

TEST_F(Mirror, FullLogDoesNotStopTheCopy) {
  tree.write("Mis/x", "x", T);
  tree.write("Mis/y", "y", T);
  observer.logFull = true;
  mirror("Mis");
  EXPECT_EQ(copied(), (Files{"Mis/x", "Mis/y"}));
  expectCounts(2, 0, 2);
}

TEST_F(Mirror, DestinationThatCannotBeCreatedFailsEachFile) {
  tree.write("Mis/a/x", "x", T);
  tree.write("Mis/a/y", "y", T);
  tree.write("bk/Mis/a", "a file where the folder should be", T);
  mirror("Mis");
  expectCounts(0, 0, 2);
  EXPECT_EQ(run.failures, 2);
  EXPECT_EQ(observer.lines.size(), 4u);
}

TEST_F(Mirror, FutureDateNeitherHidesTheNextEditNorRepeatsItsWarning) {
  constexpr time_t k2031 = 1938074400;
  const std::string source = tree.write("Mis/foto.jpg", "camera", k2031);
  mirror("Mis");
  mirror("Mis");  // a second task over the same file names it no more
  EXPECT_EQ(TempTree::read(out("Mis/foto.jpg")), "camera");
  const Files warned = observer.lines;
  ASSERT_EQ(warned.size(), 2u);
  EXPECT_EQ(warned[0].rfind("AVISO - " + source + ": la fecha del archivo (", 0), 0u);
  EXPECT_EQ(warned[1], source);

  // The edit the user saves now is older than the copy's date, and still taken.
  TempTree::setMtime(tree.write("Mis/foto.jpg", "edited"), ::time(nullptr) - 10);
  observer.lines.clear();
  mirror("Mis");
  EXPECT_EQ(TempTree::read(out("Mis/foto.jpg")), "edited");
  EXPECT_EQ(observer.lines, Files{"ACTUALIZADO - " + source});
}

}  // namespace
