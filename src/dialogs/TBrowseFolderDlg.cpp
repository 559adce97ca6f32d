#include "dialogs/TBrowseFolderDlg.h"

#include "dialogs/FileUtil.h"
#include "dialogs/FolderBrowser.h"

namespace {

// Clears the open-window pointer however Execute ends.
class OpenWindow {
 public:
  OpenWindow(FolderBrowser*& slot, FolderBrowser* window) : slot_(slot) { slot_ = window; }
  ~OpenWindow() { slot_ = nullptr; }
  OpenWindow(const OpenWindow&) = delete;
  OpenWindow& operator=(const OpenWindow&) = delete;

 private:
  FolderBrowser*& slot_;
};

}  // namespace

bool TBrowseFolderDlg::Execute() {
  FolderBrowser window(owner_);
  window.setWindowModality(Qt::ApplicationModal);
  window.setDialogText(DialogText);
  OpenWindow open(browser_, &window);

  QObject::connect(&window, &FolderBrowser::selectionChanged, &window, [this, &window] {
    selectedName_ = window.selectedPath();
    if (OnSelChanged) OnSelChanged(*this);
  });
  QObject::connect(&window, &FolderBrowser::initialized, &window, [this] {
    if (OnInitialized) OnInitialized(*this);
  });

  // A path that is empty or names no existing folder preselects nothing.
  window.preselect(FolderName);
  if (Position == dpScreenCenter) CenterOnScreen(&window);

  if (window.exec() != QDialog::Accepted) return false;
  FolderName = StripTrailingBackslash(window.selectedPath());
  selectedName_ = FolderName;
  return true;
}
