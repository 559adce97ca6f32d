#include <sys/mount.h>
#include <sys/stat.h>

#include <memory>

#include "UnattendedFixture.h"
#include "platform/FolderChain.h"
#include "platform/RunLock.h"
#include "support/SmallTmpfs.h"
#include "support/TestData.h"

namespace {

constexpr time_t kOld = 1600000000;

std::vector<std::string> failureLines(const std::string& text) {
  std::vector<std::string> found;
  for (const std::string& line : linesOf(text))
    if (line.starts_with("ERROR - ")) found.push_back(line);
  return found;
}

}  // namespace

TEST_F(UnattendedProgram, MirrorsByTheUpdateRuleAndPrintsTheSummary) {
  tree.write("docs/a.txt", "a", kOld);
  tree.write("docs/sub/b.txt", "b", kOld);
  tree.write("docs/.oculta/c.txt", "c", kOld);
  writeSettings(tree.path("copias"), {tree.path("docs")});

  Outcome first = run({"x"});
  EXPECT_EQ(first.status, 0) << first.err;
  EXPECT_EQ(first.out, "Finalizado. Actualizados: 0 Copiados: 2 Revisados: 2\n");
  EXPECT_EQ(TempTree::files(tree.path("copias")),
            (std::vector<std::string>{"docs/a.txt", "docs/sub/b.txt"}));

  Outcome second = run({"-hide"});
  EXPECT_EQ(second.status, 0) << second.err;
  EXPECT_EQ(second.out, "Finalizado. Actualizados: 0 Copiados: 0 Revisados: 2\n");

  tree.write("docs/a.txt", "a2", kOld + 3600);
  Outcome third = run({"-HIDE"});
  EXPECT_EQ(third.out, "Finalizado. Actualizados: 1 Copiados: 0 Revisados: 2\n");
  EXPECT_EQ(TempTree::read(tree.path("copias/docs/a.txt")), "a2");
  // Closing saved the settings in their normal form, and nothing more: no key that the
  // user did not write is ever added.
  EXPECT_EQ(TempTree::read(iniPath()), "[CONFIGURACION]\nDIR_DESTINO=" + tree.path("copias/") +
                                           "\n[TAREAS]\n0=1 " + tree.path("docs") + "\n");
}

TEST_F(UnattendedProgram, AFileThatFailsGivesStatusOne) {
  tree.write("docs/a.txt", "new", kOld + 3600);
  tree.write("docs/b.txt", "b", kOld);
  const std::string locked = tree.write("copias/docs/a.txt", "old", kOld);
  ::chmod(locked.c_str(), 0444);
  writeSettings(tree.path("copias"), {tree.path("docs")});
  const Outcome outcome = run({"x"});
  EXPECT_EQ(outcome.status, 1) << outcome.err;
  EXPECT_EQ(outcome.out, "Finalizado. Actualizados: 0 Copiados: 1 Revisados: 2\n");
  EXPECT_EQ(TempTree::read(locked), "old");
}

TEST_F(UnattendedProgram, WithoutADestinationItCannotRun) {
  tree.write("docs/a.txt", "a", kOld);
  writeSettings("", {tree.path("docs")});
  const Outcome outcome = run({"-hide"});
  EXPECT_EQ(outcome.status, 2);
  EXPECT_EQ(outcome.out, "");
  EXPECT_NE(outcome.err.find("destino"), std::string::npos) << outcome.err;
}

TEST_F(UnattendedProgram, SettingsThatCannotBeReadOrSavedAreExitTwoWithTheReason) {
  tree.write("docs/a.txt", "a", kOld);
  writeSettings(tree.path("copias"), {tree.path("docs")});
  ::chmod(iniPath().c_str(), 0444);
  Outcome outcome = run({"-hide"});
  EXPECT_EQ(outcome.status, 2);
  EXPECT_EQ(outcome.err.rfind("resguarda: Unable to write to " + iniPath() + ": ", 0), 0u)
      << outcome.err;
  ::unlink(iniPath().c_str());
  tree.mkdir("app/Resguarda.ini");  // a folder cannot be read as the settings
  outcome = run({"-hide"});
  EXPECT_EQ(outcome.status, 2);
  EXPECT_EQ(outcome.err.rfind("resguarda: Cannot open file " + iniPath() + ": ", 0), 0u)
      << outcome.err;
}

