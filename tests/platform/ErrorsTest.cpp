#include "platform/Errors.h"

#include <gtest/gtest.h>

// The texts themselves are checked where each failure happens; here, that the path and the
// system's reason travel apart.
TEST(Errors, NameTheFileAndKeepTheSystemsReasonApart) {
  const auto error = cannotOpenFile("/x/folders.dbx", ENOENT);
  EXPECT_STREQ(error.what(), "Cannot open file /x/folders.dbx");
  EXPECT_EQ(error.reason(), "No such file or directory");
}
