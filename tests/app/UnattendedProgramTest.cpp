// The real program, copied into a temporary folder with its own settings file, run the way
// cron would run it: no display, no standard input.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <thread>

#include "support/TempTree.h"

namespace {

constexpr time_t kOld = 1600000000;

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

class UnattendedProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    tree.mkdir("app");
    std::filesystem::copy_file(RESGUARDA_BINARY_DIR "/resguarda", program());
  }

  std::string program() const { return tree.path("app/resguarda"); }
  std::string iniPath() const { return tree.path("app/Resguarda.ini"); }
  void writeSettings(const std::string& destination, const std::vector<std::string>& tasks) {
    std::string text = "[CONFIGURACION]\nDIR_DESTINO=" + destination + "\n[TAREAS]\n";
    for (size_t i = 0; i < tasks.size(); ++i) text += std::to_string(i) + "=1 " + tasks[i] + "\n";
    tree.write("app/Resguarda.ini", text);
  }

  // Runs the program; `whileRunning` is called with its pid once it has started.
  Outcome run(const std::vector<std::string>& args,
              const std::function<void(pid_t)>& whileRunning = {}) {
    const std::string out = tree.path("stdout"), err = tree.path("stderr");
    const pid_t child = ::fork();
    if (child == 0) {
      ::unsetenv("DISPLAY");
      ::unsetenv("WAYLAND_DISPLAY");
      ::unsetenv("QT_QPA_PLATFORM");
      const int in = ::open("/dev/null", O_RDONLY);
      const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      ::dup2(in, 0);
      ::dup2(o, 1);
      ::dup2(e, 2);
      ::chdir(tree.root().c_str());
      std::string path = program();
      std::vector<char*> argv{path.data()};
      std::vector<std::string> copies = args;
      for (std::string& a : copies) argv.push_back(a.data());
      argv.push_back(nullptr);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    if (whileRunning) whileRunning(child);
    Outcome outcome;
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (::waitpid(child, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        ::kill(child, SIGKILL);
        ::waitpid(child, &status, 0);
        ADD_FAILURE() << "the program did not end";
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    outcome.out = TempTree::read(out);
    outcome.err = TempTree::read(err);
    return outcome;
  }

  TempTree tree;
};

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
