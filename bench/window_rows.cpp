// The main window with a very long task list, on the offscreen platform: how long loading,
// showing, checking and unchecking every row, and one run over all of them take.
//   window_rows <settings file>
// Prints one line of "key seconds" pairs. The rows' folders need not exist.
#include <QApplication>
#include <QElapsedTimer>
#include <QListView>
#include <cstdio>

#include "app/StartupOptions.h"
#include "app/TForm1.h"
#include "dialogs/MessagePrompts.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: window_rows <settings file>\n");
    return 2;
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  StderrPrompts prompts;
  FormDependencies deps;
  deps.iniPath = argv[1];
  deps.prompts = &prompts;
  QElapsedTimer clock;
  clock.start();
  TForm1 form(StartupOptions{}, std::move(deps));
  const double load = clock.nsecsElapsed() / 1e9;
  clock.restart();
  form.show();
  QApplication::processEvents();
  const double show = clock.nsecsElapsed() / 1e9;
  clock.restart();
  form.ToolButton2Click();
  QApplication::processEvents();
  form.ToolButton1Click();
  QApplication::processEvents();
  const double checks = clock.nsecsElapsed() / 1e9;
  clock.restart();
  form.RealizarCopiaSeguridad1Click();
  while (form.runInProgress()) QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
  QApplication::processEvents();
  const double run = clock.nsecsElapsed() / 1e9;
  std::printf("rows %d load %.3f show %.3f uncheck+check %.3f run %.3f\n", form.tasks().count(),
              load, show, checks, run);
  return 0;
}
