#include "dialogs/MessagePrompts.h"

#include <QMessageBox>
#include <cstdio>

#include "dialogs/ByteText.h"
#include "dialogs/FileUtil.h"
#include "dialogs/SpanishTexts.h"

namespace {

void printLine(const std::string& text) {
  std::fprintf(stderr, "resguarda: %s\n", text.c_str());
  std::fflush(stderr);
}

}  // namespace

std::string errorBoxText(const std::string& message) {
  if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') return message + ".";
  return message;
}

void showErrorBox(QWidget* parent, const std::string& message) {
  QMessageBox box(QMessageBox::Critical, QStringLiteral("Resguarda"),
                  fromUtf8(errorBoxText(message)), QMessageBox::Ok, parent);
  setSpanishButtonTexts(box);
  box.exec();
}

bool MessagePrompts::pickFolder(std::string& folder, const std::string& text) {
  return PickFolder(folder, text, 0, parent_);
}

void MessagePrompts::warning(const std::string& text) {
  QMessageBox box(QMessageBox::NoIcon, QStringLiteral("AVISO"), fromUtf8(text), QMessageBox::Ok,
                  parent_);
  setSpanishButtonTexts(box);
  box.exec();
}

bool MessagePrompts::question(const std::string& text) {
  QMessageBox box(QMessageBox::NoIcon, QStringLiteral("AVISO"), fromUtf8(text),
                  QMessageBox::Ok | QMessageBox::Cancel, parent_);
  box.setDefaultButton(QMessageBox::Ok);
  setSpanishButtonTexts(box);
  return box.exec() == QMessageBox::Ok;
}

void MessagePrompts::error(const std::string& text) {
  showErrorBox(parent_, text);
}

bool StderrPrompts::pickFolder(std::string&, const std::string&) {
  return false;
}
void StderrPrompts::warning(const std::string& text) {
  printLine(text);
}
bool StderrPrompts::question(const std::string&) {
  return false;
}
void StderrPrompts::error(const std::string& text) {
  printLine(errorBoxText(text));
}