namespace {

// A destination the program cannot use: it sets it up (holding whatever must stay in place
// while the program runs) and gives DIR_DESTINO and the line the program must say.
struct UnusableCase {
  const char* name;
  std::function<std::pair<std::string, std::string>(TempTree&, std::shared_ptr<void>&)> setUp;
  bool anotherRun = false;  // the log is the other run's: left as it was
};

class UnattendedUnusable : public UnattendedProgram,
                           public ::testing::WithParamInterface<UnusableCase> {};

}  // namespace

TEST_P(UnattendedUnusable, ExitsTwoWithOneSpanishLineThatSaysWhy) {
  tree.write("docs/a.txt", "a", kOld);
  std::shared_ptr<void> held;
  const auto [destination, problem] = GetParam().setUp(tree, held);
  if (destination.empty()) GTEST_SKIP() << problem;
  writeSettings(destination, {tree.path("docs")});
  const std::string log = tree.write("state/resguarda/ultima-copia.log", "la copia anterior\n");
  const Outcome outcome = run({"-hide"});
  EXPECT_EQ(outcome.status, 2);
  EXPECT_EQ(outcome.out, "");
  EXPECT_EQ(outcome.err, "ERROR - " + problem + "\n");
  EXPECT_EQ(TempTree::read(log),
            GetParam().anotherRun ? "la copia anterior\n" : "ERROR - " + problem + "\n");
  EXPECT_FALSE(TempTree::exists(tree.path("copias/docs")));
}

INSTANTIATE_TEST_SUITE_P(
    UnattendedProgram, UnattendedUnusable,
    ::testing::Values(
        UnusableCase{"AReadOnlyDisk",
                     [](TempTree& at, std::shared_ptr<void>& held) {
                       auto disk = std::make_shared<SmallTmpfs>(at.path("disk"));
                       held = disk;
                       if (!disk->mounted() || ::mount(nullptr, disk->folder().c_str(), nullptr,
                                                       MS_REMOUNT | MS_RDONLY, nullptr) != 0)
                         return std::make_pair(std::string(), std::string("no mounts here"));
                       return std::make_pair(at.path("disk"),
                                             "No se puede escribir en la carpeta de destino " +
                                                 at.path("disk") + ": el disco es de solo lectura");
                     }},
        UnusableCase{"AnotherRunGoingOn",
                     [](TempTree& at, std::shared_ptr<void>& held) {
                       at.mkdir("copias");
                       held = std::make_shared<RunLock>(
                           RunLock::take(at.path("state/resguarda"),  // the program's state folder
                                         resolveFolderPath(at.path("copias"))));
                       return std::make_pair(at.path("copias"), "Ya hay una copia en curso hacia " +
                                                                    at.path("copias"));
                     },
                     true}),
    [](const ::testing::TestParamInfo<UnusableCase>& row) { return std::string(row.param.name); });

TEST_F(UnattendedProgram, AnInteractiveStartWithoutADisplayFailsClearly) {
  const Outcome outcome = run({});
  EXPECT_EQ(outcome.status, 2);
  EXPECT_EQ(std::count(outcome.err.begin(), outcome.err.end(), '\n'), 1) << outcome.err;
  EXPECT_FALSE(TempTree::exists(iniPath()));
}

TEST_F(UnattendedProgram, SigtermStopsTheRunCleanly) {
  // Enough data that the run is still copying when the signal comes.
  const std::string block(4 << 20, 'x');
  for (int i = 0; i < 64; ++i) tree.write("docs/f" + std::to_string(i), block, kOld);
  writeSettings(tree.path("copias"), {tree.path("docs")});
  const Outcome outcome = run({"-hide"}, [&](pid_t pid) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!TempTree::exists(tree.path("copias/docs")) &&
           std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    ::kill(pid, SIGTERM);
  });
  EXPECT_EQ(outcome.status, 3) << outcome.out << outcome.err;
  EXPECT_EQ(outcome.out.rfind("Detenido. Actualizados: 0 Copiados: ", 0), 0u) << outcome.out;
  // Every copy is whole or absent, and nothing temporary is left.
  for (const std::string& name : TempTree::list(tree.path("copias/docs"))) {
    ASSERT_EQ(name[0], 'f') << "left behind: " << name;
    EXPECT_EQ(TempTree::read(tree.path("copias/docs/" + name)).size(), block.size()) << name;
  }
  EXPECT_LT(TempTree::list(tree.path("copias/docs")).size(), 64u);
  EXPECT_NE(TempTree::read(iniPath()).find("0=1 " + tree.path("docs")), std::string::npos);
}

