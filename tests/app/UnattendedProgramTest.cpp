#include "UnattendedFixture.h"

namespace {
constexpr time_t kOld = 1600000000;
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

  tree.write("docs/a.txt", "a2", time(nullptr) + 3600);
  Outcome third = run({"-HIDE"});
  EXPECT_EQ(third.out, "Finalizado. Actualizados: 1 Copiados: 0 Revisados: 2\n");
  EXPECT_EQ(TempTree::read(tree.path("copias/docs/a.txt")), "a2");
  // Closing saved the settings in their normal form.
  EXPECT_NE(TempTree::read(iniPath()).find("DIR_DESTINO=" + tree.path("copias/")),
            std::string::npos);
}

TEST_F(UnattendedProgram, AFileThatFailsGivesStatusOne) {
  tree.write("docs/a.txt", "new", time(nullptr) + 3600);
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

TEST_F(UnattendedProgram, ADestinationThatCannotBeCreatedCannotRun) {
  tree.write("docs/a.txt", "a", kOld);
  tree.write("blocked", "a file where the folder should be");
  writeSettings(tree.path("blocked/copias"), {tree.path("docs")});
  const Outcome outcome = run({"x"});
  EXPECT_EQ(outcome.status, 2);
  EXPECT_EQ(outcome.out, "Finalizado. Actualizados: 0 Copiados: 0 Revisados: 0\n");
}

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
