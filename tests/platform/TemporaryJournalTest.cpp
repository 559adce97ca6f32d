#include "platform/TemporaryJournal.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>

#include "NewFileFixture.h"
#include "platform/NewFile.h"
#include "support/ScopedVariable.h"
#include "support/TempTree.h"

namespace {

using Files = std::vector<std::string>;
constexpr char kLookalike[] = ".resguarda-abc123";

// A user's file that merely has the form of our temporaries' names.
TEST_F(NewFileFixture, UsersFileWithATemporaryNameSurvivesNewFilesAndTheCleanUp) {
  const std::string mine = tree.write(std::string("out/") + kLookalike, "mine");
  for (const bool unnamed : {true, false}) {
    const char* name = unnamed ? "x" : "y";
    EXPECT_EQ(write(name, "new", withUnnamed(unnamed)), "");    // a new file
    EXPECT_EQ(write(name, "newer", withUnnamed(unnamed)), "");  // and its replacement
  }
  NewFile::removeLeftovers();
  EXPECT_EQ(TempTree::read(mine), "mine");
  EXPECT_EQ(TempTree::list(tree.path("out")), (Files{kLookalike, "x", "y"}));
  EXPECT_TRUE(journal().empty());
}

TEST_F(NewFileFixture, TemporaryOfALiveWriterIsLeftUntilItDies) {
  const pid_t writer = writeInChild(NewFileStep::Written, false, true);
  ASSERT_EQ(temporariesInOut().size(), 1u);
  NewFile::removeLeftovers();
  EXPECT_EQ(temporariesInOut().size(), 1u);
  EXPECT_EQ(journal().size(), 1u);
  kill(writer);
  NewFile::removeLeftovers();
  EXPECT_TRUE(TempTree::list(tree.path("out")).empty());
  EXPECT_TRUE(journal().empty());
}

TEST_F(NewFileFixture, LeftoverReplacedByAnotherFileOfTheSameNameIsLeft) {
  tree.write("out/x", "old");
  writeInChild(NewFileStep::Written, false, false);
  const Files left = temporariesInOut();
  ASSERT_EQ(left.size(), 1u);
  const std::string name = tree.path("out/" + left[0]);
  ASSERT_EQ(::unlink(name.c_str()), 0);
  tree.write("out/" + left[0], "someone else's");
  NewFile::removeLeftovers();
  EXPECT_EQ(TempTree::read(name), "someone else's");
  EXPECT_EQ(TempTree::read(tree.path("out/x")), "old");
  EXPECT_TRUE(journal().empty());
}

// Hand-made journal entries: only a file that is certainly our leftover is removed.
class Journal : public NewFileFixture {
 public:
  Journal() {
    tree.mkdir("state/resguarda/temporales");
    for (const char* folder : {"state", "state/resguarda", "state/resguarda/temporales"})
      ::chmod(tree.path(folder).c_str(), 0700);
  }
  // An entry for the file at `target` recorded with the status of `like` (a relative path
  // in the tree), adjusted by `edit`.
  std::string plant(const std::string& target, const std::string& like,
                    const std::function<void(FileIdentity&, uint64_t&)>& edit = nullptr) {
    FileIdentity file;
    EXPECT_TRUE(FileIdentity::of(AT_FDCWD, tree.path(like).c_str(), AT_SYMLINK_NOFOLLOW, file));
    uint64_t sizeLimit = TemporaryJournal::kNoSizeLimit;
    if (edit) edit(file, sizeLimit);
    TemporaryJournal journal;
    EXPECT_TRUE(journal.record(file, target[0] == '/' ? target : "/x", sizeLimit));
    const std::string entry = journalFolder + "/" + this->journal().at(0);
    if (target[0] != '/') {
      ::unlink(entry.c_str());
      EXPECT_EQ(::symlink(target.c_str(), entry.c_str()), 0);
    }
    return entry;
  }
};

struct EntryCase {
  const char* name;
  // Makes the file(s) and plants the entry; returns the path that must survive ("" none).
  std::function<std::string(Journal&)> make;
  bool removed;  // the file goes
  bool entryKept;
};

class HandMadeEntry : public Journal, public testing::WithParamInterface<EntryCase> {};

TEST_P(HandMadeEntry, RemovesOnlyWhatIsCertainlyOurs) {
  const std::string file = GetParam().make(*this);
  const Files entries = journal();
  ASSERT_EQ(entries.size(), 1u);
  NewFile::removeLeftovers();
  if (!file.empty()) {
    EXPECT_EQ(TempTree::exists(file), !GetParam().removed);
  }
  EXPECT_EQ(journal(), GetParam().entryKept ? entries : Files{});
}

std::string lookalike(Journal& j) {
  return j.tree.write(std::string("out/") + kLookalike, "data");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HandMadeEntry,
    testing::Values(
        EntryCase{"OurLeftover",
                  [](Journal& j) {
                    const std::string file = lookalike(j);
                    j.plant(file, std::string("out/") + kLookalike);
                    return file;
                  },
                  true, false},
        EntryCase{"AnotherInode",
                  [](Journal& j) {
                    const std::string file = lookalike(j);
                    j.plant(file, std::string("out/") + kLookalike,
                            [](FileIdentity& f, uint64_t&) { ++f.ino; });
                    return file;
                  },
                  false, false},
        EntryCase{"NotATemporaryName",
                  [](Journal& j) {
                    const std::string file = j.tree.write("out/x", "data");
                    j.plant(file, "out/x");
                    return file;
                  },
                  false, false},
        EntryCase{"RelativePath",
                  [](Journal& j) {
                    const std::string file = lookalike(j);
                    j.plant(kLookalike, std::string("out/") + kLookalike);
                    return file;
                  },
                  false, false},
        EntryCase{"LinkUnderOurName",
                  [](Journal& j) {
                    const std::string target = j.tree.write("out/target", "data");
                    const std::string link = j.tree.path(std::string("out/") + kLookalike);
                    ::symlink(target.c_str(), link.c_str());
                    j.plant(link, "out/target");
                    return target;
                  },
                  false, false},
        EntryCase{"FifoUnderOurName",
                  [](Journal& j) {
                    const std::string fifo = j.tree.path(std::string("out/") + kLookalike);
                    ::mkfifo(fifo.c_str(), 0600);
                    j.plant(fifo, std::string("out/") + kLookalike);
                    return fifo;
                  },
                  false, false},
        EntryCase{"FolderNotThere",
                  [](Journal& j) {
                    j.plant(j.tree.path(std::string("gone/") + kLookalike), "out");
                    return std::string();
                  },
                  false, true},
        EntryCase{"FolderNotThereForAMonth",
                  [](Journal& j) {
                    const std::string entry =
                        j.plant(j.tree.path(std::string("gone/") + kLookalike), "out");
                    const timespec old[2] = {{0, UTIME_OMIT}, {::time(nullptr) - 40 * 86400, 0}};
                    ::utimensat(AT_FDCWD, entry.c_str(), old, AT_SYMLINK_NOFOLLOW);
                    return std::string();
                  },
                  false, false},
        // A disk plugged in again: other device and mount numbers, maybe other inodes.
        EntryCase{"PluggedInAgain",
                  [](Journal& j) {
                    const std::string file = lookalike(j);
                    j.plant(file, std::string("out/") + kLookalike,
                            [](FileIdentity& f, uint64_t& limit) {
                              ++f.dev;
                              ++f.ino;
                              f.mount = 0;
                              limit = 4;
                            });
                    return file;
                  },
                  true, false},
        EntryCase{"PluggedInAgainAndNotThere",
                  [](Journal& j) {
                    j.tree.write("out/other", "data");
                    j.plant(j.tree.path(std::string("out/") + kLookalike), "out/other",
                            [](FileIdentity& f, uint64_t&) { ++f.dev; });
                    return std::string();
                  },
                  false, true},
        // The state folder follows the log's rule: a link there is not followed.
        EntryCase{"StateFolderALink",
                  [](Journal& j) {
                    const std::string file = lookalike(j);
                    j.plant(file, std::string("out/") + kLookalike);
                    const std::string state = j.tree.path("state/resguarda");
                    ::rename(state.c_str(), j.tree.path("state/elsewhere").c_str());
                    ::symlink("elsewhere", state.c_str());
                    return file;
                  },
                  false, true},
        EntryCase{"NotAnEntryOfOurs",
                  [](Journal& j) {
                    const std::string file = lookalike(j);
                    ::symlink(file.c_str(), (j.journalFolder + "/notes").c_str());
                    return file;
                  },
                  false, true},
        EntryCase{"JournalOpenToOthers",
                  [](Journal& j) {
                    const std::string file = lookalike(j);
                    j.plant(file, std::string("out/") + kLookalike);
                    ::chmod(j.journalFolder.c_str(), 0777);
                    return file;
                  },
                  false, true}),
    [](const testing::TestParamInfo<EntryCase>& p) { return std::string(p.param.name); });

TEST_F(NewFileFixture, JournalFolderIsMadePrivateOnFirstNeed) {
  EXPECT_EQ(write("x", "new", withUnnamed(true)), "");  // no journal needed
  EXPECT_FALSE(TempTree::exists(tree.path("state")));
  EXPECT_EQ(write("y", "new", withUnnamed(false)), "");
  for (const char* folder : {"state", "state/resguarda", "state/resguarda/temporales"})
    EXPECT_EQ(statOf(folder).st_mode & 07777, 0700) << folder;
}

// No journal, no clean-up: a named leftover is then left alone, and copies still work.
struct NoJournalCase {
  const char* name;
  std::optional<std::string> home;  // relative to the tree
  uid_t homeOwner;
};

class NoJournal : public NewFileFixture, public testing::WithParamInterface<NoJournalCase> {};

TEST_P(NoJournal, LeavesNamedLeftoversAlone) {
  std::optional<std::string> home;
  if (GetParam().home) {
    home = tree.mkdir(*GetParam().home);
    ASSERT_EQ(::chown(home->c_str(), GetParam().homeOwner, GetParam().homeOwner), 0);
  }
  ScopedVariable noState("XDG_STATE_HOME", std::nullopt);
  ScopedVariable homeVariable("HOME", home);
  writeInChild(NewFileStep::Written, false, false);
  EXPECT_EQ(write("y", "new", withUnnamed(false)), "");
  NewFile::removeLeftovers();
  EXPECT_EQ(temporariesInOut().size(), 1u);
  EXPECT_EQ(TempTree::read(tree.path("out/y")), "new");
  if (home) {
    EXPECT_TRUE(TempTree::list(*home).empty());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NoJournal,
    testing::Values(NoJournalCase{"NoHomeFolder", std::nullopt, 0},
                    // Root with a user's HOME must not leave folders of its own in it.
                    NoJournalCase{"SomeoneElsesHome", "home", 1234}),
    [](const testing::TestParamInfo<NoJournalCase>& p) { return std::string(p.param.name); });

}  // namespace
