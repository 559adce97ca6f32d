#include "backup/Progress.h"

#include <gtest/gtest.h>

#include "backup/TEstad.h"

using std::chrono::hours;
using std::chrono::milliseconds;
using std::chrono::minutes;
using std::chrono::seconds;

TEST(Progress, ElapsedTimeReadsAsATimeOfDayAndWrapsAfterADay) {
  EXPECT_EQ(formatElapsed(milliseconds(0)), "0:00:00");
  EXPECT_EQ(formatElapsed(minutes(1) + seconds(7) + milliseconds(999)), "0:01:07");
  EXPECT_EQ(formatElapsed(hours(13) + minutes(5)), "13:05:00");
  EXPECT_EQ(formatElapsed(hours(24) + seconds(3)), "0:00:03");
}

TEST(Progress, DoProgressShowsCountersElapsedTimeAndStatus) {
  TEstad estado;
  const auto start = std::chrono::system_clock::now();
  estado.setInicioCopia(start);
  estado.Actualizados = 3;
  estado.Copiados = 12;
  estado.Revisados = 40;
  estado.setTextoEstado("Copiando...");
  const ProgressTexts texts = DoProgress(estado, start + minutes(1) + seconds(7));
  EXPECT_EQ(texts.actualizados, " 3");
  EXPECT_EQ(texts.copiados, " 12");
  EXPECT_EQ(texts.revisados, " 40");
  EXPECT_EQ(texts.elapsed, " 0:01:07");
  EXPECT_EQ(texts.estado, "Copiando...");
}
