#pragma once

#include <QDialog>
#include <QLocale>
#include <cstdint>

#include "dialogs/SystemFacts.h"

class QLabel;

// What the About box shows of the machine; tests give their own.
struct AboutFacts {
  PlatformVersion platform;
  std::uint64_t totalMemory = 0;  // bytes
  QLocale locale;                 // whose thousands separator the memory figure uses

  // The platform as read at start-up, the memory now, the user's locale.
  static AboutFacts current();
};

// The small fixed "Acerca de Resguarda" box: a landscape behind the program's name, author
// line, time span, contact link, platform version and memory. It has no button; the title
// bar's close box closes it.
class TAboutBox : public QDialog {
  Q_OBJECT

 public:
  static constexpr const char* kContactAddress = "resguarda@example.org";

  explicit TAboutBox(QWidget* parent = nullptr, const AboutFacts& facts = AboutFacts::current());

  // Opens the contact link with the desktop's mail program; a failure shows nothing.
  void Label2Click();

 private:
  void FormCreate(const AboutFacts& facts);

  QLabel* OS_;
  QLabel* PhysMem_;
};

// Shows the About box modally over the parent and destroys it when it closes.
void ShowAboutBox(QWidget* parent = nullptr);
