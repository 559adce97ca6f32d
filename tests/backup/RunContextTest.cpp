#include "backup/RunContext.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "platform/Errors.h"
#include "support/RecordingObserver.h"

TEST(RunContext, FailureIsLoggedWithPathAndReasonAndCounted) {
  TEstad estado;
  RecordingObserver observer;
  RunControl control;
  RunContext run{estado, observer, control, "/dest/"};
  run.fail("/src/a.txt", unableToWrite("/dest/a.txt", EACCES));
  run.fail("/src/b.txt", std::runtime_error("boom"));
  ASSERT_EQ(observer.lines.size(), 2u);
  EXPECT_EQ(observer.lines[0], "ERROR - /dest/a.txt: Permission denied");
  EXPECT_EQ(observer.lines[1], "ERROR - /src/b.txt: boom");
  EXPECT_EQ(run.failures, 2);
}

TEST(RunContext, AFullLogDoesNotStopTheRun) {
  TEstad estado;
  RecordingObserver observer;
  observer.logFull = true;
  RunControl control;
  RunContext run{estado, observer, control, "/dest/"};
  EXPECT_NO_THROW(run.log("/src/a.txt"));
  EXPECT_NO_THROW(run.fail("/src/a.txt", std::runtime_error("x")));
  EXPECT_EQ(run.failures, 1);
}
