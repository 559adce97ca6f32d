#include "backup/CopyFiles.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

#include <fstream>
#include <functional>

#include "CopierFixture.h"
#include "platform/Errors.h"
#include "platform/FolderChain.h"
#include "support/ForkedChild.h"
#include "support/TempTree.h"
#include "support/Unprivileged.h"

namespace {

using Files = std::vector<std::string>;

constexpr char kSymbolicLink[] = "es un enlace simbólico, no se sigue";
constexpr char kNotRegular[] = "no es un archivo normal";
constexpr char kShrank[] = "el archivo se ha acortado mientras se copiaba";

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
  EXPECT_TRUE(journal().empty());
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
  bool sparse;  // 1 MiB of data, 1 MiB hole, 1 MiB of data
  const char* reason;
  std::function<void(Copier&)> breakIt;
};

class BrokenCopy : public Copier, public testing::WithParamInterface<BreakCase> {};

TEST_P(BrokenCopy, KeepsTheOldCopy) {
  if (GetParam().sparse)
    writeSparse(tree.path("big"), 3 << 20,
                {{0, content.substr(0, 1 << 20)}, {2 << 20, content.substr(2 << 20)}});
  else
    tree.write("big", content);
  tree.write("out/x", "old");
  FileCopier copier(abandon);
  copier.setChunkSize(1 << 20);
  copier.setUnnamedTemporaries(GetParam().unnamed);
  copier.setChunkObserver([this](uint64_t) { GetParam().breakIt(*this); });
  EXPECT_EQ(reasonOf(copier), GetParam().reason);
  EXPECT_EQ(TempTree::read(tree.path("out/x")), "old");
  EXPECT_EQ(TempTree::list(tree.path("out")), Files{"x"});
  EXPECT_TRUE(journal().empty());
}

const auto abandonIt = [](Copier& c) { c.abandon = true; };
const auto shrinkIt = [](Copier& c) { ::truncate(c.tree.path("big").c_str(), 1000); };

