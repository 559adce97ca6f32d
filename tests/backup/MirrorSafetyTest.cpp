// The walk against hostile trees: links planted at the destination, paths past the system's
// limit, pseudo file systems, and sources that lead back into the destination.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "MirrorFixture.h"
#include "support/TempTree.h"

namespace {

using namespace mirror_test;

bool anyLineHas(const std::vector<std::string>& lines, const std::string& text) {
  for (const std::string& line : lines)
    if (line.find(text) != std::string::npos) return true;
  return false;
}

// Where a link to a folder outside the destination is planted below bk/, and how many of the
// task's two files must then fail.
struct PlantedLink {
  const char* name;
  const char* at;
  int failures;
};

class LinkAtTheDestination : public Mirror, public testing::WithParamInterface<PlantedLink> {};

TEST_P(LinkAtTheDestination, IsNeverWrittenThrough) {
  tree.write("Mis/top.txt", "new", T + 100);
  tree.write("Mis/sub/x.txt", "new", T + 100);
  tree.write("elsewhere/top.txt", "old", T);
  tree.write("elsewhere/x.txt", "old", T);
  tree.write("elsewhere/sub/x.txt", "old", T);
  const std::string link = out(GetParam().at);
  tree.mkdir(link.substr(0, link.rfind('/')).substr(tree.root().size() + 1));
  ASSERT_EQ(::symlink(tree.path("elsewhere").c_str(), link.c_str()), 0);
  mirror("Mis");
  for (const char* f : {"elsewhere/top.txt", "elsewhere/x.txt", "elsewhere/sub/x.txt"})
    EXPECT_EQ(TempTree::read(tree.path(f)), "old") << f;
  EXPECT_EQ(TempTree::files(tree.path("elsewhere")), (Files{"sub/x.txt", "top.txt", "x.txt"}));
  struct stat st {};
  ASSERT_EQ(::lstat(link.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(run.failures, GetParam().failures);
  EXPECT_TRUE(anyLineHas(observer.lines, "enlace simbólico"))
      << testing::PrintToString(observer.lines);
}

INSTANTIATE_TEST_SUITE_P(Cases, LinkAtTheDestination,
                         testing::Values(PlantedLink{"TaskFolder", "Mis", 2},
                                         PlantedLink{"Subfolder", "Mis/sub", 1},
                                         PlantedLink{"FileName", "Mis/top.txt", 1}),
                         [](const auto& p) { return std::string(p.param.name); });

// A chain of folders made, read and removed relative to each other, since its path is too
// long for the system to take whole.
class DeepChain {
 public:
  DeepChain(const std::string& root, int levels, std::size_t nameLength)
      : root_(::open(root.c_str(), O_RDONLY | O_DIRECTORY)),
        levels_(levels),
        name_(nameLength, 'n') {
    int fd = ::dup(root_);
    for (int i = 0; i < levels; ++i) {
      ::mkdirat(fd, name_.c_str(), 0755);
      const int next = ::openat(fd, name_.c_str(), O_RDONLY | O_DIRECTORY);
      ::close(fd);
      fd = next;
    }
    ::close(fd);
  }
  ~DeepChain() { ::close(root_); }

  // The folder `level` names below `from` (the chain's root by default); -1 when missing.
  int open(int level, int from = -1) const {
    int fd = ::dup(from < 0 ? root_ : from);
    for (int i = 0; i < level && fd >= 0; ++i) {
      const int next = ::openat(fd, name_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
      ::close(fd);
      fd = next;
    }
    return fd;
  }
  void write(int level, const char* file, const std::string& content, time_t mtime) const {
    const int folder = open(level);
    const int fd = ::openat(folder, file, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::close(folder);
    ASSERT_EQ(::write(fd, content.data(), content.size()), static_cast<ssize_t>(content.size()));
    const struct timespec times[2] = {{mtime, 0}, {mtime, 0}};
    ::futimens(fd, times);
    ::close(fd);
  }
  std::string read(int from, int level, const char* file) const {
    const int folder = open(level, from);
    if (folder < 0) return "<missing folder>";
    const int in = ::openat(folder, file, O_RDONLY);
    ::close(folder);
    if (in < 0) return "<missing file>";
    char buffer[64];
    const ssize_t n = ::read(in, buffer, sizeof buffer);
    ::close(in);
    return std::string(buffer, n > 0 ? n : 0);
  }
  // Removes the chain's folders and files below `from` (the chain's root by default).
  void remove(int from = -1) const { removeBelow(from < 0 ? root_ : from, levels_); }

 private:
  void removeBelow(int dirFd, int levels) const {
    if (levels == 0) return;
    const int fd = ::openat(dirFd, name_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
    if (fd < 0) return;
    removeBelow(fd, levels - 1);
    for (const char* f : {"bottom", "middle", "top"}) ::unlinkat(fd, f, 0);
    ::close(fd);
    ::unlinkat(dirFd, name_.c_str(), AT_REMOVEDIR);
  }

  int root_;
  int levels_;
  std::string name_;
};

TEST_F(Mirror, PathsPastTheSystemLimitAreWalkedAndCopiedWhole) {
  constexpr int kLevels = 25;  // 25 x 201 bytes: past 4,096 at both ends
  tree.mkdir("Mis");
  const DeepChain chain(tree.path("Mis"), kLevels, 200);
  chain.write(kLevels, "bottom", "b", T);
  chain.write(12, "middle", "m", T);
  mirror("Mis");
  const int copy = ::open(out("Mis").c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(copy, 0);
  EXPECT_EQ(chain.read(copy, kLevels, "bottom"), "b");
  EXPECT_EQ(chain.read(copy, 12, "middle"), "m");
  EXPECT_EQ(run.failures, 0) << testing::PrintToString(observer.lines);
  expectCounts(2, 0, 2);
  chain.remove(copy);
  chain.remove();
  ::close(copy);
}

TEST_F(Mirror, TreeDeeperThanTheWalkGoesFailsVisibly) {
  constexpr int kLevels = 1030;
  tree.mkdir("Mis");
  const DeepChain chain(tree.path("Mis"), kLevels, 1);
  chain.write(kLevels, "bottom", "b", T);
  chain.write(1, "top", "t", T);
  mirror("Mis");
  EXPECT_EQ(copied(), Files{"Mis/n/top"});
  EXPECT_EQ(run.failures, 1);
  EXPECT_TRUE(anyLineHas(observer.lines, "demasiados niveles"));
  chain.remove();
  const int copy = ::open(out("Mis").c_str(), O_RDONLY | O_DIRECTORY);
  chain.remove(copy);
  ::close(copy);
}

TEST_F(Mirror, NothingInsideTheDestinationIsWalked) {
  tree.write("Mis/x", "x", T);
  mirror("Mis");
  // A link to a folder of the backup itself would add a level on every run.
  ASSERT_EQ(::symlink(out("Mis").c_str(), tree.path("Mis/loop").c_str()), 0);
  mirror("Mis");
  mirror("Mis");
  EXPECT_EQ(copied(), Files{"Mis/x"});
  EXPECT_EQ(run.failures, 0);

  // A task folder inside the destination is refused, and says so.
  mirrorPath(out("Mis"));
  EXPECT_EQ(copied(), Files{"Mis/x"});
  EXPECT_EQ(run.failures, 1);
  EXPECT_TRUE(anyLineHas(observer.lines, "dentro de la carpeta de destino"));
}

TEST_F(Mirror, PseudoFileSystemsAreNeverEntered) {
  tree.write("Mis/x", "x", T);
  ASSERT_EQ(::symlink("/proc", tree.path("Mis/proc").c_str()), 0);
  ASSERT_EQ(::symlink("/sys/kernel", tree.path("Mis/kernel").c_str()), 0);
  ASSERT_EQ(::symlink("/proc/self/status", tree.path("Mis/status").c_str()), 0);
  mirror("Mis");
  EXPECT_EQ(copied(), Files{"Mis/x"});
  expectCounts(1, 0, 1);

  // A task row of /proc itself copies nothing, and the log says why.
  observer.lines.clear();
  mirrorPath("/proc");
  EXPECT_EQ(copied(), Files{"Mis/x"});
  EXPECT_EQ(run.failures, 0);
  EXPECT_TRUE(anyLineHas(observer.lines, "AVISO - /proc"));
}

TEST_F(Mirror, FolderWhereTheCopyGoesIsNamed) {
  tree.write("Mis/x.txt", "x", T);
  tree.mkdir("bk/Mis/x.txt");
  TempTree::setMtime(out("Mis/x.txt"), T + 1000);  // newer, and still no file
  mirror("Mis");
  EXPECT_EQ(run.failures, 1);
  EXPECT_TRUE(anyLineHas(observer.lines, "ERROR - " + out("Mis/x.txt") + ": "))
      << testing::PrintToString(observer.lines);
}

TEST_F(Mirror, FoldersMadeAtTheDestinationKeepTheSourcesPermissions) {
  tree.write("Mis/private/x", "x", T);
  tree.write("Mis/shared/y", "y", T);
  ::chmod(tree.path("Mis").c_str(), 0750);
  ::chmod(tree.path("Mis/private").c_str(), 0700);
  ::chmod(tree.path("Mis/shared").c_str(), 0555);
  mirror("Mis");
  struct stat st {};
  const std::pair<const char*, mode_t> expected[] = {
      {"Mis", 0750}, {"Mis/private", 0700}, {"Mis/shared", 0755}};
  for (const auto& [folder, mode] : expected) {
    ASSERT_EQ(::stat(out(folder).c_str(), &st), 0) << folder;
    EXPECT_EQ(st.st_mode & 07777, mode) << folder;
  }
}

}  // namespace
