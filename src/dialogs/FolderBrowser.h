#pragma once

#include <QDialog>
#include <QIcon>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dialogs/FolderTreeRoots.h"

class PseudoFileSystems;
class QCompleter;
class QLabel;
class QLineEdit;
class QPushButton;
class QStringListModel;
class QTreeWidget;
class QTreeWidgetItem;

// The folder picker's window: the instruction text, a tree of folders listed only when
// opened, the chosen path as editable text with completion, "Nueva carpeta", OK and Cancel.
// The selection is whatever the tree or the typed text names; OK is offered only while it is
// an existing folder, so a half-typed path never stands for its parent.
class FolderBrowser : public QDialog {
  Q_OBJECT

 public:
  explicit FolderBrowser(QWidget* parent = nullptr,
                         const FolderRootSources& sources = FolderRootSources::current());
  ~FolderBrowser() override;

  void setDialogText(const std::string& text);

  // Opens the tree down to an existing folder and selects it; false (and nothing selected)
  // when the path is not an absolute path to an existing folder.
  bool preselect(const std::string& path);

  // The selection as the tree or the typed text gives it ("" for none); a typed trailing "/"
  // stays.
  const std::string& selectedPath() const { return selected_; }
  bool selectionIsFolder() const;

  // The tree item for an existing folder, its ancestors listed and opened; null when the path
  // cannot be shown. The items it had to open are added to `opened`.
  QTreeWidgetItem* revealFolder(const std::string& path,
                                std::vector<QTreeWidgetItem*>* opened = nullptr);
  static std::string itemPath(const QTreeWidgetItem* item);

  // Replaced by tests, which cannot answer modal boxes.
  void setNameAsker(std::function<std::optional<QString>(QWidget*)> ask);
  void setErrorReporter(std::function<void(const std::string&)> report);

  void accept() override;

 Q_SIGNALS:
  void selectionChanged();
  // Once, from the event loop, after the window has first been shown.
  void initialized();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void addRoots(const FolderRootSources& sources);
  QTreeWidgetItem* addFolderItem(QTreeWidgetItem* parent, const std::string& name);
  QTreeWidgetItem* makeFolderItem(const std::string& parentPath, const std::string& name) const;
  void ensureListed(QTreeWidgetItem* item);
  void onTreeSelection();
  void onPathChanged(const QString& text);
  void onPathTyped(const QString& text);
  void updateCompletions(const QString& text);
  void updateButtons();
  void createSubfolder();

  QLabel* text_;
  QTreeWidget* tree_;
  QLineEdit* pathEdit_;
  QCompleter* completer_;
  QStringListModel* completions_;
  QPushButton* newFolderButton_;
  QPushButton* okButton_;
  QIcon folderIcon_;
  std::unique_ptr<PseudoFileSystems> pseudo_;
  std::function<std::optional<QString>(QWidget*)> askName_;
  std::function<void(const std::string&)> reportError_;

  std::string home_;
  std::string selected_;
  std::string completionKey_;
  // Opened only to follow the typed text; closed again when the text moves elsewhere.
  std::vector<QTreeWidgetItem*> openedForText_;
  bool settingText_ = false;
  bool followingText_ = false;
  bool shown_ = false;
};
