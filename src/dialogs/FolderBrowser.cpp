#include "dialogs/FolderBrowser.h"

#include <stdlib.h>

#include <QAbstractItemView>
#include <QCompleter>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStringListModel>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "dialogs/ByteText.h"
#include "dialogs/FileUtil.h"
#include "dialogs/FolderListing.h"
#include "dialogs/FolderOrder.h"
#include "dialogs/MessagePrompts.h"
#include "dialogs/NewFolderName.h"
#include "dialogs/SpanishTexts.h"
#include "platform/Errors.h"
#include "platform/PathText.h"
#include "platform/PseudoFileSystems.h"

namespace {

constexpr int kPathRole = Qt::UserRole;
constexpr int kListedRole = Qt::UserRole + 1;

// What a typed path names: "~" is the home folder, runs of "/" are one, "." parts go, and
// a path that climbs with ".." is taken as the folder it really reaches. A trailing "/"
// stays.
std::string typedPath(const std::string& text, const std::string& home) {
  std::string path = text;
  if (!home.empty() && (path == "~" || path.starts_with("~/"))) path = home + path.substr(1);
  if (path.empty() || path.front() != '/') return path;
  std::string clean = "/";
  bool climbs = false;
  for (std::size_t pos = 1; pos <= path.size();) {
    std::size_t end = path.find('/', pos);
    if (end == std::string::npos) end = path.size();
    const std::string part = path.substr(pos, end - pos);
    if (!part.empty() && part != ".") {
      climbs = climbs || part == "..";
      if (clean.back() != '/') clean += '/';
      clean += part;
    }
    pos = end + 1;
  }
  if (path.back() == '/' && clean.back() != '/') clean += '/';
  if (climbs) {
    if (char* real = ::realpath(clean.c_str(), nullptr)) {
      clean = real;
      ::free(real);
    }
  }
  return clean;
}

QStyle::StandardPixmap iconFor(FolderRoot::Kind kind) {
  switch (kind) {
    case FolderRoot::Kind::Home:
      return QStyle::SP_DirHomeIcon;
    case FolderRoot::Kind::Disk:
      return QStyle::SP_DriveHDIcon;
    case FolderRoot::Kind::FileSystem:
      return QStyle::SP_ComputerIcon;
    case FolderRoot::Kind::UserFolder:
      break;
  }
  return QStyle::SP_DirIcon;
}

}  // namespace

FolderBrowser::FolderBrowser(QWidget* parent, const FolderRootSources& sources)
    : QDialog(parent),
      pseudo_(std::make_unique<PseudoFileSystems>()),
      home_(StripTrailingBackslash(sources.home)) {
  setWindowTitle(QStringLiteral("Buscar carpeta"));

  text_ = new QLabel(this);
  text_->setObjectName(QStringLiteral("DialogText"));
  text_->setWordWrap(true);
  text_->hide();

  tree_ = new QTreeWidget(this);
  tree_->setObjectName(QStringLiteral("FolderTree"));
  tree_->setHeaderHidden(true);
  tree_->setSelectionMode(QAbstractItemView::SingleSelection);
  tree_->setUniformRowHeights(true);

  auto* pathLabel = new QLabel(QStringLiteral("&Carpeta:"), this);
  pathEdit_ = new QLineEdit(this);
  pathEdit_->setObjectName(QStringLiteral("FolderPath"));
  pathLabel->setBuddy(pathEdit_);

  // Driven by hand rather than through QLineEdit::setCompleter, so the list is filled before
  // it is shown and a completion only ever replaces the text.
  completions_ = new QStringListModel(this);
  completer_ = new QCompleter(completions_, this);
  completer_->setCaseSensitivity(Qt::CaseSensitive);
  completer_->setCompletionMode(QCompleter::PopupCompletion);
  completer_->setMaxVisibleItems(12);
  completer_->setWidget(pathEdit_);

  newFolderButton_ = new QPushButton(QStringLiteral("&Nueva carpeta"), this);
  newFolderButton_->setObjectName(QStringLiteral("NewFolderBt"));
  newFolderButton_->setAutoDefault(false);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  setSpanishButtonTexts(buttons);
  okButton_ = buttons->button(QDialogButtonBox::Ok);

  auto* pathRow = new QHBoxLayout;
  pathRow->addWidget(pathLabel);
  pathRow->addWidget(pathEdit_, 1);
  auto* buttonRow = new QHBoxLayout;
  buttonRow->addWidget(newFolderButton_);
  buttonRow->addStretch(1);
  buttonRow->addWidget(buttons);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(text_);
  layout->addWidget(tree_, 1);
  layout->addLayout(pathRow);
  layout->addLayout(buttonRow);

  connect(tree_, &QTreeWidget::itemExpanded, this, &FolderBrowser::ensureListed);
  connect(tree_, &QTreeWidget::itemSelectionChanged, this, &FolderBrowser::onTreeSelection);
  connect(pathEdit_, &QLineEdit::textChanged, this, &FolderBrowser::onPathChanged);
  connect(pathEdit_, &QLineEdit::textEdited, this, &FolderBrowser::onPathTyped);
  connect(completer_, qOverload<const QString&>(&QCompleter::activated), this,
          [this](const QString& completion) { pathEdit_->setText(completion); });
  connect(newFolderButton_, &QPushButton::clicked, this, &FolderBrowser::createSubfolder);
  connect(buttons, &QDialogButtonBox::accepted, this, &FolderBrowser::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &FolderBrowser::reject);

  askName_ = askNewFolderName;
  reportError_ = [this](const std::string& message) { showErrorBox(this, message); };

  folderIcon_ = style()->standardIcon(QStyle::SP_DirIcon);
  addRoots(sources);
  updateButtons();
  const QFontMetrics metrics = fontMetrics();
  resize(metrics.averageCharWidth() * 64, metrics.height() * 30);
  tree_->setFocus();
}

