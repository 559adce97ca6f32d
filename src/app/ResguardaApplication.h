#pragma once

#include <QApplication>

class Prompts;

// Shows the error being handled in the standard error box through `prompts`, or on standard
// error when there are none; only to be called from inside a catch block.
void reportCurrentError(Prompts* prompts);

// Delivers one event; an error that escapes its handler is shown instead of ending the
// program, and the delivery then counts as failed.
template <typename Deliver>
bool deliverReportingErrors(Deliver&& deliver, Prompts* prompts) {
  try {
    return deliver();
  } catch (...) {
    reportCurrentError(prompts);
    return false;
  }
}

// The application object: every event of the program goes through deliverReportingErrors, so
// no handler or slot can end the program by throwing.
class ResguardaApplication : public QApplication {
 public:
  ResguardaApplication(int& argc, char** argv);

  // The prompts that show escaped errors; nullptr sends them to standard error.
  void setPrompts(Prompts* prompts) { prompts_ = prompts; }

  bool notify(QObject* receiver, QEvent* event) override;

 private:
  Prompts* prompts_ = nullptr;
};