TEST_F(UnattendedProgram, EveryRunLeavesItsWholeLogAndKeepsThePreviousOne) {
  tree.write("docs/a.txt", "new", kOld + 3600);
  tree.write("docs/b.txt", "b", kOld);
  const std::string locked = tree.write("copias/docs/a.txt", "old", kOld);
  ::chmod(locked.c_str(), 0444);
  writeSettings(tree.path("copias"), {tree.path("docs")});
  const std::string log = stateFolder() + "/ultima-copia.log";

  const Outcome first = run({"x"});
  EXPECT_EQ(first.status, 1) << first.err;
  // The failure is on standard error, as the log has it.
  const std::vector<std::string> failures = failureLines(first.err);
  ASSERT_EQ(failures.size(), 1u) << first.err;
  EXPECT_NE(failures[0].find("a.txt"), std::string::npos) << failures[0];
  const std::string firstLog = TempTree::read(log);
  const std::vector<std::string> lines = linesOf(firstLog);
  ASSERT_EQ(lines.size(), 4u) << firstLog;  // two copy lines, the failure, the summary
  EXPECT_EQ(failureLines(firstLog), failures);
  EXPECT_NE(firstLog.find(tree.path("docs/b.txt")), std::string::npos) << firstLog;
  EXPECT_EQ(lines.back() + "\n", first.out);
  struct stat st {};
  ASSERT_EQ(::stat(stateFolder().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0700u);

  ::chmod(locked.c_str(), 0644);
  const Outcome second = run({"-hide"});
  EXPECT_EQ(second.status, 0) << second.err;
  EXPECT_EQ(second.err, "");
  EXPECT_EQ(TempTree::read(stateFolder() + "/ultima-copia.1.log"), firstLog);
  EXPECT_EQ(linesOf(TempTree::read(log)).back() + "\n", second.out);
  // Nothing else of the log's is left there (the copier keeps its own folder of temporaries,
  // and runs their locks).
  std::vector<std::string> left = TempTree::list(stateFolder());
  std::erase(left, "temporales");
  std::erase_if(left, [](const std::string& name) { return name.ends_with(".lock"); });
  EXPECT_EQ(left, (std::vector<std::string>{"ultima-copia.1.log", "ultima-copia.log"}));
}

namespace {

struct StateCase {
  const char* name;
  // Spoils the state folder; returns a file that must stay as it is.
  std::function<std::string(TempTree&)> spoil;
};

class UnattendedStateFolder : public UnattendedProgram,
                              public ::testing::WithParamInterface<StateCase> {};

}  // namespace

TEST_P(UnattendedStateFolder, AStateFolderThatCannotBeWrittenCostsOnlyTheLog) {
  tree.write("docs/a.txt", "a", kOld);
  writeSettings(tree.path("copias"), {tree.path("docs")});
  const std::string untouched = GetParam().spoil(tree);
  const std::string before = TempTree::read(untouched);
  const Outcome outcome = run({"-hide"});
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.out, "Finalizado. Actualizados: 0 Copiados: 1 Revisados: 1\n");
  const std::vector<std::string> told = linesOf(outcome.err);
  ASSERT_EQ(told.size(), 1u) << outcome.err;
  EXPECT_TRUE(told[0].starts_with("resguarda: no se puede escribir el registro de la copia "))
      << told[0];
  EXPECT_EQ(TempTree::read(untouched), before);
}

INSTANTIATE_TEST_SUITE_P(
    UnattendedProgram, UnattendedStateFolder,
    ::testing::Values(StateCase{"AFileWhereTheFolderGoes",
                                [](TempTree& scene) {
                                  return scene.write("state", "not a folder");
                                }},
                      StateCase{"ALinkInPlaceOfTheFolder",
                                [](TempTree& scene) {
                                  scene.mkdir("state");
                                  const std::string other = scene.mkdir("elsewhere");
                                  ::symlink(other.c_str(), scene.path("state/resguarda").c_str());
                                  return scene.write("elsewhere/ultima-copia.log",
                                                     "someone else's");
                                }},
                      StateCase{"AFolderOfAnotherUser",
                                [](TempTree& scene) {
                                  const std::string folder = scene.mkdir("state/resguarda");
                                  ::chown(folder.c_str(), 65534, 65534);
                                  return scene.write("state/resguarda/ultima-copia.log", "theirs");
                                }}),
    [](const testing::TestParamInfo<StateCase>& p) { return std::string(p.param.name); });

