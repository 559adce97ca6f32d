#include "backup/CopyFiles.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <random>

#include "ForkedChild.h"
#include "platform/Errors.h"
#include "platform/FolderChain.h"
#include "support/TempTree.h"

namespace {

using Files = std::vector<std::string>;

std::string randomBytes(std::size_t size) {
  std::mt19937 random(42);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  return bytes;
}

// The copier working on one folder of a TempTree, as the walk drives it.
class Copier : public testing::Test {
 public:
  Copier() {
    tree.mkdir("out");
    out = ::open(tree.path("out").c_str(), O_RDONLY | O_DIRECTORY);
    src = ::open(tree.root().c_str(), O_RDONLY | O_DIRECTORY);
  }
  ~Copier() override {
    ::close(out);
    ::close(src);
  }
  void copy(FileCopier& copier, const char* source = "big", const char* target = "x") {
    copier.copy(FileAt{src, srcFolder, source}, FileAt{out, outFolder, target});
  }
  std::string reasonOf(FileCopier& copier) {
    try {
      copy(copier);
    } catch (const ResguardaError& e) {
      return e.reason();
    }
    return "no error";
  }

  TempTree tree;
  std::atomic<bool> abandon{false};
  int out, src;
  std::string srcFolder = tree.root() + "/";
  std::string outFolder = tree.path("out") + "/";
  const std::string content = randomBytes(3 << 20);
};

TEST_F(Copier, CopiesInChunksAndReplacesTheOldCopy) {
  tree.write("big", content);
  tree.write("out/x", "old");
  FileCopier copier(abandon);
  copier.setChunkSize(1 << 20);
  int chunks = 0;
  copier.setChunkObserver([&](uint64_t) { ++chunks; });
  copy(copier);
  EXPECT_EQ(chunks, 3);
  EXPECT_TRUE(TempTree::read(tree.path("out/x")) == content);
  EXPECT_EQ(TempTree::list(tree.path("out")), Files{"x"});
}

// tmpfs to the tree's file system: the kernel copy may refuse, the buffer copy takes over.
TEST_F(Copier, CopiesAcrossFileSystems) {
  char shm[] = "/dev/shm/resguarda-test-XXXXXX";
  if (!::mkdtemp(shm)) GTEST_SKIP() << "no /dev/shm";
  const std::string source = std::string(shm) + "/big";
  std::ofstream(source, std::ios::binary) << content;
  try {
    CopyFiles(source, tree.path("out/deep/er/x"), abandon);
  } catch (...) {
    ::unlink(source.c_str());
    ::rmdir(shm);
    throw;
  }
  ::unlink(source.c_str());
  ::rmdir(shm);
  EXPECT_TRUE(TempTree::read(tree.path("out/deep/er/x")) == content);
}

// Whatever goes wrong half-way, the old copy stays and no temporary is left.
struct BreakCase {
  const char* name;
  bool unnamed;
  const char* reason;
  std::function<void(Copier&)> breakIt;
};

class BrokenCopy : public Copier, public testing::WithParamInterface<BreakCase> {};

TEST_P(BrokenCopy, KeepsTheOldCopy) {
  tree.write("big", content);
  tree.write("out/x", "old");
  FileCopier copier(abandon);
  copier.setChunkSize(1 << 20);
  copier.setUnnamedTemporaries(GetParam().unnamed);
  copier.setChunkObserver([this](uint64_t) { GetParam().breakIt(*this); });
  EXPECT_EQ(reasonOf(copier), GetParam().reason);
  EXPECT_EQ(TempTree::read(tree.path("out/x")), "old");
  EXPECT_EQ(TempTree::list(tree.path("out")), Files{"x"});
}

const auto abandonIt = [](Copier& c) { c.abandon = true; };
const auto shrinkIt = [](Copier& c) { ::truncate(c.tree.path("big").c_str(), 1000); };

INSTANTIATE_TEST_SUITE_P(
    Cases, BrokenCopy,
    testing::Values(BreakCase{"Abandoned", true, "Operation canceled", abandonIt},
                    BreakCase{"AbandonedNamed", false, "Operation canceled", abandonIt},
                    BreakCase{"SourceShrank", true, "the file shrank while it was being copied",
                              shrinkIt},
                    BreakCase{"SourceShrankNamed", false,
                              "the file shrank while it was being copied", shrinkIt}),
    [](const testing::TestParamInfo<BreakCase>& p) { return std::string(p.param.name); });

TEST_F(Copier, WriteErrorIsAnErrorNotAShortFile) {
  tree.write("big", content);
  tree.write("out/x", "old");
  const std::string reason = runInChild([this] {
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{1 << 20, 1 << 20};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    FileCopier copier(abandon);
    return reasonOf(copier);
  });
  EXPECT_EQ(reason, "File too large");
  EXPECT_EQ(TempTree::read(tree.path("out/x")), "old");
  EXPECT_EQ(TempTree::list(tree.path("out")), Files{"x"});
}

class KilledCopy : public Copier, public testing::WithParamInterface<bool> {};

TEST_P(KilledCopy, LeavesTheOldCopyAndTheNextCopyClearsLeftovers) {
  tree.write("big", content);
  tree.write("small", "s");
  tree.write("out/x", "old");
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t pid = ::fork();
  if (pid == 0) {
    FileCopier copier(abandon);
    copier.setChunkSize(1 << 20);
    copier.setUnnamedTemporaries(GetParam());
    copier.setChunkObserver([&](uint64_t) {
      if (::write(ready[1], "x", 1) == 1) ::pause();
    });
    copy(copier);
    ::_exit(0);
  }
  char c;
  ASSERT_EQ(::read(ready[0], &c, 1), 1);
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
  ::close(ready[0]);
  ::close(ready[1]);

  EXPECT_EQ(TempTree::read(tree.path("out/x")), "old");
  // An unnamed temporary dies with the process; a named one waits for the next copy.
  EXPECT_EQ(TempTree::list(tree.path("out")).size(), GetParam() ? 1u : 2u);
  CopyFiles(tree.path("small"), tree.path("out/y"), abandon);
  EXPECT_EQ(TempTree::list(tree.path("out")), (Files{"x", "y"}));
}

INSTANTIATE_TEST_SUITE_P(Temporaries, KilledCopy, testing::Values(true, false),
                         [](const testing::TestParamInfo<bool>& p) {
                           return std::string(p.param ? "Unnamed" : "Named");
                         });

TEST_F(Copier, TemporaryInUseByAnotherWriterIsLeftAlone) {
  tree.write("small", "s");
  const std::string busy = tree.write("out/.resguarda-Ab12Cd", "being written");
  const std::string lookalike = tree.write("out/.resguarda-notours", "user file");
  const int held = ::open(busy.c_str(), O_RDONLY);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);
  CopyFiles(tree.path("small"), tree.path("out/y"), abandon);
  EXPECT_TRUE(TempTree::exists(busy));
  ::close(held);
  CopyFiles(tree.path("small"), tree.path("out/z"), abandon);
  EXPECT_FALSE(TempTree::exists(busy));
  EXPECT_TRUE(TempTree::exists(lookalike));
}

