#include <errno.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "CopierFixture.h"
#include "backup/CopyFiles.h"

namespace {

constexpr time_t kSourceTime = 1700000000;  // long before any copy made by the test
constexpr char kTimeNotKept[] = "el disco de destino no guarda la fecha de la copia";

int refuseWith(int err) {
  errno = err;
  return -1;
}

// Stand-ins for file systems that cannot store owners, modes or times.
int ownerNotImplemented(int, uid_t, gid_t) {
  return refuseWith(ENOSYS);
}
int ownerNotMapped(int, uid_t, gid_t) {
  return refuseWith(EINVAL);
}
int modeNotImplemented(int, mode_t) {
  return refuseWith(ENOSYS);
}
int modeNotRepresentable(int, mode_t) {
  return refuseWith(EPERM);
}
int modeWithoutSetId(int fd, mode_t mode) {
  return (mode & 07000) ? refuseWith(EPERM) : ::fchmod(fd, mode);
}
int modeFailsOnTheDisk(int, mode_t) {
  return refuseWith(EIO);
}
// exfat-fuse: a change that leaves the access time out changes nothing.
int timesOnlyBoth(int fd, const timespec times[2]) {
  return times[0].tv_nsec == UTIME_OMIT || times[1].tv_nsec == UTIME_OMIT ? 0
                                                                          : ::futimens(fd, times);
}
int timesIgnored(int, const timespec[2]) {
  return 0;
}
int timesRefused(int, const timespec[2]) {
  return refuseWith(EPERM);
}
// A file system that rounds up to the next two-second step.
int timesRoundedUp(int fd, const timespec times[2]) {
  const timespec later[2] = {times[0], {(times[1].tv_sec / 2 + 1) * 2, 0}};
  return ::futimens(fd, later);
}

struct MetadataCase {
  const char* name;
  MetadataCalls calls;
  mode_t sourceMode;
  // Expected: the failure's reason ("no error": the copy is placed), what is told as not kept,
  // the copy's mode and whether it dates like its source.
  const char* reason;
  unsigned notKept;
  mode_t copyMode;
  bool sourceTime;
};

MetadataCalls with(int (*owner)(int, uid_t, gid_t), int (*mode)(int, mode_t),
                   int (*times)(int, const timespec[2])) {
  MetadataCalls calls;
  if (owner) calls.changeOwner = owner;
  if (mode) calls.changeMode = mode;
  if (times) calls.setTimes = times;
  return calls;
}

class Refusing : public Copier, public testing::WithParamInterface<MetadataCase> {};

TEST_P(Refusing, DestinationStillGetsTheCopyAndTheRunIsTold) {
  const MetadataCase& c = GetParam();
  if (::geteuid() != 0) GTEST_SKIP() << "needs root";
  tree.write("small", "content", kSourceTime);
  ::chmod(tree.path("small").c_str(), c.sourceMode);
  tree.write("out/x", "old");
  for (const bool unnamed : {true, false}) {
    FileCopier copier(abandon);
    copier.setUnnamedTemporaries(unnamed);
    copier.setMetadataCalls(c.calls);
    EXPECT_EQ(reasonOf(copier, "small"), c.reason);
    EXPECT_EQ(copier.notKept(), c.notKept);
    const std::string expected = std::strcmp(c.reason, "no error") == 0 ? "content" : "old";
    EXPECT_EQ(TempTree::read(tree.path("out/x")), expected);
    EXPECT_EQ(TempTree::list(tree.path("out")), Files{"x"});
    if (expected == "old") continue;
    const struct stat st = statOf("out/x");
    EXPECT_EQ(st.st_mode & 07777, c.copyMode) << std::oct << (st.st_mode & 07777);
    EXPECT_EQ(st.st_mtim.tv_sec == kSourceTime, c.sourceTime) << st.st_mtim.tv_sec;
    // Never later than its source: an edit made after the copy is always taken.
    EXPECT_LE(st.st_mtim.tv_sec / 2, kSourceTime / 2);
  }
}

constexpr unsigned kOwner = FileCopier::OwnerNotKept;
constexpr unsigned kMode = FileCopier::ModeNotKept;
constexpr unsigned kTime = FileCopier::TimeNotKept;

INSTANTIATE_TEST_SUITE_P(
    FileSystems, Refusing,
    testing::Values(MetadataCase{"Everything", {}, 0640, "no error", 0, 0640, true},
                    MetadataCase{"FusefatOwnerAndMode",
                                 with(ownerNotImplemented, modeNotImplemented, nullptr), 0640,
                                 "no error", kOwner | kMode, 0600, true},
                    MetadataCase{"VfatMode", with(nullptr, modeNotRepresentable, nullptr), 0640,
                                 "no error", kMode, 0600, true},
                    MetadataCase{"OwnerNotMapped", with(ownerNotMapped, nullptr, nullptr), 0640,
                                 "no error", kOwner, 0640, true},
                    MetadataCase{"SetIdBitsRefused", with(nullptr, modeWithoutSetId, nullptr),
                                 04755, "no error", kMode, 0755, true},
                    MetadataCase{"ModeFailsOnTheDisk", with(nullptr, modeFailsOnTheDisk, nullptr),
                                 0640, "Input/output error", 0, 0, false},
                    MetadataCase{"ExfatFuseTimes", with(nullptr, nullptr, timesOnlyBoth), 0640,
                                 "no error", 0, 0640, true},
                    MetadataCase{"TimeRoundedUp", with(nullptr, nullptr, timesRoundedUp), 0640,
                                 "no error", kTime, 0640, false},
                    // The copy keeps the time it was made: later than its source, it may hide an
                    // edit made within the same step, which the run is told of.
                    MetadataCase{"TimesIgnored", with(nullptr, nullptr, timesIgnored), 0640,
                                 "no error", kTime, 0640, false},
                    MetadataCase{"TimesRefused", with(nullptr, nullptr, timesRefused), 0640,
                                 "no error", kTime, 0640, false}),
    [](const testing::TestParamInfo<MetadataCase>& p) { return std::string(p.param.name); });

TEST_F(Copier, SourceChangedWhileCopiedNeverLooksCurrentWhereNoTimeIsKept) {
  tree.write("big", content, kSourceTime);
  tree.write("out/x", "old");
  FileCopier copier(abandon);
  copier.setChunkSize(1 << 20);
  copier.setMetadataCalls(with(nullptr, nullptr, timesIgnored));
  copier.setChunkObserver(
      [this](uint64_t) { TempTree::setMtime(tree.path("big"), kSourceTime + 60); });
  EXPECT_EQ(reasonOf(copier), kTimeNotKept);
  EXPECT_EQ(TempTree::read(tree.path("out/x")), "old");
  EXPECT_EQ(TempTree::list(tree.path("out")), Files{"x"});
}

// fusefat dates a file anew when it is renamed into place: it is dated again under its name.
TEST_F(Copier, CopyDatedAnewWhenPlacedIsDatedAgain) {
  tree.write("small", "content", kSourceTime);
  for (const bool unnamed : {true, false}) {
    const char* name = unnamed ? "x" : "y";
    FileCopier copier(abandon);
    copier.setUnnamedTemporaries(unnamed);
    copier.setStepHook([&](NewFileStep step) {
      if (step == NewFileStep::Placed) TempTree::setMtime(outFolder + name, ::time(nullptr));
    });
    copy(copier, "small", name);
    EXPECT_EQ(statOf(std::string("out/") + name).st_mtim.tv_sec, kSourceTime);
    EXPECT_FALSE(copier.metadataNotKept());
  }
}

std::string attribute(const std::string& path, const char* name) {
  char value[256];
  const ssize_t got = ::lgetxattr(path.c_str(), name, value, sizeof value);
  return got < 0 ? std::string("none") : std::string(value, static_cast<std::size_t>(got));
}

// A POSIX access list as Linux stores it: version 2, then (tag, permissions, id) entries.
std::string accessList(std::initializer_list<std::tuple<uint16_t, uint16_t, uint32_t>> entries) {
  std::string list("\x02\0\0\0", 4);
  for (const auto& [tag, permissions, id] : entries) {
    const char entry[8] = {static_cast<char>(tag),         static_cast<char>(tag >> 8),
                           static_cast<char>(permissions), 0,
                           static_cast<char>(id),          static_cast<char>(id >> 8),
                           static_cast<char>(id >> 16),    static_cast<char>(id >> 24)};
    list.append(entry, sizeof entry);
  }
  return list;
}

constexpr uint32_t kNoId = 0xffffffff;

TEST_F(Copier, KeepsUserAttributesAndAccessListsButNoSecurityOnes) {
  const std::string source = tree.write("small", "content");
  ::chmod(source.c_str(), 0440);
  // owner r, user 1234 rw, group r, mask rw, others none
  const std::string list = accessList(
      {{0x01, 4, kNoId}, {0x02, 6, 1234}, {0x04, 4, kNoId}, {0x10, 6, kNoId}, {0x20, 0, kNoId}});
  if (::setxattr(source.c_str(), "system.posix_acl_access", list.data(), list.size(), 0) != 0 ||
      ::setxattr(source.c_str(), "user.nota", "hola", 4, 0) != 0)
    GTEST_SKIP() << "no access lists or user attributes here";
  const bool trusted = ::setxattr(source.c_str(), "trusted.x", "1", 1, 0) == 0;
  for (const bool unnamed : {true, false}) {
    const char* name = unnamed ? "x" : "y";
    FileCopier copier(abandon);
    copier.setUnnamedTemporaries(unnamed);
    copy(copier, "small", name);
    const std::string copy = outFolder + name;
    EXPECT_EQ(attribute(copy, "user.nota"), "hola");
    if (trusted) {
      EXPECT_EQ(attribute(copy, "trusted.x"), "none");
    }
    // The owner may write the copy, as with the mode; the mask stays the group bits.
    EXPECT_EQ(attribute(copy, "system.posix_acl_access"), accessList({{0x01, 6, kNoId},
                                                                      {0x02, 6, 1234},
                                                                      {0x04, 4, kNoId},
                                                                      {0x10, 6, kNoId},
                                                                      {0x20, 0, kNoId}}));
    EXPECT_EQ(statOf(std::string("out/") + name).st_mode & 0777, 0660);
    EXPECT_FALSE(copier.metadataNotKept());
  }
}

}  // namespace
