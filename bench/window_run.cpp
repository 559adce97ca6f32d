// One backup run through the main window, on the offscreen platform, with the event loop
// watched all along:
//   window_run window <settings file>                    (the window shown, a click starts it)
//   window_run hidden <settings file> <run log folder>   (as "resguarda -hide" runs it)
// Both start the run from the window and take it as ended once the window has collected it,
// so the two modes differ only in what the window does while the run goes on.
// A 5 ms precise timer ticks on the GUI thread: the largest gap between two ticks beyond the
// interval is the longest stall of the event loop. Every event the application delivers is
// timed too, in wall time and in the GUI thread's own processor time, so that a stall can be
// put down to the object that took it, or to the thread waiting for a processor.
// Prints one line of figures, "key value" pairs, for bench/responsiveness.sh.
#include <sys/resource.h>
#include <time.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "app/StartupOptions.h"
#include "app/TForm1.h"
#include "dialogs/MessagePrompts.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

double threadCpuSeconds() {
  timespec now{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// Times each event delivered from the event loop itself (not the nested ones), keeping the
// slowest per receiver and event type.
class TimedApplication : public QApplication {
 public:
  using QApplication::QApplication;

  bool notify(QObject* receiver, QEvent* event) override {
    if (depth_ > 0 || !watching) return QApplication::notify(receiver, event);
    ++depth_;
    const auto start = Clock::now();
    const double cpuStart = threadCpuSeconds();
    const int type = event->type();
    std::string who = receiver->metaObject()->className();
    if (!receiver->objectName().isEmpty()) who += ":" + receiver->objectName().toStdString();
    bool handled = false;
    try {
      handled = QApplication::notify(receiver, event);
    } catch (...) {
      --depth_;
      throw;
    }
    --depth_;
    const double took = seconds(Clock::now() - start);
    const double cpu = threadCpuSeconds() - cpuStart;
    Slowest& slot = slowest_[who + "/" + std::to_string(type)];
    slot.longest = std::max(slot.longest, took);
    slot.longestCpu = std::max(slot.longestCpu, cpu);
    slot.total += took;
    slot.totalCpu += cpu;
    ++slot.count;
    return handled;
  }

  // The slowest few receivers, by their longest single event.
  void report(FILE* out) const {
    std::multimap<double, std::string, std::greater<>> order;
    for (const auto& [key, slot] : slowest_) order.emplace(slot.longest, key);
    int shown = 0;
    for (const auto& [longest, key] : order) {
      const Slowest& slot = slowest_.at(key);
      std::fprintf(out,
                   "  event %-40s longest %7.2f ms (cpu %7.2f) total %8.1f ms (cpu %8.1f) "
                   "count %ld\n",
                   key.c_str(), longest * 1e3, slot.longestCpu * 1e3, slot.total * 1e3,
                   slot.totalCpu * 1e3, slot.count);
      if (++shown == 8) break;
    }
  }

  bool watching = false;

 private:
  struct Slowest {
    double longest = 0;
    double longestCpu = 0;
    double total = 0;
    double totalCpu = 0;
    long count = 0;
  };
  int depth_ = 0;
  std::map<std::string, Slowest> slowest_;
};

int usage(const char* program) {
  std::fprintf(stderr,
               "usage: %s window <settings file>\n"
               "       %s hidden <settings file> <run log folder>\n",
               program, program);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return usage(argv[0]);
  const std::string mode = argv[1];
  const bool hidden = mode == "hidden";
  if ((!hidden && mode != "window") || (hidden && argc < 4)) return usage(argv[0]);
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");

  TimedApplication app(argc, argv);
  StderrPrompts prompts;
  FormDependencies deps;
  deps.iniPath = argv[2];
  deps.systemFolders = [] { return std::vector<TaskRow>{}; };
  deps.prompts = &prompts;
  deps.headless = hidden;
  if (hidden) deps.runLogFolder = argv[3];
  const StartupOptions options =
      hidden ? StartupOptions::fromArguments({"-hide"}) : StartupOptions{};
  TForm1 form(options, std::move(deps));
  if (!hidden) form.show();

  constexpr int kTickMs = 5;
  QTimer ticks;
  ticks.setObjectName(QStringLiteral("benchTicks"));
  ticks.setTimerType(Qt::PreciseTimer);
  ticks.setInterval(kTickMs);
  Clock::time_point started, ended, lastTick;
  double guiCpuAtStart = 0, guiCpu = 0;
  double stall = 0;
  long tickCount = 0, over50 = 0, over100 = 0;
  QObject::connect(&ticks, &QTimer::timeout, [&] {
    const auto now = Clock::now();
    const double late = seconds(now - lastTick) - kTickMs / 1e3;
    lastTick = now;
    ++tickCount;
    stall = std::max(stall, late);
    if (late > 0.050) ++over50;
    if (late > 0.100) ++over100;
    if (form.lastResult() && !form.runInProgress()) {
      ended = now;
      guiCpu = threadCpuSeconds() - guiCpuAtStart;
      ticks.stop();
      app.watching = false;
      app.quit();
    }
  });
  // Started once the loop runs, with the window laid out and painted as a user would see it.
  QTimer::singleShot(0, &form, [&] {
    app.watching = true;
    started = lastTick = Clock::now();
    guiCpuAtStart = threadCpuSeconds();
    ticks.start();
    if (hidden)
      form.startUnattended();
    else
      form.RealizarCopiaSeguridad1Click();
  });
  app.exec();

  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  const auto cpuOf = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
  const TEstad& estado = form.estado();
  const int failures = form.lastResult() ? form.lastResult()->failures : -1;
  std::printf(
      "mode %s run %.3f stall_ms %.2f ticks %ld expected_ticks %.0f over50 %ld over100 %ld "
      "revisados %d copiados %d actualizados %d fallos %d gui_cpu %.2f process_user %.2f "
      "process_sys %.2f\n",
      mode.c_str(), seconds(ended - started), stall * 1e3, tickCount,
      seconds(ended - started) * 1e3 / kTickMs, over50, over100, estado.Revisados.load(),
      estado.Copiados.load(), estado.Actualizados.load(), failures, guiCpu, cpuOf(usage.ru_utime),
      cpuOf(usage.ru_stime));
  app.report(stderr);
  return failures == 0 ? 0 : 1;
}
