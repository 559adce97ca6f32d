#include "dialogs/MessagePrompts.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <cstdio>

namespace {

QString toQt(const std::string& text) {
  return QString::fromUtf8(text.c_str());
}

void printLine(const std::string& text) {
  std::fprintf(stderr, "resguarda: %s\n", text.c_str());
  std::fflush(stderr);
}

}  // namespace

std::string errorBoxText(const std::string& message) {
  if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') return message + ".";
  return message;
}

bool MessagePrompts::pickFolder(std::string& folder, const std::string& text) {
  const QString start = folder.empty() ? QDir::homePath() : QFile::decodeName(folder.c_str());
  const QString chosen = QFileDialog::getExistingDirectory(parent_, toQt(text), start);
  if (chosen.isEmpty()) return false;
  std::string path = QFile::encodeName(chosen).toStdString();
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  folder = path;
  return true;
}

void MessagePrompts::warning(const std::string& text) {
  QMessageBox box(QMessageBox::NoIcon, QStringLiteral("AVISO"), toQt(text), QMessageBox::Ok,
                  parent_);
  box.exec();
}

bool MessagePrompts::question(const std::string& text) {
  QMessageBox box(QMessageBox::NoIcon, QStringLiteral("AVISO"), toQt(text),
                  QMessageBox::Ok | QMessageBox::Cancel, parent_);
  box.setDefaultButton(QMessageBox::Ok);
  return box.exec() == QMessageBox::Ok;
}

void MessagePrompts::error(const std::string& text) {
  QMessageBox box(QMessageBox::Critical, QStringLiteral("Resguarda"), toQt(errorBoxText(text)),
                  QMessageBox::Ok, parent_);
  box.exec();
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
