// Installs for home folders whose names need quoting, with a stub in place of the program,
// and starts the stub the way a menu, a shell and systemd would read each written line.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "support/TempTree.h"

namespace {

using Arguments = std::vector<std::string>;

// Runs a command with some variables set and the others named with an empty value unset;
// returns its exit status.
int runCommand(const Arguments& argv, const std::vector<std::pair<std::string, std::string>>& env) {
  const pid_t child = ::fork();
  if (child == 0) {
    for (const auto& [name, value] : env) {
      if (value.empty())
        ::unsetenv(name.c_str());
      else
        ::setenv(name.c_str(), value.c_str(), 1);
    }
    std::vector<char*> pointers;
    for (const std::string& argument : argv)
      pointers.push_back(const_cast<char*>(argument.c_str()));
    pointers.push_back(nullptr);
    ::execv(pointers[0], pointers.data());
    ::_exit(127);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// The value of the first "key=" line of a file.
std::string valueOf(const std::string& file, const std::string& key) {
  std::istringstream lines(TempTree::read(file));
  for (std::string line; std::getline(lines, line);)
    if (line.starts_with(key + "=")) return line.substr(key.size() + 1);
  return {};
}

// A menu entry's Exec=: the value's string escapes, then its double quotes (where \ escapes
// " ` $ \), then %% for %.
Arguments desktopArgv(const std::string& value) {
  std::string line;
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '\\' || i + 1 == value.size()) {
      line += value[i];
      continue;
    }
    const char c = value[++i];
    line += c == 's' ? ' ' : c == 't' ? '\t' : c == 'n' ? '\n' : c == 'r' ? '\r' : c;
  }
  Arguments argv;
  std::string word;
  bool inWord = false, quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (c == '%') {
      EXPECT_TRUE(i + 1 < line.size() && line[i + 1] == '%') << "a field code in " << value;
      word += c;
      ++i;
    } else if (quoted && c == '\\' && i + 1 < line.size() && std::strchr("\"`$\\", line[i + 1])) {
      word += line[++i];
    } else if (c == '"') {
      quoted = !quoted;
    } else if (c == ' ' && !quoted) {
      if (inWord) argv.push_back(word);
      word.clear();
      inWord = false;
      continue;
    } else {
      word += c;
    }
    inWord = true;
  }
  EXPECT_FALSE(quoted) << value;
  if (inWord) argv.push_back(word);
  return argv;
}

// A unit's ExecStart=: specifiers (%% for %) on the whole line, then words with C escapes in
// and out of quotes, then the arguments' variables ($$ for $; the program path has none).
Arguments unitArgv(const std::string& value) {
  std::string line;
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '%') {
      EXPECT_EQ(value[++i], '%') << "a specifier in " << value;
    }
    line += value[i];
  }
  Arguments argv;
  std::string word;
  bool inWord = false;
  char quote = 0;
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (c == '\\' && i + 1 < line.size()) {
      EXPECT_TRUE(std::strchr("\\\"'", line[i + 1])) << "an unexpected escape in " << value;
      word += line[++i];
    } else if (quote ? c == quote : (c == '"' || c == '\'')) {
      quote = quote ? 0 : c;
    } else if (c == ' ' && !quote) {
      if (inWord) argv.push_back(word);
      word.clear();
      inWord = false;
      continue;
    } else {
      word += c;
    }
    inWord = true;
  }
  EXPECT_EQ(quote, 0) << value;
  if (inWord) argv.push_back(word);
  for (size_t a = 1; a < argv.size(); ++a) {
    std::string substituted;
    for (size_t i = 0; i < argv[a].size(); ++i) {
      if (argv[a][i] == '$') {
        EXPECT_EQ(argv[a][++i], '$') << "a variable in " << value;
      }
      substituted += argv[a][i];
    }
    argv[a] = substituted;
  }
  return argv;
}

std::string found(const char* program) {
  for (const char* folder : {"/usr/bin/", "/bin/", "/usr/local/bin/"})
    if (::access((std::string(folder) + program).c_str(), X_OK) == 0)
      return std::string(folder) + program;
  return {};
}

struct HomeCase {
  const char* name;
  const char* home;
};

