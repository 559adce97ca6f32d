#include "app/ResguardaApplication.h"

#include <cstdio>
#include <exception>
#include <string>

#include "platform/Errors.h"
#include "tasks/Prompts.h"

namespace {

// Set while a box is up: an error escaping an event of the box itself (a paint that always
// fails) would otherwise open boxes without end.
bool showingBox = false;

void show(Prompts* prompts, const std::string& message) {
  // The box itself may fail (no memory, a broken display): the message still reaches stderr.
  if (prompts && !showingBox) {
    showingBox = true;
    try {
      prompts->error(message);
      showingBox = false;
      return;
    } catch (...) {
      showingBox = false;
    }
  }
  std::fprintf(stderr, "resguarda: %s\n", message.c_str());
  std::fflush(stderr);
}

}  // namespace

void reportCurrentError(Prompts* prompts) {
  show(prompts, describeFailure(std::current_exception()).message);
}

ResguardaApplication::ResguardaApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool ResguardaApplication::notify(QObject* receiver, QEvent* event) {
  return deliverReportingErrors([&] { return QApplication::notify(receiver, event); }, prompts_);
}
