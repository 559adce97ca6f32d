#include "platform/Errors.h"

#include <gtest/gtest.h>

TEST(Errors, CarryTheDocumentedMessages) {
  EXPECT_STREQ(cannotOpenFile("/x/folders.dbx", ENOENT).what(), "Cannot open file /x/folders.dbx");
  EXPECT_STREQ(unableToWrite("/x/Resguarda.ini", EROFS).what(),
               "Unable to write to /x/Resguarda.ini");
  EXPECT_STREQ(invalidDataType("Store Root").what(), "Invalid data type for 'Store Root'");
  EXPECT_EQ(cannotOpenFile("/x", ENOENT).reason(), "No such file or directory");
}
