#include "app/RunDisplay.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Op = RunDisplay::GaugeOp;

// The window looks at the display only now and then: what it takes must be where the run
// ended, not some step on the way.
TEST(RunDisplay, AWholeRunBetweenTwoLooksEndsAsItEnded) {
  RunDisplay display;
  display.runStarted();
  display.statusChanged("Copiando...");
  display.taskStarted("/a", false);
  display.statusChanged("Finalizado.");
  display.runEnded({RunOutcome::Finished, 0});
  const RunDisplay::Pending pending = display.take();
  EXPECT_EQ(pending.label1, "Finalizado.");
  EXPECT_EQ(pending.animation, false);
  EXPECT_TRUE(pending.copyButtonRaised);
  ASSERT_FALSE(pending.gauge.empty());
  EXPECT_EQ(pending.gauge.back(), Op::Reset);
  EXPECT_TRUE(display.take().empty());  // taken once
}

TEST(RunDisplay, AFolderTaskShowsItsPathAndAMailTaskKeepsTheStatus) {
  RunDisplay display;
  display.statusChanged("Copiando...");
  display.taskStarted("/home/ana/Documentos", false);
  display.taskStarted("Extraer Mensajes E-mail con adjuntos", true);
  const RunDisplay::Pending pending = display.take();
  EXPECT_EQ(pending.label1, "/home/ana/Documentos");
  EXPECT_EQ(pending.gauge, (std::vector<Op>{Op::Step, Op::Step}));  // one step per task
}

// A run the user stopped leaves the button as the user left it, and its clock stops.
TEST(RunDisplay, OnlyARunThatEndedByItselfRaisesTheButton) {
  for (const RunOutcome outcome :
       {RunOutcome::Finished, RunOutcome::Stopped, RunOutcome::NoDestination,
        RunOutcome::DestinationNotCreatable}) {
    RunDisplay display;
    display.runStarted();
    display.runEnded({outcome, 0});
    const RunDisplay::Pending pending = display.take();
    EXPECT_EQ(pending.copyButtonRaised, outcome != RunOutcome::Stopped)
        << static_cast<int>(outcome);
    if (outcome == RunOutcome::Stopped) {
      EXPECT_EQ(pending.timer, false);
    }
  }
}

TEST(RunDisplay, ADestinationThatCannotBeUsedStopsTheClockAndSaysWhy) {
  RunDisplay display;
  display.runStarted();
  display.statusChanged("El disco de destino no está conectado: /mnt/d");
  display.runEnded({RunOutcome::DestinationNotCreatable, 0});
  const RunDisplay::Pending pending = display.take();
  EXPECT_EQ(pending.label1, "El disco de destino no está conectado: /mnt/d");
  EXPECT_EQ(pending.timer, false);
  EXPECT_EQ(pending.animation, false);
}

TEST(RunDisplay, ANewRunDropsTheLinesOfThePreviousOneThatWereNotShown) {
  RunDisplay display;
  display.logLine("old");
  display.runStarted();
  display.logLine("new");
  const RunDisplay::Pending pending = display.take();
  EXPECT_TRUE(pending.logCleared);
  EXPECT_EQ(pending.lines, std::vector<std::string>{"new"});
}

TEST(RunDisplay, LinesThatNameAProblemAreNeverDroppedWhileTheWindowLagsBehind) {
  RunDisplay display;
  display.logLine("ERROR - /a: Permission denied");
  for (size_t i = 0; i < RunDisplay::kMaxPendingLines; ++i)
    display.logLine("/copied/" + std::to_string(i));
  display.logLine("AVISO - /proc: x");
  const std::vector<std::string> lines = display.take().lines;
  ASSERT_EQ(lines.size(), RunDisplay::kMaxPendingLines);
  EXPECT_EQ(lines.front(), "ERROR - /a: Permission denied");
  EXPECT_EQ(lines[1], "/copied/2");
  EXPECT_EQ(lines.back(), "AVISO - /proc: x");
}

}  // namespace
