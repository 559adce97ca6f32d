#include "mail/OutputFile.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <stdexcept>

#include "mail/ByteStreams.h"
#include "platform/Errors.h"
#include "platform/UniqueFd.h"
#include "support/TempTree.h"

namespace {

// What the wrapper adds to NewFile: a file already there is refused with IfExists::Fail, a
// link is replaced (never followed), and its own stream writes the bytes. What else may stand
// at the name is NewFile's.
enum class Entry { None, File, Link };

struct ExistingCase {
  Entry there;
  IfExists ifExists;
  int error;  // 0: the new bytes are in place
};

class OutputFileExisting : public testing::TestWithParam<ExistingCase> {};

TEST_P(OutputFileExisting, ReplacesOnlyWhatItMay) {
  const ExistingCase& c = GetParam();
  TempTree tree;
  const std::string folder = tree.mkdir("out");
  const std::string target = tree.write("fuera", "intacto");
  const std::string path = folder + "/f";
  switch (c.there) {
    case Entry::None:
      break;
    case Entry::File:
      tree.write("out/f", "viejo");
      break;
    case Entry::Link:
      ASSERT_EQ(::symlink(target.c_str(), path.c_str()), 0);
      break;
  }
  UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY));
  try {
    writeOutputFile(dir.get(), "f", path, std::string_view("nuevo"), c.ifExists);
    EXPECT_EQ(c.error, 0);
    EXPECT_EQ(TempTree::read(path), "nuevo");
    struct stat st {};
    ASSERT_EQ(::lstat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
  } catch (const ResguardaError& e) {
    EXPECT_EQ(e.reason(), systemReason(c.error));
    EXPECT_EQ(e.path(), path);
    if (c.there == Entry::File) {
      EXPECT_EQ(TempTree::read(path), "viejo");
    }
  }
  EXPECT_EQ(TempTree::read(target), "intacto");
  EXPECT_EQ(TempTree::list(folder), std::vector<std::string>{"f"});
}

INSTANTIATE_TEST_SUITE_P(Cases, OutputFileExisting,
                         testing::Values(ExistingCase{Entry::None, IfExists::Replace, 0},
                                         ExistingCase{Entry::None, IfExists::Fail, 0},
                                         ExistingCase{Entry::File, IfExists::Replace, 0},
                                         ExistingCase{Entry::File, IfExists::Fail, EEXIST},
                                         ExistingCase{Entry::Link, IfExists::Replace, 0},
                                         ExistingCase{Entry::Link, IfExists::Fail, EEXIST}),
                         [](const testing::TestParamInfo<ExistingCase>& param) {
                           return std::to_string(param.index);
                         });

// A full disk or a failing producer leaves the old file whole and no temporary behind.
TEST(OutputFile, AFailedWriteLeavesTheOldFileAndNothingElse) {
  TempTree tree;
  const std::string folder = tree.mkdir("small");
  if (::mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=1m") != 0)
    GTEST_SKIP() << "cannot mount a tmpfs here";
  struct Unmount {
    std::string folder;
    ~Unmount() { ::umount2(folder.c_str(), MNT_DETACH); }
  } unmount{folder};
  UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY));
  const std::string old(300 * 1024, 'v');
  writeOutputFile(dir.get(), "a", folder + "/a", std::string_view(old));

  const std::string big(2 * 1024 * 1024, 'n');
  EXPECT_THROW(writeOutputFile(dir.get(), "a", folder + "/a", std::string_view(big)),
               ResguardaError);
  EXPECT_THROW(writeOutputFile(dir.get(), "b", folder + "/b",
                               [&](OutputByteStream& out) {
                                 for (int i = 0; i < 8; ++i) out.write(big.data(), 256 * 1024);
                               }),
               ResguardaError);
  EXPECT_THROW(writeOutputFile(dir.get(), "a", folder + "/a",
                               [](OutputByteStream& out) {
                                 out.write("x", 1);
                                 throw std::runtime_error("decoder failed");
                               }),
               std::runtime_error);
  EXPECT_TRUE(TempTree::read(folder + "/a") == old);
  EXPECT_EQ(TempTree::list(folder), std::vector<std::string>{"a"});
  // The space of the failed files was given back.
  writeOutputFile(dir.get(), "c", folder + "/c", std::string_view(old));
  EXPECT_TRUE(TempTree::read(folder + "/c") == old);
}

}  // namespace