FolderBrowser::~FolderBrowser() = default;

void FolderBrowser::setDialogText(const std::string& text) {
  text_->setText(fromUtf8(text));
  text_->setVisible(!text.empty());
}

bool FolderBrowser::preselect(const std::string& path) {
  const std::string folder = StripTrailingBackslash(typedPath(path, {}));
  if (folder.empty() || folder.front() != '/' || !IsExistingFolder(folder)) return false;
  QTreeWidgetItem* item = revealFolder(folder);
  if (!item) return false;
  tree_->setCurrentItem(item);
  tree_->scrollToItem(item, QAbstractItemView::PositionAtCenter);
  return true;
}

bool FolderBrowser::selectionIsFolder() const {
  return !selected_.empty() && selected_.front() == '/' && IsExistingFolder(selected_);
}

std::string FolderBrowser::itemPath(const QTreeWidgetItem* item) {
  return item->data(0, kPathRole).toByteArray().toStdString();
}

void FolderBrowser::setNameAsker(std::function<std::optional<QString>(QWidget*)> ask) {
  askName_ = std::move(ask);
}

void FolderBrowser::setErrorReporter(std::function<void(const std::string&)> report) {
  reportError_ = std::move(report);
}

void FolderBrowser::accept() {
  // The folder may have gone since it was selected.
  if (!selectionIsFolder()) {
    updateButtons();
    return;
  }
  QDialog::accept();
}

void FolderBrowser::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (shown_) return;
  shown_ = true;
  // Queued, so whoever listens can close the window: exec's own loop is running by then.
  QMetaObject::invokeMethod(
      this, [this] { Q_EMIT initialized(); }, Qt::QueuedConnection);
}

void FolderBrowser::addRoots(const FolderRootSources& sources) {
  for (const FolderRoot& root : folderTreeRoots(sources)) {
    auto* item = new QTreeWidgetItem(tree_);
    item->setText(0, root.label);
    item->setToolTip(0, fromBytes(root.path));
    item->setIcon(0, style()->standardIcon(iconFor(root.kind)));
    item->setData(0, kPathRole, QByteArray::fromStdString(root.path));
    item->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
  }
}

QTreeWidgetItem* FolderBrowser::addFolderItem(QTreeWidgetItem* parent, const std::string& name) {
  QTreeWidgetItem* item = makeFolderItem(itemPath(parent), name);
  parent->addChild(item);
  return item;
}

QTreeWidgetItem* FolderBrowser::makeFolderItem(const std::string& parentPath,
                                               const std::string& name) const {
  auto* item = new QTreeWidgetItem;
  item->setText(0, fromBytes(name));
  item->setIcon(0, folderIcon_);
  item->setData(0, kPathRole, QByteArray::fromStdString(joinPath(parentPath, name)));
  item->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
  return item;
}

void FolderBrowser::ensureListed(QTreeWidgetItem* item) {
  if (item->data(0, kListedRole).toBool()) return;
  item->setData(0, kListedRole, true);
  item->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicatorWhenChildless);
  std::optional<std::vector<std::string>> names = listSubfolders(itemPath(item), false, *pseudo_);
  if (!names || names->empty()) return;
  sortByDisplayName(*names);

  // One insertion for the whole folder: a folder may hold many thousands.
  QList<QTreeWidgetItem*> children;
  children.reserve(static_cast<qsizetype>(names->size()));
  const std::string parentPath = itemPath(item);
  for (const std::string& name : *names) children.push_back(makeFolderItem(parentPath, name));
  item->addChildren(children);
}

