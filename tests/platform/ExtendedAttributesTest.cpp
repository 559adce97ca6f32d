#include "platform/ExtendedAttributes.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <string>

#include "support/TempTree.h"

namespace {

// owner r--, named user rw-, group r--, mask rw-, others ---, as Linux stores it
const std::string kList(
    "\x02\0\0\0"
    "\x01\0\x04\0\xff\xff\xff\xff"
    "\x02\0\x06\0\xd2\x04\0\0"
    "\x04\0\x04\0\xff\xff\xff\xff"
    "\x10\0\x06\0\xff\xff\xff\xff"
    "\x20\0\0\0\xff\xff\xff\xff",
    44);

struct AttributeCase {
  const char* name;
  bool withList;
  bool toPipe;  // a destination that stores no attributes
  bool allKept;
  int ownGroupBits;
};

class Attributes : public testing::TestWithParam<AttributeCase> {};

TEST_P(Attributes, DestinationThatCannotStoreThemIsTold) {
  const AttributeCase& c = GetParam();
  TempTree tree;
  const std::string source = tree.write("source", "s");
  const std::string target = tree.write("target", "t");
  if (::setxattr(source.c_str(), "user.nota", "hola", 4, 0) != 0 ||
      (c.withList &&
       ::setxattr(source.c_str(), "system.posix_acl_access", kList.data(), kList.size(), 0) != 0))
    GTEST_SKIP() << "no access lists or user attributes here";
  const int from = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
  int to = ::open(target.c_str(), O_WRONLY | O_CLOEXEC);
  int pipeEnds[2] = {-1, -1};
  if (c.toPipe) {
    ASSERT_EQ(::pipe(pipeEnds), 0);
    ::close(to);
    to = pipeEnds[1];
  }
  const CopiedAttributes result = copyExtendedAttributes(from, to, true);
  EXPECT_EQ(result.allKept, c.allKept);
  EXPECT_EQ(result.ownGroupBits, c.ownGroupBits);
  ::close(from);
  ::close(to);
  if (pipeEnds[0] >= 0) ::close(pipeEnds[0]);
}

INSTANTIATE_TEST_SUITE_P(Cases, Attributes,
                         testing::Values(AttributeCase{"Kept", true, false, true, -1},
                                         AttributeCase{"UserOnlyNotKept", false, true, false, -1},
                                         // Without its list the group must not get the mask's bits.
                                         AttributeCase{"ListNotKept", true, true, false, 4}),
                         [](const testing::TestParamInfo<AttributeCase>& p) {
                           return std::string(p.param.name);
                         });

TEST(Attributes, FileWithoutAttributesTriesNothing) {
  TempTree tree;
  const int from = ::open(tree.write("source", "s").c_str(), O_RDONLY | O_CLOEXEC);
  // A destination that would refuse anything: nothing is tried.
  EXPECT_TRUE(copyExtendedAttributes(from, -1, true).allKept);
  ::close(from);
}

}  // namespace
