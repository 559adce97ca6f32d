#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "app/DesktopNotification.h"
#include "app/ResguardaApplication.h"
#include "app/RunLog.h"
#include "app/SignalBridge.h"
#include "app/StartupOptions.h"
#include "app/TForm1.h"
#include "app/UnattendedEnd.h"
#include "app/Wiring.h"
#include "dialogs/ByteText.h"
#include "dialogs/FileUtil.h"
#include "dialogs/MessagePrompts.h"
#include "dialogs/SpanishTexts.h"
#include "platform/Environment.h"
#include "platform/PathText.h"
#include "resources/Pictures.h"

namespace {

// Without a display, the program's output is its summary line and its own messages: the
// toolkit's notes about the offscreen platform are of no use to a cron job.
void quietMessages(QtMsgType type, const QMessageLogContext&, const QString& message) {
  if (type == QtCriticalMsg || type == QtFatalMsg)
    std::fprintf(stderr, "resguarda: %s\n", toBytes(message).c_str());
}

// A program started with a standard stream closed would hand its number to the next file it
// opens (the signal pipe, a copy), and what it prints would land there.
void openMissingStandardStreams() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    const int null = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (null >= 0 && null != fd) {
      ::dup2(null, fd);
      ::close(null);
    }
  }
}

// The end of an unattended run: the summary on standard output, then the desktop
// notification; the exit status.
int endUnattended(const TForm1& form, bool signalled) {
  const UnattendedEnd end =
      unattendedEnd(form.lastResult(), form.estado(), form.settingsUnwritable(), signalled);
  if (end.summary) {
    std::printf("%s\n", end.summary->c_str());
    if (end.check) std::printf("%s\n", end.check->c_str());
    std::fflush(stdout);
  }
  // Last of all: the settings and the summary are in place whatever the desktop does.
  if (const auto text = runNotification(form.lastResult(), form.estado(), form.runProblem())) {
    const std::string bus = sessionBusAddressFromEnvironment();
    // A stop signal ends the notification at once, and the program with its status.
    if (!bus.empty()) notifyDesktop(*text, bus, stopSignalDescriptor());
  }
  return end.status;
}

}  // namespace

int main(int argc, char** argv) {
  openMissingStandardStreams();
  // Then at once: a stop asked for at any moment of start-up is a clean stop too.
  catchStopSignals();
  // A reader of standard error that has gone away must not end a backup half-way.
  ::signal(SIGPIPE, SIG_IGN);
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  const StartupOptions options = StartupOptions::fromArguments(arguments);

  const bool headless = !hasDisplay();
  if (headless) {
    if (!options.CerrarAlTerminar && !environmentIsSet("QT_QPA_PLATFORM")) {
      std::fprintf(stderr,
                   "resguarda: no hay pantalla (DISPLAY ni WAYLAND_DISPLAY); para una copia "
                   "desatendida use: resguarda -hide\n");
      return 2;
    }
    // Unattended from cron or a service: no display is needed at all.
    if (!environmentIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(quietMessages);
  }

  // An error escaping any handler is shown in the standard error box, not the end.
  ResguardaApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Resguarda"));
  QApplication::setWindowIcon(Pictures::icon(Pictures::kApplicationIcon));
  // Qt's own texts (buttons, context menus) in Spanish, whatever the user's locale.
  installSpanishTranslations(app);

  std::unique_ptr<Prompts> prompts;
  // A hidden program shows no window at all, not even a message box: it tells stderr.
  if (headless || options.Oculto)
    prompts = std::make_unique<StderrPrompts>();
  else
    prompts = std::make_unique<MessagePrompts>();
  app.setPrompts(prompts.get());

  FormDependencies dependencies;
  dependencies.iniPath = joinPath(toBytes(QCoreApplication::applicationDirPath()), "Resguarda.ini");
  dependencies.systemFolders = readSystemFolders;
  dependencies.mailTask = mailExportTask();
  dependencies.prompts = prompts.get();
  dependencies.headless = headless;
  dependencies.runLogFolder = stateFolder();

  TForm1 form(options, std::move(dependencies));
  if (auto* messages = dynamic_cast<MessagePrompts*>(prompts.get())) messages->setParent(&form);
  // A hidden window does not end the program by closing; its close signal does.
  QObject::connect(&form, &TForm1::closed, &app, &QCoreApplication::quit, Qt::QueuedConnection);
  SignalBridge signals([&form] {
    form.abandonRun();
    form.close();
  });

  // Centred by the program itself, never left to wherever a window manager puts it.
  CenterOnScreen(&form);
  if (options.CerrarAlTerminar) {
    if (!options.Oculto) form.showMinimized();
    // Stopped before it began: no run is started only to be stopped again.
    if (!signals.received()) form.startUnattended();
  } else {
    form.show();
  }
  app.exec();
  app.setPrompts(nullptr);

  if (!options.CerrarAlTerminar) return signals.received() ? 3 : 0;
  return endUnattended(form, signals.received());
}