QTreeWidgetItem* FolderBrowser::revealFolder(const std::string& path,
                                             std::vector<QTreeWidgetItem*>* opened) {
  if (path.empty() || path.front() != '/') return nullptr;
  // The top item with the longest path that holds this one.
  QTreeWidgetItem* item = nullptr;
  std::size_t rootLength = 0;
  for (int i = 0; i < tree_->topLevelItemCount(); ++i) {
    QTreeWidgetItem* top = tree_->topLevelItem(i);
    const std::string root = itemPath(top);
    const bool holds =
        root == "/" || path == root ||
        (path.starts_with(root) && path.size() > root.size() && path[root.size()] == '/');
    if (holds && (!item || root.size() > rootLength)) {
      item = top;
      rootLength = root.size();
    }
  }
  if (!item) return nullptr;

  for (std::size_t pos = rootLength; pos < path.size();) {
    std::size_t end = path.find('/', pos);
    if (end == std::string::npos) end = path.size();
    const std::string part = path.substr(pos, end - pos);
    pos = end + 1;
    if (part.empty() || part == ".") continue;
    if (part == "..") return nullptr;

    ensureListed(item);
    const QByteArray wanted = QByteArray::fromStdString(joinPath(itemPath(item), part));
    QTreeWidgetItem* next = nullptr;
    for (int i = 0; i < item->childCount() && !next; ++i)
      if (item->child(i)->data(0, kPathRole).toByteArray() == wanted) next = item->child(i);
    // Hidden folders, and those made since the listing, get an item when asked for.
    if (!next) {
      if (!IsExistingFolder(wanted.toStdString())) return nullptr;
      next = addFolderItem(item, part);
    }
    item = next;
  }
  for (QTreeWidgetItem* up = item->parent(); up; up = up->parent()) {
    if (up->isExpanded()) continue;
    up->setExpanded(true);
    if (opened) opened->push_back(up);
  }
  return item;
}

void FolderBrowser::onTreeSelection() {
  if (followingText_) return;
  // The user took over: whatever is open now stays open.
  openedForText_.clear();
  const QList<QTreeWidgetItem*> items = tree_->selectedItems();
  selected_ = items.isEmpty() ? std::string() : itemPath(items.front());
  settingText_ = true;
  pathEdit_->setText(fromBytes(selected_));
  settingText_ = false;
  updateButtons();
  Q_EMIT selectionChanged();
}

void FolderBrowser::onPathChanged(const QString& text) {
  if (settingText_) return;
  selected_ = typedPath(toBytes(text), home_);
  std::vector<QTreeWidgetItem*> opened;
  QTreeWidgetItem* item =
      selectionIsFolder() ? revealFolder(StripTrailingBackslash(selected_), &opened) : nullptr;
  // Typing a long path passes many folders: only the way to the last one stays open.
  if (item) {
    for (QTreeWidgetItem* earlier : openedForText_) {
      bool onTheWay = false;
      for (QTreeWidgetItem* up = item->parent(); up && !onTheWay; up = up->parent())
        onTheWay = up == earlier;
      if (onTheWay)
        opened.push_back(earlier);
      else
        earlier->setExpanded(false);
    }
    openedForText_ = std::move(opened);
  }
  // The tree follows the text, but never stands in for it: a path that does not exist
  // (yet) selects nothing.
  followingText_ = true;
  if (item) {
    tree_->setCurrentItem(item);
    tree_->scrollToItem(item);
  } else {
    tree_->clearSelection();
  }
  followingText_ = false;
  updateButtons();
  Q_EMIT selectionChanged();
}

void FolderBrowser::onPathTyped(const QString& text) {
  updateCompletions(text);
  completer_->setCompletionPrefix(text);
  if (completer_->completionCount() > 0 && !text.isEmpty())
    completer_->complete();
  else
    completer_->popup()->hide();
}

void FolderBrowser::updateCompletions(const QString& text) {
  const qsizetype slash = text.lastIndexOf(QLatin1Char('/'));
  const QString folderText = slash < 0 ? QString() : text.left(slash + 1);
  const bool hidden = text.mid(slash + 1).startsWith(QLatin1Char('.'));
  const std::string folder = typedPath(toBytes(folderText), home_);
  const std::string key = folder + (hidden ? "\n." : "\n");
  if (key == completionKey_) return;
  completionKey_ = key;

  QStringList list;
  if (!folder.empty() && folder.front() == '/') {
    for (const std::string& name :
         listSubfolders(folder, hidden, *pseudo_).value_or(std::vector<std::string>{}))
      list.push_back(folderText + fromBytes(name));
  }
  list.sort();
  completions_->setStringList(list);
}

void FolderBrowser::updateButtons() {
  const bool folder = selectionIsFolder();
  okButton_->setEnabled(folder);
  newFolderButton_->setEnabled(folder);
}

void FolderBrowser::createSubfolder() {
  if (!selectionIsFolder()) {
    updateButtons();
    return;
  }
  const std::string parent = StripTrailingBackslash(selected_);
  const std::optional<QString> name = askName_(this);
  if (!name || !newFolderNameProblem(*name).isEmpty()) return;
  const std::string path = joinPath(parent, toBytes(name->trimmed()));
  try {
    createFolder(path);
  } catch (const std::exception& error) {
    reportError_(describeFailure(error).message);
    return;
  }
  if (QTreeWidgetItem* item = revealFolder(path)) {
    tree_->setCurrentItem(item);
    tree_->scrollToItem(item);
  } else {
    pathEdit_->setText(fromBytes(path));
  }
}
