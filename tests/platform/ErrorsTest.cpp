#include "platform/Errors.h"

#include <gtest/gtest.h>

// The texts themselves are checked where each failure happens; here, that the path and the
// system's reason travel apart.
TEST(Errors, NameTheFileAndKeepTheSystemsReasonApart) {
  const auto error = cannotOpenFile("/x/folders.dbx", ENOENT);
  EXPECT_STREQ(error.what(), "Cannot open file /x/folders.dbx");
  EXPECT_EQ(error.reason(), "No such file or directory");
}

// Whatever is thrown becomes a log line that names a path and says something.
TEST(Errors, AnythingThrownBecomesALogLine) {
  const auto line = [](auto thrown) {
    return errorLogLine("/datos", std::make_exception_ptr(thrown));
  };
  EXPECT_EQ(line(unableToWrite("/copia/a", "sin espacio", "/datos/a")),
            "ERROR - /datos/a: sin espacio");
  EXPECT_EQ(line(std::runtime_error("roto")), "ERROR - /datos: roto");
  EXPECT_EQ(line(std::runtime_error("")), "ERROR - /datos: error desconocido");
  EXPECT_EQ(line(42), "ERROR - /datos: error desconocido");
}