namespace {

// Milliseconds between the exec and the signal.
class UnattendedSignal : public UnattendedProgram, public ::testing::WithParamInterface<int> {
 protected:
  // Enough files that no run finishes within the moments tried: copying them takes several
  // times longer. Made once, read by every case.
  static void SetUpTestSuite() {
    source_ = std::make_unique<TempTree>();
    // Names of one file: each is walked and copied on its own, and they are quick to make.
    const std::string first = source_->write("docs/d0/f0", "x", kOld);
    for (int i = 1; i < 10000; ++i) {
      const std::string folder = "docs/d" + std::to_string(i / 200);
      if (i % 200 == 0) source_->mkdir(folder);
      ::link(first.c_str(), source_->path(folder + "/f" + std::to_string(i)).c_str());
    }
  }
  static void TearDownTestSuite() { source_.reset(); }

  static std::unique_ptr<TempTree> source_;
};

std::unique_ptr<TempTree> UnattendedSignal::source_;

}  // namespace

TEST_P(UnattendedSignal, SigtermAtAnyMomentOfStartUpStopsCleanly) {
  // Already in the form the program saves, so a whole file reads the same saved or not.
  const std::string settings = "[CONFIGURACION]\nDIR_DESTINO=" + tree.path("copias/") +
                               "\n[TAREAS]\n0=1 " + source_->path("docs") + "\n";
  tree.write("app/Resguarda.ini", settings);
  const Outcome outcome = run({"-hide"}, [&](pid_t pid) {
    std::this_thread::sleep_for(std::chrono::milliseconds(GetParam()));
    ::kill(pid, SIGTERM);
  });
  EXPECT_EQ(outcome.status, 3) << outcome.out << outcome.err;
  // Stopped before the run began (no summary), or during it.
  if (!outcome.out.empty()) {
    EXPECT_TRUE(outcome.out.starts_with("Detenido. Actualizados: 0 Copiados: ")) << outcome.out;
  }
  EXPECT_EQ(TempTree::read(iniPath()), settings);
  EXPECT_EQ(TempTree::list(tree.path("app")),
            (std::vector<std::string>{"Resguarda.ini", "resguarda"}));
}

INSTANTIATE_TEST_SUITE_P(UnattendedProgram, UnattendedSignal,
                         ::testing::Values(0, 1, 2, 5, 10, 20, 35, 50, 75, 100, 150, 200),
                         [](const testing::TestParamInfo<int>& p) {
                           return std::to_string(p.param) + "ms";
                         });

namespace {

class UnattendedClosedStreams : public UnattendedProgram,
                                public ::testing::WithParamInterface<std::vector<int>> {};

}  // namespace

TEST_P(UnattendedClosedStreams, NothingElseGetsTheLinesOfAStreamThatIsMissing) {
  tree.write("docs/a.txt", "new", kOld + 3600);
  tree.write("docs/b.txt", "b", kOld);
  const std::string locked = tree.write("copias/docs/a.txt", "old", kOld);
  ::chmod(locked.c_str(), 0444);
  writeSettings(tree.path("copias"), {tree.path("docs")});
  const std::string settings = TempTree::read(iniPath());
  closedStreams = GetParam();
  const Outcome outcome = run({"-hide"});
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(TempTree::read(tree.path("copias/docs/b.txt")), "b");
  EXPECT_EQ(TempTree::read(locked), "old");
  const std::string log = TempTree::read(stateFolder() + "/ultima-copia.log");
  EXPECT_EQ(linesOf(log).size(), 4u) << log;
  EXPECT_EQ(failureLines(log).size(), 1u) << log;
  EXPECT_EQ(linesOf(log).back(), "Finalizado. Actualizados: 0 Copiados: 1 Revisados: 2");
  EXPECT_EQ(TempTree::read(iniPath()).find("ERROR"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(UnattendedProgram, UnattendedClosedStreams,
                         ::testing::Values(std::vector<int>{2}, std::vector<int>{1, 2},
                                           std::vector<int>{0, 1, 2}),
                         [](const testing::TestParamInfo<std::vector<int>>& p) {
                           std::string name = "Closed";
                           for (const int stream : p.param) name += std::to_string(stream);
                           return name;
                         });
