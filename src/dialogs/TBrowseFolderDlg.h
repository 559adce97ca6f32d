#pragma once

#include <functional>
#include <string>

class FolderBrowser;
class QWidget;

enum TDialogPosition { dpDefault, dpScreenCenter };

// A folder chooser set up through its fields and shown by Execute: it preselects
// FolderName, offers OK only while the selection is an existing folder and, after a
// confirmed choice, holds that folder in FolderName without a trailing "/".
class TBrowseFolderDlg {
 public:
  explicit TBrowseFolderDlg(QWidget* owner = nullptr) : owner_(owner) {}

  std::string DialogText;  // above the tree; empty for none
  std::string FolderName;  // in: the folder to preselect; out: the chosen folder
  int HelpContext = 0;     // kept for callers; no help is offered
  TDialogPosition Position = dpScreenCenter;
  // Called with the window open: once after it is up and preselected, and after every
  // change of selection.
  std::function<void(TBrowseFolderDlg&)> OnInitialized;
  std::function<void(TBrowseFolderDlg&)> OnSelChanged;

  // Shows the chooser modally; true when the user confirmed a folder.
  bool Execute();

  // The open window during Execute, else null.
  FolderBrowser* browser() const { return browser_; }
  // The item last selected (the chosen folder after a confirmed Execute).
  const std::string& SelectedName() const { return selectedName_; }

 private:
  QWidget* owner_;
  FolderBrowser* browser_ = nullptr;
  std::string selectedName_;
};
