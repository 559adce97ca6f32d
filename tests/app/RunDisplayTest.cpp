#include "app/RunDisplay.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

using Op = RunDisplay::GaugeOp;

// What the window is to change after a stretch of a run, as the display gathered it.
struct Gathered {
  const char* name;
  std::function<void(RunDisplay&)> report;
  std::optional<std::string> label1;
  std::vector<Op> gauge;
  std::optional<bool> animation, timer;
  bool copyButtonRaised;
  bool logCleared;
};

class RunDisplayMapping : public testing::TestWithParam<Gathered> {};

TEST_P(RunDisplayMapping, TurnsTheRunsWordsIntoTheWindowsChanges) {
  const Gathered& c = GetParam();
  RunDisplay display;
  c.report(display);
  const RunDisplay::Pending pending = display.take();
  EXPECT_EQ(pending.label1, c.label1);
  EXPECT_EQ(pending.gauge, c.gauge);
  EXPECT_EQ(pending.animation, c.animation);
  EXPECT_EQ(pending.timer, c.timer);
  EXPECT_EQ(pending.copyButtonRaised, c.copyButtonRaised);
  EXPECT_EQ(pending.logCleared, c.logCleared);
  EXPECT_TRUE(display.take().empty());  // taken once
}

INSTANTIATE_TEST_SUITE_P(
    Runs, RunDisplayMapping,
    testing::Values(Gathered{"Beginning",
                             [](RunDisplay& d) {
                               d.runStarted();
                               d.statusChanged("Copiando...");
                             },
                             "Copiando...",
                             {},
                             true,
                             true,
                             false,
                             true},
                    Gathered{"FolderTaskShowsItsPathMailTaskKeepsTheStatus",
                             [](RunDisplay& d) {
                               d.statusChanged("Copiando...");
                               d.taskStarted("/home/ana/Documentos", false);
                               d.taskStarted("Extraer Mensajes E-mail con adjuntos", true);
                             },
                             "/home/ana/Documentos",
                             {Op::Step, Op::Step},
                             {},
                             {},
                             false,
                             false},
                    Gathered{"FinishedRaisesTheButtonAndKeepsTheTimer",
                             [](RunDisplay& d) {
                               d.taskStarted("/a", false);
                               d.statusChanged("Finalizado.");
                               d.runEnded({RunOutcome::Finished, 2});
                             },
                             "Finalizado.",
                             {Op::Step, Op::Reset},
                             false,
                             true,
                             true,
                             false},
                    Gathered{"StoppedLeavesTheButtonToTheUserAndStopsTheTimer",
                             [](RunDisplay& d) {
                               d.statusChanged("Detenido.");
                               d.runEnded({RunOutcome::Stopped, 0});
                             },
                             "Detenido.",
                             {Op::Reset},
                             false,
                             false,
                             false,
                             false},
                    Gathered{"NoDestinationRaisesTheButtonWithoutAStatus",
                             [](RunDisplay& d) {
                               d.runStarted();
                               d.runEnded({RunOutcome::NoDestination, 0});
                             },
                             std::nullopt,
                             {Op::Reset},
                             false,
                             false,
                             true,
                             true},
                    Gathered{"AWholeRunBetweenTwoLooksEndsAsItEnded",
                             [](RunDisplay& d) {
                               d.runStarted();
                               d.statusChanged("Copiando...");
                               d.taskStarted("/a", false);
                               d.statusChanged("Finalizado.");
                               d.runEnded({RunOutcome::Finished, 0});
                             },
                             "Finalizado.",
                             {Op::Step, Op::Reset},
                             false,
                             true,
                             true,
                             true},
                    Gathered{"ADestinationThatCannotBeUsedStopsTheClockAndSaysWhy",
                             [](RunDisplay& d) {
                               d.runStarted();
                               d.statusChanged("El disco de destino no está conectado: /mnt/d");
                               d.runEnded({RunOutcome::DestinationNotCreatable, 0});
                             },
                             "El disco de destino no está conectado: /mnt/d",
                             {Op::Reset},
                             false,
                             false,
                             true,
                             true}),
    [](const auto& p) { return std::string(p.param.name); });

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