class Installer : public ::testing::TestWithParam<HomeCase> {
 protected:
  void SetUp() override {
    home = tree.mkdir(GetParam().home);
    // No user's systemd is ever touched: this systemctl finds no session.
    ::chmod(tree.write("bin/systemctl", "#!/bin/sh\nexit 1\n").c_str(), 0755);
    ::chmod(tree.write("stub", "#!/bin/sh\nprintf '%s\\0' \"$0\" \"$@\" >\"$RECORD\"\n").c_str(),
            0755);
  }

  int install(const std::string& homeFolder) {
    const char* path = std::getenv("PATH");
    return runCommand({RESGUARDA_SOURCE_DIR "/tools/install.sh", "--nightly"},
                      {{"HOME", homeFolder},
                       {"PATH", tree.path("bin") + ":" + (path ? path : "/usr/bin:/bin")},
                       {"RESGUARDA_PROGRAM", tree.path("stub")},
                       {"XDG_DATA_HOME", ""},
                       {"XDG_CONFIG_HOME", ""},
                       {"XDG_RUNTIME_DIR", ""},
                       {"DBUS_SESSION_BUS_ADDRESS", ""}});
  }

  // Runs a command as a launcher would; what the stub was started with, "" when it was not.
  std::string started(const Arguments& argv) {
    ::unlink(tree.path("record").c_str());
    EXPECT_EQ(runCommand(argv, {{"RECORD", tree.path("record")}}), 0) << argv[0];
    return TempTree::exists(tree.path("record")) ? TempTree::read(tree.path("record")) : "";
  }

  TempTree tree;
  std::string home;
};

std::string record(const Arguments& argv) {
  std::string text;
  for (const std::string& argument : argv) text += argument + '\0';
  return text;
}

}  // namespace

TEST_P(Installer, EveryLineItWritesStartsTheProgram) {
  ASSERT_EQ(install(home), 0);
  const std::string program = home + "/.local/lib/resguarda/resguarda";
  const std::string desktop = home + "/.local/share/applications/resguarda.desktop";
  const std::string units = home + "/.config/systemd/user/";

  const std::string validator = found("desktop-file-validate");
  ASSERT_FALSE(validator.empty()) << "desktop-file-validate is missing (desktop-file-utils)";
  EXPECT_EQ(runCommand({validator, desktop}, {}), 0);
  EXPECT_EQ(started(desktopArgv(valueOf(desktop, "Exec"))), record({program}));

  EXPECT_EQ(started({home + "/.local/bin/resguarda", "-hide", "a b"}),
            record({program, "-hide", "a b"}));

  EXPECT_EQ(started(unitArgv(valueOf(units + "resguarda.service", "ExecStart"))),
            record({program, "-hide"}));
  // It also finds the program named on the line, where it is at hand.
  if (const std::string analyze = found("systemd-analyze"); !analyze.empty()) {
    EXPECT_EQ(runCommand({analyze, "verify", units + "resguarda.service"}, {}), 0);
  }

  // Clear of the hours in which the clocks change, and caught up when missed.
  const std::string when = valueOf(units + "resguarda.timer", "OnCalendar");
  const int hour = std::atoi(when.substr(when.find(' ') + 1).c_str());
  EXPECT_TRUE(hour < 1 || hour > 3) << when;
  EXPECT_EQ(valueOf(units + "resguarda.timer", "Persistent"), "true");
}

INSTANTIATE_TEST_SUITE_P(
    Installer, Installer,
    ::testing::Values(HomeCase{"Blanks", "home/Ana Año"},
                      HomeCase{"PercentDollarBackquote", "home/Ana Año 100% $HOME `b`"},
                      HomeCase{"QuotesAndBackslash", "home/Ana \"Año\" \\d 's $x"}),
    [](const testing::TestParamInfo<HomeCase>& p) { return std::string(p.param.name); });

TEST_P(Installer, AHomeNoLineCanNameIsRefusedNotCalledInstalled) {
  const std::string broken = tree.mkdir(std::string(GetParam().home) + "\nsecond line");
  EXPECT_NE(install(broken), 0);
  EXPECT_TRUE(TempTree::files(broken).empty());
}
