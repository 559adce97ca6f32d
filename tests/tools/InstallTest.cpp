// Installs for home folders whose names need quoting, with a stub in place of the program,
// and starts the stub the way a menu, a shell and systemd read each written line.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "support/ForkedChild.h"
#include "support/TempTree.h"

namespace {

using Arguments = std::vector<std::string>;

// Runs a command with some variables set (unset when empty); returns its exit status.
int runCommand(const Arguments& argv, const std::vector<std::pair<std::string, std::string>>& env) {
  return waitForChild(startChild([&] {
           for (const auto& [name, value] : env)
             value.empty() ? ::unsetenv(name.c_str()) : ::setenv(name.c_str(), value.c_str(), 1);
           std::vector<char*> pointers;
           for (const std::string& argument : argv)
             pointers.push_back(const_cast<char*>(argument.c_str()));
           pointers.push_back(nullptr);
           ::execv(pointers[0], pointers.data());
           return 127;
         }))
      .shellCode();
}

std::string valueOf(const std::string& file, const std::string& key) {
  std::istringstream lines(TempTree::read(file));
  for (std::string line; std::getline(lines, line);)
    if (line.starts_with(key + "=")) return line.substr(key.size() + 1);
  return {};
}

// Words split at blanks outside quotes; `escapes` are the characters a backslash makes plain
// (inside quotes only, for a menu entry). "%%" is "%", and a lone "%" (a field code or a
// specifier, which the launcher would replace) is a failure.
Arguments words(const std::string& line, const std::string& quotes, const std::string& escapes,
                bool escapesOutsideQuotes) {
  Arguments argv;
  std::string word;
  bool inWord = false;
  char quote = 0;
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i], next = i + 1 < line.size() ? line[i + 1] : '\0';
    if (c == ' ' && !quote) {
      if (inWord) argv.push_back(word);
      word.clear();
      inWord = false;
      continue;
    }
    inWord = true;
    if (c == '\\' && (quote || escapesOutsideQuotes) && escapes.find(next) != std::string::npos) {
      word += line[++i];
    } else if (quote ? c == quote : quotes.find(c) != std::string::npos) {
      quote = quote ? 0 : c;
    } else if (c == '%' && next != '%') {
      ADD_FAILURE() << "a lone % in " << line;
    } else {
      word += c;
      if (c == '%') ++i;
    }
  }
  EXPECT_EQ(quote, 0) << line;
  if (inWord) argv.push_back(word);
  return argv;
}

// A menu entry's value is an escaped string first: "\\" is "\".
Arguments desktopArgv(const std::string& value) {
  std::string line;
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '\\' && i + 1 < value.size() && value[i + 1] == '\\') ++i;
    line += value[i];
  }
  return words(line, "\"", "\"`$\\", false);
}

// systemd: C escapes in and out of quotes; in the arguments (not the program), "$$" is "$".
Arguments unitArgv(const std::string& value) {
  Arguments argv = words(value, "\"'", "\\\"'", true);
  for (size_t a = 1; a < argv.size(); ++a) {
    std::string plain;
    for (size_t i = 0; i < argv[a].size(); ++i) {
      if (argv[a][i] == '$' && argv[a][++i] != '$') ADD_FAILURE() << "a variable in " << value;
      plain += argv[a][i];
    }
    argv[a] = plain;
  }
  return argv;
}

std::string found(const std::string& program) {
  for (const std::string folder : {"/usr/bin/", "/bin/", "/usr/local/bin/"})
    if (::access((folder + program).c_str(), X_OK) == 0) return folder + program;
  return {};
}

class Installer : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    // No user's systemd is ever touched: this systemctl finds no session.
    ::chmod(tree.write("bin/systemctl", "#!/bin/sh\nexit 1\n").c_str(), 0755);
    ::chmod(tree.write("stub", "#!/bin/sh\nprintf '%s\\0' \"$0\" \"$@\" >\"$RECORD\"\n").c_str(),
            0755);
  }

  int install(const std::string& home) {
    const char* path = std::getenv("PATH");
    return runCommand({RESGUARDA_SOURCE_DIR "/tools/install.sh", "--nightly"},
                      {{"HOME", home},
                       {"PATH", tree.path("bin") + ":" + (path ? path : "/usr/bin:/bin")},
                       {"RESGUARDA_PROGRAM", tree.path("stub")},
                       {"XDG_DATA_HOME", ""},
                       {"XDG_CONFIG_HOME", ""},
                       {"XDG_RUNTIME_DIR", ""},
                       {"DBUS_SESSION_BUS_ADDRESS", ""}});
  }

  // What the stub was started with, as NUL-ended arguments; "" when it was not.
  std::string started(const Arguments& argv) {
    ::unlink(tree.path("record").c_str());
    EXPECT_EQ(runCommand(argv, {{"RECORD", tree.path("record")}}), 0) << argv[0];
    return TempTree::exists(tree.path("record")) ? TempTree::read(tree.path("record")) : "";
  }

  TempTree tree;
};

}  // namespace

TEST_P(Installer, EveryLineItWritesStartsTheProgram) {
  const std::string home = tree.mkdir(GetParam());
  ASSERT_EQ(install(home), 0);
  const std::string program = home + "/.local/lib/resguarda/resguarda" + '\0';
  const std::string desktop = home + "/.local/share/applications/resguarda.desktop";
  const std::string units = home + "/.config/systemd/user/";

  ASSERT_NE(found("desktop-file-validate"), "") << "desktop-file-utils is missing";
  EXPECT_EQ(runCommand({found("desktop-file-validate"), desktop}, {}), 0);
  EXPECT_EQ(started(desktopArgv(valueOf(desktop, "Exec"))), program);
  EXPECT_EQ(started({home + "/.local/bin/resguarda", "-hide", "a b"}),
            program + "-hide" + '\0' + "a b" + '\0');
  EXPECT_EQ(started(unitArgv(valueOf(units + "resguarda.service", "ExecStart"))),
            program + "-hide" + '\0');
  // It also looks for the program that the line names.
  if (!found("systemd-analyze").empty()) {
    EXPECT_EQ(runCommand({found("systemd-analyze"), "verify", units + "resguarda.service"}, {}), 0);
  }
  // Clear of the hours in which the clocks change.
  const std::string when = valueOf(units + "resguarda.timer", "OnCalendar");
  const int hour = std::atoi(when.substr(when.find(' ') + 1).c_str());
  EXPECT_TRUE(hour < 1 || hour > 3) << when;

  // A home that no line can name is refused, not called installed.
  const std::string broken = tree.mkdir(std::string(GetParam()) + "\nline");
  EXPECT_NE(install(broken), 0);
  EXPECT_TRUE(TempTree::files(broken).empty());
}

INSTANTIATE_TEST_SUITE_P(Installer, Installer,
                         ::testing::Values("home/Ana Año", "home/Ana Año 100% $HOME `b`",
                                           "home/Ana \"Año\" \\d 's $x"));