TEST_F(Copier, FifoIsRefusedWithoutWaitingForAWriter) {
  ASSERT_EQ(::mkfifo(tree.path("fifo").c_str(), 0644), 0);
  FileCopier copier(abandon);
  EXPECT_THROW(copy(copier, "fifo"), ResguardaError);
  EXPECT_TRUE(TempTree::list(tree.path("out")).empty());
}

TEST_F(Copier, MissingSourceTouchesNothing) {
  try {
    CopyFiles(tree.path("none"), tree.path("out/x"), abandon);
    FAIL();
  } catch (const ResguardaError& e) {
    EXPECT_EQ(e.path(), tree.path("none"));
    EXPECT_EQ(e.reason(), "No such file or directory");
  }
  EXPECT_TRUE(TempTree::list(tree.path("out")).empty());
}

TEST(FolderChain, CreatesMissingFoldersButNeverAnUnmountedDisk) {
  TempTree tree;
  EXPECT_EQ(createFolderChain(tree.path("a/b/c/")), 0);
  EXPECT_TRUE(TempTree::exists(tree.path("a/b/c")));
  tree.write("file", "f");
  EXPECT_EQ(createFolderChain(tree.path("file/sub")), ENOTDIR);
  if (!TempTree::exists("/mnt/resguarda-not-mounted")) {
    EXPECT_EQ(createFolderChain("/mnt/resguarda-not-mounted/backup"), ENOENT);
  }
  EXPECT_FALSE(TempTree::exists("/mnt/resguarda-not-mounted"));
}

}  // namespace
