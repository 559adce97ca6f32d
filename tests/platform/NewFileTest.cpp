#include "platform/NewFile.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

#include "NewFileFixture.h"
#include "platform/Errors.h"
#include "support/SmallTmpfs.h"
#include "support/TempTree.h"
#include "support/Unprivileged.h"

namespace {

using Files = std::vector<std::string>;
constexpr char kSymbolicLink[] = "es un enlace simbólico, no se sigue";
constexpr char kNotRegular[] = "no es un archivo normal";

// What may stand at the target, and what becomes of it.
struct TargetCase {
  const char* name;
  std::function<void(NewFileFixture&)> make;  // makes out/x (or not)
  std::function<void(NewFileOptions&)> ask;   // the caller's wishes
  const char* result;                         // write()'s result
  const char* content;                        // out/x afterwards; null: not a file
  Files outside = {};                         // what "elsewhere" holds afterwards
};

class Target : public NewFileFixture, public testing::WithParamInterface<TargetCase> {};

// As a walk calls it (with what it found under the name) and on its own (looked up).
TEST_P(Target, IsReplacedOnlyWhenItMayBe) {
  const TargetCase& c = GetParam();
  tree.mkdir("elsewhere");
  for (const bool unnamed : {true, false}) {
    for (const bool durable : {false, true}) {
      for (const bool known : {false, true}) {
        SCOPED_TRACE(std::string(unnamed ? "unnamed" : "named") + (durable ? ", durable" : "") +
                     (known ? ", known" : ""));
        ::unlink(tree.path("out/x").c_str());
        ::rmdir(tree.path("out/x").c_str());
        c.make(*this);
        const struct stat was = statOf("out/x");
        NewFileOptions options = withUnnamed(unnamed);
        options.durable = durable;
        if (c.ask) c.ask(options);
        EXPECT_EQ(write("x", "new", options, known ? &was : nullptr), c.result);
        if (c.content) {
          EXPECT_TRUE(S_ISREG(statOf("out/x").st_mode));
          EXPECT_EQ(TempTree::read(tree.path("out/x")), c.content);
        } else {
          EXPECT_EQ(statOf("out/x").st_ino, was.st_ino);
          EXPECT_EQ(statOf("out/x").st_mode, was.st_mode);
        }
        EXPECT_EQ(TempTree::list(tree.path("out")), Files{"x"});
        EXPECT_EQ(TempTree::list(tree.path("elsewhere")), c.outside);
        EXPECT_TRUE(journal().empty());
      }
    }
  }
}

void oldFile(NewFileFixture& f) {
  f.tree.write("out/x", "old");
}

void linkTo(NewFileFixture& f, const char* target) {
  ::symlink(f.tree.path(target).c_str(), f.tree.path("out/x").c_str());
}

void replaceLinks(NewFileOptions& o) {
  o.replaceLink = true;
}

void keep(NewFileOptions& o) {
  o.existing = NewFileOptions::Existing::Keep;
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, Target,
    testing::Values(
        TargetCase{"Nothing", [](NewFileFixture&) {}, nullptr, "", "new"},
        TargetCase{"OldFile", oldFile, nullptr, "", "new"},
        TargetCase{"ReadOnlyFile",
                   [](NewFileFixture& f) {
                     oldFile(f);
                     ::chmod(f.tree.path("out/x").c_str(), 0444);
                   },
                   nullptr, "Permission denied", "old"},
        TargetCase{"OwnerMayNotWriteThoughOthersMay",
                   [](NewFileFixture& f) {
                     oldFile(f);
                     ::chown(f.tree.path("out/x").c_str(), 4321, 4321);
                     ::chmod(f.tree.path("out/x").c_str(), 0466);
                   },
                   [](NewFileOptions& o) { o.user = 4321; }, "Permission denied", "old"},
        TargetCase{"LinkToAFile",
                   [](NewFileFixture& f) {
                     f.tree.write("elsewhere/passwd", "keep");
                     linkTo(f, "elsewhere/passwd");
                   },
                   nullptr, kSymbolicLink, nullptr, Files{"passwd"}},
        TargetCase{"LinkReplacedWhenAsked",
                   [](NewFileFixture& f) {
                     f.tree.write("elsewhere/passwd", "keep");
                     linkTo(f, "elsewhere/passwd");
                   },
                   replaceLinks, "", "new", Files{"passwd"}},
        TargetCase{"DanglingLink", [](NewFileFixture& f) { linkTo(f, "elsewhere/nothing"); },
                   nullptr, kSymbolicLink, nullptr},
        TargetCase{"LinkToAFolder", [](NewFileFixture& f) { linkTo(f, "elsewhere"); }, nullptr,
                   kSymbolicLink, nullptr},
        TargetCase{"DanglingLinkReplacedWhenAsked",
                   [](NewFileFixture& f) { linkTo(f, "elsewhere/nothing"); }, replaceLinks, "",
                   "new"},
        TargetCase{"LinkToAFolderReplacedWhenAsked",
                   [](NewFileFixture& f) { linkTo(f, "elsewhere"); }, replaceLinks, "", "new"},
        TargetCase{"Folder", [](NewFileFixture& f) { f.tree.mkdir("out/x"); }, replaceLinks,
                   "Is a directory", nullptr},
        TargetCase{"Fifo", [](NewFileFixture& f) { ::mkfifo(f.tree.path("out/x").c_str(), 0666); },
                   replaceLinks, kNotRegular, nullptr},
        TargetCase{
            "Socket",
            [](NewFileFixture& f) { ::mknod(f.tree.path("out/x").c_str(), S_IFSOCK | 0666, 0); },
            replaceLinks, kNotRegular, nullptr},
        TargetCase{"Device",
                   [](NewFileFixture& f) {
                     ::mknod(f.tree.path("out/x").c_str(), S_IFCHR | 0666, makedev(1, 3));
                   },
                   replaceLinks, kNotRegular, nullptr},
        TargetCase{"OldFileKept", oldFile, keep, "File exists", "old"},
        TargetCase{"LinkKept", [](NewFileFixture& f) { linkTo(f, "elsewhere"); }, keep,
                   "File exists", nullptr},
        TargetCase{"NothingToKeep", [](NewFileFixture&) {}, keep, "", "new"}),
    [](const testing::TestParamInfo<TargetCase>& p) { return std::string(p.param.name); });

// Whatever comes to stand under the name while the file is written is judged again.
struct PlantedCase {
  const char* name;
  bool oldFile;  // out/x holds an old file when the new one is started
  std::function<void(NewFileFixture&)> plant;
  bool durable;
  const char* result;
};

class PlantedWhileWriting : public NewFileFixture,
                            public testing::WithParamInterface<PlantedCase> {};

TEST_P(PlantedWhileWriting, IsLeftAsItIs) {
  tree.write("elsewhere/passwd", "keep");
  for (const bool unnamed : {true, false}) {
    for (const bool known : {false, true}) {
      SCOPED_TRACE(std::string(unnamed ? "unnamed" : "named") + (known ? ", known" : ""));
      ::unlink(tree.path("out/x").c_str());
      ::rmdir(tree.path("out/x").c_str());
      if (GetParam().oldFile) tree.write("out/x", "old");
      const struct stat was = statOf("out/x");
      NewFileOptions options = withUnnamed(unnamed);
      options.durable = GetParam().durable;
      try {
        NewFile file(out, "x", outFolder + "x", options, known ? &was : nullptr);
        file.write("new");
        GetParam().plant(*this);
        file.commit();
        ADD_FAILURE() << "written over it";
      } catch (const ResguardaError& e) {
        EXPECT_EQ(e.reason(), GetParam().result);
      }
      EXPECT_FALSE(S_ISREG(statOf("out/x").st_mode));
      EXPECT_EQ(TempTree::read(tree.path("elsewhere/passwd")), "keep");
      EXPECT_EQ(TempTree::list(tree.path("out")), Files{"x"});
      EXPECT_TRUE(journal().empty());
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PlantedWhileWriting,
    testing::Values(PlantedCase{"LinkWhereNothingWas", false,
                                [](NewFileFixture& f) { linkTo(f, "elsewhere/passwd"); }, false,
                                kSymbolicLink},
                    PlantedCase{"FolderWhereNothingWas", false,
                                [](NewFileFixture& f) { f.tree.mkdir("out/x"); }, false,
                                "Is a directory"},
                    PlantedCase{"LinkForTheOldFileBeforeADurableCommit", true,
                                [](NewFileFixture& f) {
                                  ::unlink(f.tree.path("out/x").c_str());
                                  linkTo(f, "elsewhere/passwd");
                                },
                                true, kSymbolicLink}),
    [](const testing::TestParamInfo<PlantedCase>& p) { return std::string(p.param.name); });

// Another user's file that this user may not write, in a folder this user may write.
struct OtherUserCase {
  const char* name;
  uid_t owner;
  gid_t group;
  mode_t mode;
  bool replaced;
};

class OtherUsersFile : public NewFileFixture, public testing::WithParamInterface<OtherUserCase> {};

TEST_P(OtherUsersFile, IsReplacedOnlyWhenThisUserMayWriteIt) {
  const OtherUserCase& c = GetParam();
  ASSERT_EQ(::chmod(tree.root().c_str(), 0755), 0);
  ASSERT_EQ(::chown(tree.path("out").c_str(), 65534, 65534), 0);
  const std::string target = tree.write("out/x", "old");
  ASSERT_EQ(::chown(target.c_str(), c.owner, c.group), 0);
  ASSERT_EQ(::chmod(target.c_str(), c.mode), 0);
  for (const bool unnamed : {true, false}) {
    const int result = runUnprivileged([&] {
      const std::string reason = write("x", "new", withUnnamed(unnamed));
      return reason.empty() ? 0 : reason == "Permission denied" ? 1 : 2;
    });
    EXPECT_EQ(result, c.replaced ? 0 : 1) << (unnamed ? "unnamed" : "named");
    EXPECT_EQ(TempTree::read(target), c.replaced ? "new" : "old");
    EXPECT_EQ(TempTree::list(tree.path("out")), Files{"x"});
    if (c.replaced) break;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OtherUsersFile,
    testing::Values(OtherUserCase{"OwnedByRoot", 0, 0, 0644, false},
                    OtherUserCase{"OwnedByRootOpenToAll", 0, 0, 0666, true},
                    OtherUserCase{"GroupWritableNotOurGroup", 1234, 1234, 0664, false},
                    OtherUserCase{"GroupWritableOurGroup", 1234, 65534, 0664, true}),
    [](const testing::TestParamInfo<OtherUserCase>& p) { return std::string(p.param.name); });

// A writer killed at any moment leaves the old file or the whole new one, and at most a
// recorded leftover that the next clean-up takes.
struct KillCase {
  const char* name;
  NewFileStep step;
  bool unnamed;
  bool oldFile;
  const char* after;  // out/x once the writer is dead; null: nothing
};

class KilledWriter : public NewFileFixture, public testing::WithParamInterface<KillCase> {};

TEST_P(KilledWriter, LeavesOneWholeFileAndNoLeftoverAfterTheCleanUp) {
  const KillCase& c = GetParam();
  if (c.oldFile) tree.write("out/x", "old");
  EXPECT_EQ(writeInChild(c.step, c.unnamed, false), 0);
  if (c.after) {
    EXPECT_EQ(TempTree::read(tree.path("out/x")), c.after);
  } else {
    EXPECT_FALSE(TempTree::exists(tree.path("out/x")));
  }
  // Every named leftover is in the journal.
  EXPECT_EQ(temporariesInOut().size(), journal().size());
  NewFile::removeLeftovers();
  EXPECT_EQ(TempTree::list(tree.path("out")), c.after ? Files{"x"} : Files{});
  EXPECT_TRUE(journal().empty());
}

using S = NewFileStep;
INSTANTIATE_TEST_SUITE_P(
    Steps, KilledWriter,
    testing::Values(KillCase{"UnnamedCreated", S::Created, true, false, nullptr},
                    KillCase{"UnnamedWritten", S::Written, true, false, nullptr},
                    KillCase{"UnnamedPlaced", S::Placed, true, false, "new content"},
                    KillCase{"UnnamedOverOldCreated", S::Created, true, true, "old"},
                    KillCase{"UnnamedOverOldWritten", S::Written, true, true, "old"},
                    KillCase{"UnnamedOverOldNamed", S::Named, true, true, "old"},
                    KillCase{"UnnamedOverOldPlaced", S::Placed, true, true, "new content"},
                    KillCase{"NamedCreated", S::Created, false, false, nullptr},
                    KillCase{"NamedWritten", S::Written, false, false, nullptr},
                    KillCase{"NamedPlaced", S::Placed, false, false, "new content"},
                    KillCase{"NamedOverOldCreated", S::Created, false, true, "old"},
                    KillCase{"NamedOverOldWritten", S::Written, false, true, "old"},
                    KillCase{"NamedOverOldPlaced", S::Placed, false, true, "new content"}),
    [](const testing::TestParamInfo<KillCase>& p) { return std::string(p.param.name); });

// A small full disk: the write fails, nothing of it is left, and it can never be committed.
struct FullDiskCase {
  const char* name;
  bool unnamed;
  bool oldFile;
};

class FullDisk : public NewFileFixture, public testing::WithParamInterface<FullDiskCase> {};

TEST_P(FullDisk, FailsWithNothingLeftBehind) {
  SmallTmpfs disk(tree.path("disk"));
  if (!disk.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
  if (GetParam().oldFile) tree.write("disk/x", "old");
  const int diskFd = ::open(disk.folder().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  {
    NewFileOptions options = withUnnamed(GetParam().unnamed);
    options.durable = true;
    NewFile file(diskFd, "x", disk.folder() + "/x", options);
    const std::string piece(100000, 'x');
    std::string reason;
    try {
      for (int i = 0; i < 20; ++i) file.write(piece);
      file.commit();
    } catch (const ResguardaError& e) {
      reason = e.reason();
    }
    EXPECT_EQ(reason, "No space left on device");
    // What was written until the disk filled up must not pass for the whole file.
    EXPECT_THROW(file.commit(), ResguardaError);
  }
  ::close(diskFd);
  EXPECT_EQ(TempTree::list(disk.folder()), GetParam().oldFile ? Files{"x"} : Files{});
  if (GetParam().oldFile) {
    EXPECT_EQ(TempTree::read(disk.folder() + "/x"), "old");
  }
  EXPECT_TRUE(journal().empty());
}

INSTANTIATE_TEST_SUITE_P(Cases, FullDisk,
                         testing::Values(FullDiskCase{"Unnamed", true, false},
                                         FullDiskCase{"Named", false, false},
                                         FullDiskCase{"UnnamedOverOldFile", true, true},
                                         FullDiskCase{"NamedOverOldFile", false, true}),
                         [](const testing::TestParamInfo<FullDiskCase>& p) {
                           return std::string(p.param.name);
                         });

class Modes : public NewFileFixture, public testing::WithParamInterface<bool> {};

TEST_P(Modes, PrivateWhileWrittenThenTheCallersWhateverTheUmask) {
  const mode_t mask = ::umask(0);
  NewFileOptions options = withUnnamed(GetParam());
  options.mode = 0666;
  NewFile file(out, "x", outFolder + "x", options);
  struct stat st {};
  ASSERT_EQ(::fstat(file.fd(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  file.commit();
  ::umask(077);
  EXPECT_EQ(statOf("out/x").st_mode & 07777, 0666u);
  ::umask(mask);
}

INSTANTIATE_TEST_SUITE_P(Temporaries, Modes, testing::Values(true, false),
                         [](const testing::TestParamInfo<bool>& p) {
                           return std::string(p.param ? "Unnamed" : "Named");
                         });

// The content is not seen under its name before commit(), comes in the order given whatever
// the pieces' sizes, and is thrown away without a commit.
class Content : public NewFileFixture, public testing::WithParamInterface<bool> {};

TEST_P(Content, ArrivesWholeAndInOrderOnlyOnCommit) {
  NewFile file(out, "x", outFolder + "x", withUnnamed(GetParam()));
  std::string expected;
  for (int i = 0; i < 20000; ++i) {
    const std::string piece = "line " + std::to_string(i) + "\n";
    file.write(piece);
    expected += piece;
  }
  file.write(std::string(70000, 'z'));  // larger than the buffer on its own
  expected += std::string(70000, 'z');
  EXPECT_FALSE(TempTree::exists(tree.path("out/x")));
  file.commit();
  EXPECT_EQ(TempTree::read(tree.path("out/x")), expected);
  EXPECT_THROW(file.write("more"), ResguardaError);
  EXPECT_EQ(TempTree::list(tree.path("out")), Files{"x"});
}

TEST_P(Content, NotCommittedIsThrownAway) {
  tree.write("out/x", "old");
  {
    NewFile file(out, "x", outFolder + "x", withUnnamed(GetParam()));
    file.write(std::string(200000, 'a'));  // more than one buffer reaches the temporary
    file.write("tail");
  }
  EXPECT_EQ(TempTree::read(tree.path("out/x")), "old");
  EXPECT_EQ(TempTree::list(tree.path("out")), Files{"x"});
  EXPECT_TRUE(journal().empty());
}

INSTANTIATE_TEST_SUITE_P(Temporaries, Content, testing::Values(true, false),
                         [](const testing::TestParamInfo<bool>& p) {
                           return std::string(p.param ? "Unnamed" : "Named");
                         });

// A folder this user may not write in: the old file stays, nothing is left there.
TEST_F(NewFileFixture, ReadOnlyFolderFailsAndKeepsTheOldFile) {
  const std::string target = tree.write("out/x", "old");
  ASSERT_EQ(::chmod(target.c_str(), 0666), 0);
  makeReadOnlyForOthers(tree.root(), tree.path("out"));
  for (const bool unnamed : {true, false}) {
    const int result = runUnprivileged(
        [&] { return write("x", "new", withUnnamed(unnamed)) == "Permission denied" ? 0 : 1; });
    EXPECT_EQ(result, 0) << (unnamed ? "unnamed" : "named");
    EXPECT_EQ(TempTree::read(target), "old");
    EXPECT_EQ(TempTree::list(tree.path("out")), Files{"x"});
  }
}

// A name that is not one plain component could lead out of the folder.
class UnsafeName : public NewFileFixture, public testing::WithParamInterface<const char*> {};

TEST_P(UnsafeName, IsRefusedAndWritesNothing) {
  tree.mkdir("out/sub");
  EXPECT_EQ(write(GetParam(), "new", NewFileOptions{}), "Invalid argument");
  EXPECT_EQ(TempTree::list(tree.path("out")), Files{"sub"});
  EXPECT_TRUE(TempTree::list(tree.path("out/sub")).empty());
  EXPECT_EQ(TempTree::list(tree.root()), (Files{"out"}));
}

INSTANTIATE_TEST_SUITE_P(Names, UnsafeName, testing::Values("", ".", "..", "../x", "sub/x", "/x"));

// The refusal is told only when the name is its cause.
TEST_F(NewFileFixture, TemporaryRemovedMeanwhileIsNotTakenForARefusedName) {
  NewFileOptions options = withUnnamed(false);
  options.hook = [this](NewFileStep step) {
    if (step != NewFileStep::Written) return;
    for (const std::string& name : temporariesInOut()) ::unlink((outFolder + name).c_str());
  };
  EXPECT_EQ(write("a:b", "new", options), "No such file or directory");
}

TEST(TemporaryName, OnlyTheExactFormIsOurs) {
  for (const char* name : {".resguarda-abc123", ".resguarda-ZZZ999"})
    EXPECT_TRUE(NewFile::isTemporaryName(name)) << name;
  for (const char* name : {".resguarda-abc12", ".resguarda-abc1234", ".resguarda-abc-12",
                           "resguarda-abc123", ".rgtmp-12-3", ".resguarda-abc12\xc3\xb1"})
    EXPECT_FALSE(NewFile::isTemporaryName(name)) << name;
  EXPECT_TRUE(NewFile::isTemporaryName(NewFile::temporaryName().c_str()));
}

}  // namespace
