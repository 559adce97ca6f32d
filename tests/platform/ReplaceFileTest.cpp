#include "platform/ReplaceFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <memory>

#include "platform/Errors.h"
#include "support/SmallTmpfs.h"
#include "support/TempTree.h"
#include "support/Unprivileged.h"

namespace {

// A test's folder, and the small disk mounted in it when the case needs one (unmounted first).
struct Scene {
  TempTree tree;
  std::unique_ptr<SmallTmpfs> disk;
};

struct ReplaceCase {
  const char* name;
  // Lays out the folder and returns the target.
  std::function<std::string(Scene&)> setup;
  std::string content;
  mode_t mode;
  bool succeeds;
  // Checks what is left, with the target and the tree.
  std::function<void(const std::string&, Scene&)> check;
  bool unprivileged = false;
};

mode_t modeOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
  return st.st_mode;
}

// Nothing but the target (or nothing at all) in its folder: no temporary file left over.
void onlyTarget(const std::string& folder, const std::vector<std::string>& expected) {
  EXPECT_EQ(TempTree::list(folder), expected);
}

class ReplaceFileCases : public ::testing::TestWithParam<ReplaceCase> {};

// 0 replaced, 1 "Unable to write to <target>", 2 anything else.
int attempt(const ReplaceCase& c, const std::string& target) {
  try {
    replaceFile(target, c.content, c.mode);
    return 0;
  } catch (const ResguardaError& error) {
    return std::string(error.what()) == "Unable to write to " + target && !error.reason().empty()
               ? 1
               : 2;
  } catch (...) {
    return 2;
  }
}

}  // namespace

TEST_P(ReplaceFileCases, ReadersSeeTheOldFileOrTheNewOne) {
  const ReplaceCase& c = GetParam();
  Scene scene;
  const std::string target = c.setup(scene);
  if (target.empty()) GTEST_SKIP() << "no small file system could be mounted";
  const int result =
      c.unprivileged ? runUnprivileged([&] { return attempt(c, target); }) : attempt(c, target);
  EXPECT_EQ(result, c.succeeds ? 0 : 1);
  c.check(target, scene);
}

