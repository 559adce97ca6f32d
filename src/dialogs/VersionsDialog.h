#pragma once

#include <QDialog>
#include <functional>
#include <string>

class Prompts;
class QCheckBox;
class QPushButton;
class QSpinBox;

// "Versiones anteriores": whether the copies an update replaces are kept, for how many days,
// and a button that shows them in the file manager. Every change is saved at once through
// the callback; a save that fails is shown as the standard error box and the controls go
// back to what was last saved, so they never show a setting the file does not hold.
class VersionsDialog : public QDialog {
  Q_OBJECT

 public:
  // `days` 0 keeps the versions for ever.
  using SaveVersions = std::function<void(bool keep, int days)>;

  // `destination` is the destination folder; the versions live in its "versiones/".
  VersionsDialog(const std::string& destination, bool keep, int days, SaveVersions saver,
                 Prompts& prompts, QWidget* parent = nullptr);

  // "<destination>versiones/"; empty when no destination has been chosen.
  static std::string versionsFolder(const std::string& destination);

  // Shows the versions folder in the file manager.
  void openFolder();

 protected:
  void changeEvent(QEvent* event) override;

 private:
  void saveChange();
  void showSaved();
  void refreshOpenButton();

  const std::string folder_;
  SaveVersions save_;
  Prompts& prompts_;
  bool savedKeep_;
  int savedDays_;
  QCheckBox* keep_;
  QSpinBox* days_;
  QPushButton* open_;
};
