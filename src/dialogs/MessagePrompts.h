#pragma once

#include "tasks/Prompts.h"

class QWidget;

// Prompts as modal message boxes and the folder chooser (PickFolder) over a parent window.
class MessagePrompts : public Prompts {
 public:
  explicit MessagePrompts(QWidget* parent = nullptr) : parent_(parent) {}
  void setParent(QWidget* parent) { parent_ = parent; }

  bool pickFolder(std::string& folder, const std::string& text) override;
  void warning(const std::string& text) override;
  bool question(const std::string& text) override;
  void error(const std::string& text) override;

 private:
  QWidget* parent_;
};

// Prompts for a program without a display: messages go to standard error, and questions
// get the answer that changes nothing.
class StderrPrompts : public Prompts {
 public:
  bool pickFolder(std::string& folder, const std::string& text) override;
  void warning(const std::string& text) override;
  bool question(const std::string& text) override;
  void error(const std::string& text) override;
};

// The standard error box: a stop icon, the title "Resguarda", the message (errorBoxText) and
// an OK button.
void showErrorBox(QWidget* parent, const std::string& message);

// The text of the standard error box: the message, with a full stop added when it ends in a
// character that sorts after ".".
std::string errorBoxText(const std::string& message);