INSTANTIATE_TEST_SUITE_P(
    ReplaceFile, ReplaceFileCases,
    ::testing::Values(
        ReplaceCase{"NewFileGetsTheCallersModeWhateverTheUmask",
                    [](Scene& s) {
                      ::umask(077);
                      return s.tree.mkdir("d") + "/new.txt";
                    },
                    "new", 0664, true,
                    [](const std::string& target, Scene& s) {
                      ::umask(022);
                      EXPECT_EQ(TempTree::read(target), "new");
                      EXPECT_EQ(modeOf(target) & 07777, 0664u);
                      onlyTarget(s.tree.path("d"), {"new.txt"});
                    }},
        ReplaceCase{"AnOldFileIsReplacedWhole",
                    [](Scene& s) { return s.tree.write("d/Resguarda.ini", "old content"); }, "new",
                    0600, true,
                    [](const std::string& target, Scene& s) {
                      EXPECT_EQ(TempTree::read(target), "new");
                      EXPECT_EQ(modeOf(target) & 07777, 0600u);
                      onlyTarget(s.tree.path("d"), {"Resguarda.ini"});
                    }},
        ReplaceCase{"ALinkAtTheTargetIsReplacedNotFollowed",
                    [](Scene& s) {
                      const std::string other = s.tree.write("elsewhere/passwd", "keep");
                      s.tree.mkdir("d");
                      ::symlink(other.c_str(), s.tree.path("d/log").c_str());
                      return s.tree.path("d/log");
                    },
                    "new", 0600, true,
                    [](const std::string& target, Scene& s) {
                      EXPECT_TRUE(S_ISREG(modeOf(target)));
                      EXPECT_EQ(TempTree::read(target), "new");
                      EXPECT_EQ(TempTree::read(s.tree.path("elsewhere/passwd")), "keep");
                    }},
        ReplaceCase{"ADanglingLinkCreatesNothingWhereItPoints",
                    [](Scene& s) {
                      s.tree.mkdir("d");
                      ::symlink(s.tree.path("nowhere").c_str(), s.tree.path("d/log").c_str());
                      return s.tree.path("d/log");
                    },
                    "new", 0600, true,
                    [](const std::string& target, Scene& s) {
                      EXPECT_TRUE(S_ISREG(modeOf(target)));
                      EXPECT_FALSE(TempTree::exists(s.tree.path("nowhere")));
                    }},
        ReplaceCase{"ALinkToAFolderPutsNothingInTheFolder",
                    [](Scene& s) {
                      s.tree.mkdir("elsewhere");
                      s.tree.mkdir("d");
                      ::symlink(s.tree.path("elsewhere").c_str(), s.tree.path("d/log").c_str());
                      return s.tree.path("d/log");
                    },
                    "new", 0600, true,
                    [](const std::string& target, Scene& s) {
                      EXPECT_TRUE(S_ISREG(modeOf(target)));
                      EXPECT_TRUE(TempTree::list(s.tree.path("elsewhere")).empty());
                    }},
        ReplaceCase{"AFolderAtTheTargetFails",
                    [](Scene& s) {
                      s.tree.write("d/log/inside", "x");
                      return s.tree.path("d/log");
                    },
                    "new", 0600, false,
                    [](const std::string& target, Scene& s) {
                      EXPECT_EQ(TempTree::read(target + "/inside"), "x");
                      onlyTarget(s.tree.path("d"), {"log"});
                    }},
        ReplaceCase{"AReadOnlyTargetIsKept",
                    [](Scene& s) {
                      const std::string target = s.tree.write("d/ultima-copia.log", "old");
                      ::chmod(target.c_str(), 0444);
                      return target;
                    },
                    "new", 0600, false,
                    [](const std::string& target, Scene& s) {
                      EXPECT_EQ(TempTree::read(target), "old");
                      onlyTarget(s.tree.path("d"), {"ultima-copia.log"});
                    }},
        ReplaceCase{"AFifoAtTheTargetIsKept",
                    [](Scene& s) {
                      s.tree.mkdir("d");
                      ::mkfifo(s.tree.path("d/log").c_str(), 0600);
                      return s.tree.path("d/log");
                    },
                    "new", 0600, false,
                    [](const std::string& target, Scene& s) {
                      EXPECT_TRUE(S_ISFIFO(modeOf(target)));
                      onlyTarget(s.tree.path("d"), {"log"});
                    }},
        ReplaceCase{"AMissingFolderFails", [](Scene& s) { return s.tree.path("missing/log"); },
                    "new", 0600, false,
                    [](const std::string&, Scene& s) {
                      EXPECT_FALSE(TempTree::exists(s.tree.path("missing")));
                    }},
        ReplaceCase{"AReadOnlyFolderFailsAndKeepsTheOldFile",
                    [](Scene& s) {
                      const std::string target = s.tree.write("d/Resguarda.ini", "old");
                      ::chmod(target.c_str(), 0666);
                      makeReadOnlyForOthers(s.tree.root(), s.tree.path("d"));
                      return target;
                    },
                    "new", 0600, false,
                    [](const std::string& target, Scene& s) {
                      EXPECT_EQ(TempTree::read(target), "old");
                      onlyTarget(s.tree.path("d"), {"Resguarda.ini"});
                    },
                    true},
        ReplaceCase{"AFullDiskFailsAndKeepsTheOldFile",
                    [](Scene& s) {
                      s.disk = std::make_unique<SmallTmpfs>(s.tree.path("disk"));
                      if (!s.disk->mounted()) return std::string();
                      return s.tree.write("disk/ultima-copia.log", "old log");
                    },
                    std::string(2 << 20, 'x'), 0600, false,
                    [](const std::string& target, Scene& s) {
                      if (!target.empty()) {
                        EXPECT_EQ(TempTree::read(target), "old log");
                        onlyTarget(s.tree.path("disk"), {"ultima-copia.log"});
                      }
                    }}),
    [](const testing::TestParamInfo<ReplaceCase>& p) { return std::string(p.param.name); });

TEST(ReplaceFile, ContentNotCommittedIsThrownAway) {
  TempTree tree;
  const std::string target = tree.write("d/Resguarda.ini", "old");
  {
    ReplaceFile file(target, 0600);
    file.write(std::string(200000, 'a'));  // more than one buffer reaches the new file
    file.write("tail");
  }
  EXPECT_EQ(TempTree::read(target), "old");
  EXPECT_EQ(TempTree::list(tree.path("d")), std::vector<std::string>{"Resguarda.ini"});
}

TEST(ReplaceFile, StreamedPiecesArriveInOrder) {
  TempTree tree;
  const std::string target = tree.path("log");
  ReplaceFile file(target, 0600);
  std::string expected;
  for (int i = 0; i < 20000; ++i) {
    const std::string piece = "line " + std::to_string(i) + "\n";
    file.write(piece);
    expected += piece;
  }
  file.write(std::string(70000, 'z'));  // larger than the buffer on its own
  expected += std::string(70000, 'z');
  EXPECT_FALSE(TempTree::exists(target));  // nothing visible before the commit
  file.commit();
  EXPECT_EQ(TempTree::read(target), expected);
  EXPECT_THROW(file.write("more"), ResguardaError);
}
