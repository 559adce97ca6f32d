#pragma once

// Runs the real program the way cron would: copied into a temporary folder with its own
// settings file, no display, no standard input, no session bus, and its state folder (where
// the run log goes) inside the temporary folder.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <thread>
#include <utility>

#include "support/ForkedChild.h"
#include "support/TempTree.h"

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

  std::string stateFolder() const { return tree.path("state/resguarda"); }

  // Runs the program; `whileRunning` is called with its pid once it has been executed.
  Outcome run(const std::vector<std::string>& args,
              const std::function<void(pid_t)>& whileRunning = {}) {
    return run(args, {}, whileRunning);
  }
  Outcome run(const std::vector<std::string>& args,
              const std::vector<std::pair<std::string, std::string>>& environment,
              const std::function<void(pid_t)>& whileRunning = {}) {
    const std::string out = tree.path("stdout"), err = tree.path("stderr");
    const std::string state = tree.path("state"), runtime = tree.mkdir("run");
    ::chmod(runtime.c_str(), 0700);
    // Closes on a successful exec: its end tells the parent that the program is running.
    int execPipe[2];
    if (::pipe2(execPipe, O_CLOEXEC) != 0) ADD_FAILURE() << "pipe";
    const pid_t child = startChild([&] {
      ::close(execPipe[0]);
      // As a careful launcher does: the stop signals wait, blocked, until the program takes
      // them over, so a signal sent right after the exec is not lost to the dynamic loader.
      sigset_t stops;
      sigemptyset(&stops);
      sigaddset(&stops, SIGINT);
      sigaddset(&stops, SIGTERM);
      ::sigprocmask(SIG_BLOCK, &stops, nullptr);
      ::unsetenv("DISPLAY");
      ::unsetenv("WAYLAND_DISPLAY");
      ::unsetenv("QT_QPA_PLATFORM");
      ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
      ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
      ::setenv("XDG_STATE_HOME", state.c_str(), 1);
      for (const auto& [name, value] : environment) ::setenv(name.c_str(), value.c_str(), 1);
      const int in = ::open("/dev/null", O_RDONLY);
      const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      ::dup2(in, 0);
      ::dup2(o, 1);
      ::dup2(e, 2);
      for (const int stream : closedStreams) ::close(stream);
      ::chdir(tree.root().c_str());
      std::string path = program();
      std::vector<char*> argv{path.data()};
      std::vector<std::string> copies = args;
      for (std::string& a : copies) argv.push_back(a.data());
      argv.push_back(nullptr);
      ::execv(argv[0], argv.data());
      return 127;
    });
    ::close(execPipe[1]);
    char ignored;
    while (::read(execPipe[0], &ignored, 1) < 0 && errno == EINTR) {
    }
    ::close(execPipe[0]);
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
  // Standard streams the program starts without, as some launchers leave it.
  std::vector<int> closedStreams;
};
