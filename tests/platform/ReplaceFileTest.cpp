#include "platform/ReplaceFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

#include "platform/Errors.h"
#include "support/TempTree.h"

// What ReplaceFile adds to NewFile: the folder and name taken from a path, the caller's mode,
// and a link at the target replaced rather than refused. The rest is NewFile's.
namespace {

struct ReplaceCase {
  const char* name;
  // Lays out the tree and returns the target.
  std::function<std::string(TempTree&)> setup;
  mode_t mode;
  bool succeeds;
  // Checks what is left, with the target and the tree.
  std::function<void(const std::string&, TempTree&)> check;
};

mode_t modeOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
  return st.st_mode;
}

class ReplaceFileCases : public ::testing::TestWithParam<ReplaceCase> {};

// 0 replaced, 1 "Unable to write to <target>", 2 anything else.
int attempt(const ReplaceCase& c, const std::string& target) {
  try {
    replaceFile(target, "new", c.mode);
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
  TempTree tree;
  const std::string target = c.setup(tree);
  EXPECT_EQ(attempt(c, target), c.succeeds ? 0 : 1);
  c.check(target, tree);
}

INSTANTIATE_TEST_SUITE_P(
    ReplaceFile, ReplaceFileCases,
    ::testing::Values(ReplaceCase{"NewFileGetsTheCallersModeWhateverTheUmask",
                                  [](TempTree& tree) {
                                    ::umask(077);
                                    return tree.mkdir("d") + "/new.txt";
                                  },
                                  0664, true,
                                  [](const std::string& target, TempTree& tree) {
                                    ::umask(022);
                                    EXPECT_EQ(TempTree::read(target), "new");
                                    EXPECT_EQ(modeOf(target) & 07777, 0664u);
                                    EXPECT_EQ(TempTree::list(tree.path("d")),
                                              std::vector<std::string>{"new.txt"});
                                  }},
                      ReplaceCase{"ALinkAtTheTargetIsReplacedNotFollowed",
                                  [](TempTree& tree) {
                                    const std::string other =
                                        tree.write("elsewhere/passwd", "keep");
                                    tree.mkdir("d");
                                    ::symlink(other.c_str(), tree.path("d/log").c_str());
                                    return tree.path("d/log");
                                  },
                                  0600, true,
                                  [](const std::string& target, TempTree& tree) {
                                    EXPECT_TRUE(S_ISREG(modeOf(target)));
                                    EXPECT_EQ(TempTree::read(target), "new");
                                    EXPECT_EQ(modeOf(target) & 07777, 0600u);
                                    EXPECT_EQ(TempTree::read(tree.path("elsewhere/passwd")),
                                              "keep");
                                  }},
                      ReplaceCase{"AMissingFolderFails",
                                  [](TempTree& tree) { return tree.path("missing/log"); }, 0600,
                                  false,
                                  [](const std::string&, TempTree& tree) {
                                    EXPECT_FALSE(TempTree::exists(tree.path("missing")));
                                  }}),
    [](const testing::TestParamInfo<ReplaceCase>& p) { return std::string(p.param.name); });
