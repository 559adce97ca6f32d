#include <errno.h>
#include <gtest/gtest.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "CopierFixture.h"
#include "platform/ExtendedAttributes.h"

namespace {

constexpr time_t kSourceTime = 1700000000;  // long before any copy made by the test

// Stand-ins for file systems that refuse owners, modes or times.
int refuse(int err) {
  errno = err;
  return -1;
}
int ownerNotImplemented(int, uid_t, gid_t) {  // fusefat
  return refuse(ENOSYS);
}
int modeNotImplemented(int, mode_t) {  // fusefat
  return refuse(ENOSYS);
}
int modeWithoutSetId(int fd, mode_t mode) {  // exfat-fuse
  return (mode & 07000) ? refuse(EPERM) : ::fchmod(fd, mode);
}
int timesOnlyBoth(int fd, const timespec times[2]) {  // exfat-fuse
  return times[0].tv_nsec == UTIME_OMIT ? 0 : ::futimens(fd, times);
}
int timesRoundedUp(int fd, const timespec times[2]) {
  const timespec later[2] = {times[0], {(times[1].tv_sec / 2 + 1) * 2, 0}};
  return ::futimens(fd, later);
}

struct MetadataCase {
  const char* name;
  mode_t sourceMode;
  unsigned notKept;
  mode_t copyMode;
  MetadataCalls calls;
};

constexpr unsigned kOwner = FileCopier::OwnerNotKept, kMode = FileCopier::ModeNotKept;

class Refusing : public Copier, public testing::WithParamInterface<MetadataCase> {};

TEST_P(Refusing, DestinationStillGetsTheCopyNeverDatedLaterAndTheRunIsTold) {
  const MetadataCase& c = GetParam();
  if (::geteuid() != 0) GTEST_SKIP() << "needs root";
  tree.write("small", "content", kSourceTime);
  ::chmod(tree.path("small").c_str(), c.sourceMode);
  tree.write("out/x", "old");
  FileCopier copier(abandon);
  copier.setMetadataCalls(c.calls);
  EXPECT_EQ(reasonOf(copier, "small"), "no error");
  EXPECT_EQ(copier.notKept(), c.notKept);
  EXPECT_EQ(TempTree::read(tree.path("out/x")), "content");
  EXPECT_EQ(TempTree::list(tree.path("out")), Files{"x"});
  const struct stat st = statOf("out/x");
  EXPECT_EQ(st.st_mode & 07777, c.copyMode) << std::oct << (st.st_mode & 07777);
  // An edit made after the copy is always newer.
  EXPECT_LE(st.st_mtim.tv_sec / 2, kSourceTime / 2);
}

const MetadataCalls kFusefat{.changeOwner = ownerNotImplemented, .changeMode = modeNotImplemented};
const MetadataCalls kNoSetId{.changeMode = modeWithoutSetId};
const MetadataCalls kExfatFuse{.setTimes = timesOnlyBoth};
const MetadataCalls kRoundedUp{.setTimes = timesRoundedUp};

INSTANTIATE_TEST_SUITE_P(
    FileSystems, Refusing,
    testing::Values(MetadataCase{"Fusefat", 0640, kOwner | kMode, 0600, kFusefat},
                    MetadataCase{"SetIdBitsRefused", 04755, kMode, 0755, kNoSetId},
                    MetadataCase{"ExfatFuseTimes", 0640, 0, 0640, kExfatFuse},
                    MetadataCase{"TimeRoundedUp", 0640, FileCopier::TimeNotKept, 0640, kRoundedUp}),
    [](const testing::TestParamInfo<MetadataCase>& p) { return std::string(p.param.name); });

// fusefat dates a file anew when it is renamed into place.
TEST_F(Copier, CopyDatedAnewWhenPlacedIsDatedAgain) {
  tree.write("small", "content", kSourceTime);
  FileCopier copier(abandon);
  copier.setStepHook([this](NewFileStep step) {
    if (step == NewFileStep::Placed) TempTree::setMtime(outFolder + "x", ::time(nullptr));
  });
  copy(copier, "small");
  EXPECT_EQ(statOf("out/x").st_mtim.tv_sec, kSourceTime);
}

std::string attribute(const std::string& path, const char* name) {
  char value[256];
  const ssize_t got = ::lgetxattr(path.c_str(), name, value, sizeof value);
  return got < 0 ? "none" : std::string(value, static_cast<std::size_t>(got));
}

// An access list as Linux stores it: owner `owner`, user 1234 rw-, group r--, mask rw-.
std::string accessList(char owner) {
  return std::string("\2\0\0\0\1\0", 6) + owner +
         std::string(
             "\0\xff\xff\xff\xff\2\0\6\0\xd2\4\0\0\4\0\4\0\xff\xff\xff\xff"
             "\x10\0\6\0\xff\xff\xff\xff\x20\0\0\0\xff\xff\xff\xff",
             37);
}

TEST_F(Copier, KeepsUserAttributesAndAccessListsNeverTrustedOnes) {
  const std::string source = tree.write("small", "content");
  ::chmod(source.c_str(), 0460);
  const std::string list = accessList('\4');
  if (::setxattr(source.c_str(), "system.posix_acl_access", list.data(), list.size(), 0) != 0 ||
      ::setxattr(source.c_str(), "user.nota", "hola", 4, 0) != 0)
    GTEST_SKIP() << "no access lists or user attributes here";
  const bool trusted = ::setxattr(source.c_str(), "trusted.x", "1", 1, 0) == 0;
  FileCopier copier(abandon);
  copy(copier, "small");
  const std::string copy = outFolder + "x";
  EXPECT_EQ(attribute(copy, "user.nota"), "hola");
  EXPECT_EQ(attribute(copy, "trusted.x"), "none") << trusted;
  // The owner may write the copy, as its mode says; the group bits stay the mask.
  EXPECT_EQ(attribute(copy, "system.posix_acl_access"), accessList('\6'));
  EXPECT_EQ(statOf("out/x").st_mode & 0777, 0660);

  // A destination without access lists (a pipe here): the group's own bits are told.
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  const int from = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
  const CopiedAttributes copied = copyExtendedAttributes(from, ends[1], true);
  EXPECT_FALSE(copied.allKept);
  EXPECT_EQ(copied.ownGroupBits, 4);
  for (const int fd : {from, ends[0], ends[1]}) ::close(fd);
}

}  // namespace
