#include "app/RunLog.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "app/RunDisplay.h"
#include "platform/Environment.h"
#include "support/SmallTmpfs.h"
#include "support/TempTree.h"
#include "support/TestData.h"

namespace {

// Standard error of a RunLog, kept in a file of the test's tree.
class ErrorFile {
 public:
  explicit ErrorFile(const std::string& path)
      : path_(path), fd_(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600)) {}
  ~ErrorFile() { ::close(fd_); }
  int fd() const { return fd_; }
  std::string text() const { return TempTree::read(path_); }

 private:
  std::string path_;
  int fd_;
};

struct FolderCase {
  const char* name;
  std::string home, xdgStateHome, expected;
};

class RunLogFolder : public ::testing::TestWithParam<FolderCase> {};

}  // namespace

TEST_P(RunLogFolder, FollowsTheXdgRules) {
  EXPECT_EQ(stateFolder(GetParam().home, GetParam().xdgStateHome), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    RunLog, RunLogFolder,
    ::testing::Values(FolderCase{"Default", "/home/ana", "", "/home/ana/.local/state/resguarda"},
                      FolderCase{"StateHome", "/home/ana", "/var/st/", "/var/st/resguarda"},
                      FolderCase{"RelativeStateHomeIsUnset", "/home/ana", "st",
                                 "/home/ana/.local/state/resguarda"},
                      FolderCase{"RootHome", "/", "", "/.local/state/resguarda"},
                      FolderCase{"NoHome", "", "", ""}, FolderCase{"RelativeHome", "ana", "", ""}),
    [](const testing::TestParamInfo<FolderCase>& p) { return std::string(p.param.name); });

TEST(RunLog, KeepsEveryLineThatTheDisplayDropsAndTellsFailuresAsTheyCome) {
  TempTree tree;
  ErrorFile errors(tree.path("stderr"));
  RunDisplay display;
  RunLog log(display, tree.path("state/resguarda"), errors.fd());
  std::string expected, expectedErrors;
  log.runStarted();
  for (int i = 0; i < 1000000; ++i) {
    std::string line = "/d/" + std::to_string(i);
    if (i % 100000 == 7) line = (i % 200000 == 7 ? "ERROR - " : "AVISO - ") + line + ": motivo";
    log.logLine(line);
    expected += line + "\n";
    if (line[0] != '/') expectedErrors += line + "\n";
  }
  // Failures reach standard error during the run, not at its end.
  EXPECT_EQ(errors.text(), expectedErrors);
  EXPECT_FALSE(TempTree::exists(tree.path("state/resguarda/ultima-copia.log")));
  EXPECT_LE(display.take().lines.size(), RunDisplay::kMaxPendingLines);

  log.finish("Finalizado. Actualizados: 0 Copiados: 5 Revisados: 9");
  expected += "Finalizado. Actualizados: 0 Copiados: 5 Revisados: 9\n";
  const std::string file = tree.path("state/resguarda/ultima-copia.log");
  EXPECT_TRUE(TempTree::read(file) == expected);
  struct stat st {};
  ASSERT_EQ(::stat(tree.path("state/resguarda").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0700u);
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  EXPECT_EQ(TempTree::list(tree.path("state/resguarda")),
            std::vector<std::string>{"ultima-copia.log"});
}

TEST(RunLog, TheNextRunKeepsThePreviousLogAndNoLinkIsFollowed) {
  TempTree tree;
  ErrorFile errors(tree.path("stderr"));
  const std::string folder = tree.mkdir("state/resguarda");
  const std::string elsewhere = tree.write("elsewhere.txt", "not a log");
  ::symlink(elsewhere.c_str(), (folder + "/ultima-copia.log").c_str());
  NullRunObserver display;
  for (const char* run : {"uno", "dos", "tres"}) {
    RunLog log(display, folder, errors.fd());
    log.logLine(std::string("copia ") + run);
    log.finish(std::nullopt);
  }
  EXPECT_EQ(TempTree::read(folder + "/ultima-copia.log"), "copia tres\n");
  EXPECT_EQ(TempTree::read(folder + "/ultima-copia.1.log"), "copia dos\n");
  EXPECT_EQ(TempTree::read(elsewhere), "not a log");
  EXPECT_EQ(TempTree::list(folder),
            (std::vector<std::string>{"ultima-copia.1.log", "ultima-copia.log"}));
  EXPECT_EQ(errors.text(), "");
}

// A state folder the user does not hold: no log is written, nothing is made, and it is said.
struct UntrustedCase {
  const char* name;
  bool linked;   // state/resguarda is a link to a folder of ours
  uid_t parent;  // owner of the existing state/ when resguarda is missing
};

class UntrustedStateFolder : public ::testing::TestWithParam<UntrustedCase> {};

TEST_P(UntrustedStateFolder, GetsNoLog) {
  TempTree tree;
  ErrorFile errors(tree.path("stderr"));
  const std::string parent = tree.mkdir("state");
  if (GetParam().linked)
    ASSERT_EQ(::symlink(tree.mkdir("ours").c_str(), (parent + "/resguarda").c_str()), 0);
  else
    ASSERT_EQ(::chown(parent.c_str(), GetParam().parent, GetParam().parent), 0);
  {
    NullRunObserver display;
    RunLog log(display, parent + "/resguarda", errors.fd());
    log.logLine("copia");
    log.finish(std::nullopt);
  }
  EXPECT_NE(errors.text().find("no se puede escribir el registro de la copia"), std::string::npos);
  EXPECT_TRUE(TempTree::list(GetParam().linked ? tree.path("ours") : parent).empty());
}

INSTANTIATE_TEST_SUITE_P(
    RunLog, UntrustedStateFolder,
    ::testing::Values(UntrustedCase{"Linked", true, 0},
                      // Root with a user's HOME must not leave folders of its own in it.
                      UntrustedCase{"InSomeoneElsesFolder", false, 1234}),
    [](const testing::TestParamInfo<UntrustedCase>& p) { return std::string(p.param.name); });

TEST(RunLog, ALogThatDoesNotFitLeavesThePreviousOneAndSaysSoOnce) {
  TempTree tree;
  SmallTmpfs disk(tree.path("state"));
  if (!disk.mounted()) GTEST_SKIP() << "no small file system could be mounted";
  ErrorFile errors(tree.path("stderr"));
  const std::string folder = tree.path("state/resguarda");
  NullRunObserver display;
  {
    RunLog first(display, folder, errors.fd());
    first.logLine("primera");
    first.finish("Finalizado. Actualizados: 0 Copiados: 0 Revisados: 1");
  }
  RunLog log(display, folder, errors.fd());
  for (int i = 0; i < 40000; ++i) log.logLine("ERROR - /d/" + std::to_string(i) + ": sin espacio");
  log.finish("Finalizado. Actualizados: 0 Copiados: 0 Revisados: 40000");
  EXPECT_EQ(TempTree::read(folder + "/ultima-copia.log"),
            "primera\nFinalizado. Actualizados: 0 Copiados: 0 Revisados: 1\n");
  EXPECT_EQ(TempTree::list(folder), std::vector<std::string>{"ultima-copia.log"});
  // Every failure still reached standard error, and one line more tells of the log.
  const std::vector<std::string> told = linesOf(errors.text());
  ASSERT_EQ(told.size(), 40001u);
  EXPECT_EQ(std::count_if(told.begin(), told.end(),
                          [](const std::string& l) { return l.starts_with("resguarda: "); }),
            1);
}

TEST(RunLog, AFileNameCannotForgeALine) {
  EXPECT_EQ(printableLine("/d/a\nERROR - nada\r\x1b[2J\tb"),
            "/d/a\\x0aERROR - nada\\x0d\\x1b[2J\tb");
  EXPECT_EQ(printableLine("caf\xe9 \xc3\xb1"), "caf\xe9 \xc3\xb1");
}