INSTANTIATE_TEST_SUITE_P(
    Cases, BrokenCopy,
    testing::Values(BreakCase{"Abandoned", true, false, "Operation canceled", abandonIt},
                    BreakCase{"AbandonedNamed", false, false, "Operation canceled", abandonIt},
                    BreakCase{"AbandonedSparse", true, true, "Operation canceled", abandonIt},
                    BreakCase{"SourceShrank", true, false, kShrank, shrinkIt},
                    BreakCase{"SourceShrankNamed", false, false, kShrank, shrinkIt},
                    BreakCase{"SourceShrankSparse", true, true, kShrank, shrinkIt},
                    BreakCase{"SourceShrankSparseNamed", false, true, kShrank, shrinkIt}),
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

// The copier's own journal records a named temporary, so the clean-up finds what a killed
// copy left.
TEST_F(Copier, KilledCopyLeavesTheOldCopyAndTheCleanUpRemovesTheLeftover) {
  tree.write("big", content);
  tree.write("out/x", "old");
  killMidCopy(false);
  EXPECT_EQ(TempTree::read(tree.path("out/x")), "old");
  EXPECT_EQ(temporariesInOut().size(), 1u);
  EXPECT_EQ(journal().size(), 1u);
  FileCopier::removeRecordedLeftovers();
  EXPECT_EQ(TempTree::list(tree.path("out")), Files{"x"});
  EXPECT_TRUE(journal().empty());
}

TEST_F(Copier, SourceThatIsNotAFileIsRefusedWithoutWaitingForAWriter) {
  ASSERT_EQ(::mkfifo(tree.path("fifo").c_str(), 0644), 0);
  FileCopier copier(abandon);
  EXPECT_EQ(reasonOf(copier, "fifo"), kNotRegular);
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

// A copy never replaces a link at the destination (what else may stand there is NewFile's).
TEST_F(Copier, LinkAtTheDestinationIsLeftAsItWas) {
  tree.write("big", content);
  tree.write("outside", "not to be written");
  ASSERT_EQ(::symlink(tree.path("outside").c_str(), tree.path("out/x").c_str()), 0);
  const struct stat was = statOf("out/x");
  // As the walk calls it (with what it found) and on its own (looked up).
  for (const bool known : {true, false}) {
    FileCopier copier(abandon);
    try {
      copier.copy(FileAt{src, srcFolder, "big"}, FileAt{out, outFolder, "x"},
                  known ? &was : nullptr);
      ADD_FAILURE() << "copied over it";
    } catch (const ResguardaError& e) {
      EXPECT_EQ(e.path(), tree.path("out/x"));
      EXPECT_EQ(e.reason(), kSymbolicLink);
    }
  }
  EXPECT_EQ(statOf("out/x").st_ino, was.st_ino);
  EXPECT_TRUE(S_ISLNK(statOf("out/x").st_mode));
  EXPECT_EQ(TempTree::read(tree.path("outside")), "not to be written");
  EXPECT_EQ(TempTree::list(tree.path("out")), Files{"x"});
}

// Permission bits are kept, plus the owner's write bit; as root also owner and group, and
// with them the set-id bits.
struct ModeCase {
  const char* name;
  mode_t source;
  uid_t owner;
  gid_t group;
  mode_t copy;
};

class KeptMode : public Copier, public testing::WithParamInterface<ModeCase> {};

TEST_P(KeptMode, AsRoot) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root";
  const ModeCase& c = GetParam();
  const std::string source = tree.write("small", "s");
  ASSERT_EQ(::chown(source.c_str(), c.owner, c.group), 0);
  ASSERT_EQ(::chmod(source.c_str(), c.source), 0);
  for (const bool unnamed : {true, false}) {
    FileCopier copier(abandon);
    copier.setUnnamedTemporaries(unnamed);
    copy(copier, "small", unnamed ? "x" : "y");
    const struct stat st = statOf(unnamed ? "out/x" : "out/y");
    EXPECT_EQ(st.st_mode & 07777, c.copy) << std::oct << (st.st_mode & 07777);
    EXPECT_EQ(st.st_uid, c.owner);
    EXPECT_EQ(st.st_gid, c.group);
  }
}

INSTANTIATE_TEST_SUITE_P(Modes, KeptMode,
                         testing::Values(ModeCase{"Private", 0600, 0, 0, 0600},
                                         ModeCase{"Ordinary", 0644, 0, 0, 0644},
                                         ModeCase{"OpenToAllDespiteTheUmask", 0666, 0, 0, 0666},
                                         ModeCase{"ReadOnlyGetsOwnerWrite", 0444, 0, 0, 0644},
                                         ModeCase{"NoBitsAtAll", 0000, 0, 0, 0200},
                                         ModeCase{"OtherUsersPrivateFile", 0640, 1234, 2345, 0640},
                                         ModeCase{"SetUserId", 04755, 1234, 2345, 04755},
                                         ModeCase{"SetGroupIdAndSticky", 03750, 1234, 2345, 03750}),
                         [](const testing::TestParamInfo<ModeCase>& p) {
                           return std::string(p.param.name);
                         });

// An ordinary user keeps the permission bits of their own files, but never set-id bits.
struct UnprivilegedModeCase {
  const char* name;
  mode_t source;
  mode_t copy;
};

class KeptModeUnprivileged : public Copier,
                             public testing::WithParamInterface<UnprivilegedModeCase> {};

TEST_P(KeptModeUnprivileged, ForTheOwner) {
  const UnprivilegedModeCase& c = GetParam();
  ASSERT_EQ(::chmod(tree.root().c_str(), 0755), 0);
  const std::string mine = tree.mkdir("mine");
  ASSERT_EQ(::chown(mine.c_str(), 65534, 65534), 0);
  const int result = runUnprivileged([&] {
    const std::string source = mine + "/file";
    const int fd = ::open(source.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (fd < 0 || ::write(fd, "s", 1) != 1 || ::fchmod(fd, c.source) != 0) return 10;
    ::close(fd);
    const std::string outFolderMine = mine + "/out";
    if (::mkdir(outFolderMine.c_str(), 0755) != 0) return 11;
    try {
      CopyFiles(source, outFolderMine + "/file", abandon);
    } catch (...) {
      return 12;
    }
    struct stat st {};
    if (::stat((outFolderMine + "/file").c_str(), &st) != 0) return 13;
    return (st.st_mode & 07777) == c.copy ? 0 : 14;
  });
  EXPECT_EQ(result, 0);
}

INSTANTIATE_TEST_SUITE_P(Modes, KeptModeUnprivileged,
                         testing::Values(UnprivilegedModeCase{"Private", 0600, 0600},
                                         UnprivilegedModeCase{"ReadOnlyGetsOwnerWrite", 0400, 0600},
                                         UnprivilegedModeCase{"SetUserIdDropped", 04755, 0755}),
                         [](const testing::TestParamInfo<UnprivilegedModeCase>& p) {
                           return std::string(p.param.name);
                         });

TEST_F(Copier, TemporaryIsPrivateWhileItIsWritten) {
  tree.write("big", content);
  ::chmod(tree.path("big").c_str(), 0666);
  const mode_t mask = ::umask(0);
  FileCopier copier(abandon);
  copier.setChunkSize(1 << 20);
  copier.setUnnamedTemporaries(false);
  mode_t seen = 0;
  copier.setChunkObserver([&](uint64_t) {
    for (const std::string& name : temporariesInOut()) seen |= statOf("out/" + name).st_mode;
  });
  copy(copier);
  ::umask(mask);
  EXPECT_EQ(seen & 07777, 0600);
  EXPECT_EQ(statOf("out/x").st_mode & 07777, 0666);
}

// Holes stay holes: a file of a few hundred MiB with little data takes little room.
TEST_F(Copier, SparseFileStaysSparse) {
  constexpr uint64_t kSize = 300ull << 20;
  const std::string source = tree.path("sparse");
  writeSparse(source, kSize,
              {{0, content.substr(0, 64 << 10)},
               {100ull << 20, content.substr(0, 1 << 20)},
               {250ull << 20, content.substr(7, 4096)}});
  const struct stat made = statOf("sparse");
  if (static_cast<uint64_t>(made.st_blocks) * 512 >= kSize) GTEST_SKIP() << "no holes here";
  TempTree::setMtime(source, 1600000000);
  for (const bool unnamed : {true, false}) {
    FileCopier copier(abandon);
    copier.setUnnamedTemporaries(unnamed);
    copy(copier, "sparse", "x");
    const struct stat st = statOf("out/x");
    EXPECT_EQ(st.st_size, static_cast<off_t>(kSize));
    EXPECT_LT(static_cast<uint64_t>(st.st_blocks) * 512, 8ull << 20);
    EXPECT_EQ(st.st_mtime, 1600000000);
    EXPECT_TRUE(sameBytes(source, tree.path("out/x")));
  }
}

// The copier's own writes on a full disk: an error naming the copy, and all the room back.
class FullDisk : public Copier {
 public:
  FullDisk() {
    disk = tree.mkdir("disk");
    mounted = ::mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=1m") == 0;
  }
  ~FullDisk() override {
    if (mounted) ::umount2(disk.c_str(), MNT_DETACH);
  }
  std::string disk;
  bool mounted;
};

TEST_F(FullDisk, FailsAndGivesItsRoomBack) {
  if (!mounted) GTEST_SKIP() << "cannot mount a tmpfs here";
  tree.write("big", content);
  tree.write("disk/x", "old");
  const int diskFd = ::open(disk.c_str(), O_RDONLY | O_DIRECTORY);
  const std::string diskFolder = disk + "/";
  try {
    FileCopier copier(abandon);
    copier.copy(FileAt{src, srcFolder, "big"}, FileAt{diskFd, diskFolder, "x"});
    ADD_FAILURE() << "copied 3 MiB onto 1 MiB";
  } catch (const ResguardaError& e) {
    EXPECT_EQ(e.path(), disk + "/x");
    EXPECT_EQ(e.reason(), "No space left on device");
  }
  EXPECT_EQ(TempTree::read(disk + "/x"), "old");
  EXPECT_EQ(TempTree::list(disk), Files{"x"});
  // A sparse file far larger than the disk still fits.
  writeSparse(tree.path("sparse"), 64 << 20, {{1 << 20, "data"}});
  FileCopier copier(abandon);
  copier.copy(FileAt{src, srcFolder, "sparse"}, FileAt{diskFd, diskFolder, "s"});
  ::close(diskFd);
  EXPECT_EQ(statOf("disk/s").st_size, 64 << 20);
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
