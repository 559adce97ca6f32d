#include "app/TaskListModel.h"

#include "dialogs/ByteText.h"

TaskListModel::TaskListModel(TaskList& tasks, QObject* parent)
    : QAbstractListModel(parent), tasks_(tasks) {
  tasks_.setWatcher(this);
}

TaskListModel::~TaskListModel() {
  tasks_.setWatcher(nullptr);
}

int TaskListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : tasks_.count();
}

QVariant TaskListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= tasks_.count()) return {};
  const TaskRow& row = tasks_.row(index.row());
  if (role == Qt::DisplayRole || role == Qt::ToolTipRole) return fromBytes(row.text);
  if (role == Qt::CheckStateRole) return row.checked ? Qt::Checked : Qt::Unchecked;
  return {};
}

bool TaskListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (role != Qt::CheckStateRole || !index.isValid() || index.row() >= tasks_.count()) return false;
  tasks_.setChecked(index.row(), value.toInt() == Qt::Checked);
  return true;
}

Qt::ItemFlags TaskListModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable;
}

void TaskListModel::aboutToChange(const TaskList::Change& change) {
  switch (change.kind) {
    case TaskList::Change::Reset:
      beginResetModel();
      break;
    case TaskList::Change::Insert:
      beginInsertRows({}, change.row, change.row);
      break;
    case TaskList::Change::Remove:
      beginRemoveRows({}, change.row, change.row);
      break;
    case TaskList::Change::Check:
      break;
  }
}

void TaskListModel::changed(const TaskList::Change& change) {
  switch (change.kind) {
    case TaskList::Change::Reset:
      endResetModel();
      break;
    case TaskList::Change::Insert:
      endInsertRows();
      break;
    case TaskList::Change::Remove:
      endRemoveRows();
      break;
    case TaskList::Change::Check: {
      const QModelIndex at = index(change.row);
      Q_EMIT dataChanged(at, at, {Qt::CheckStateRole});
      break;
    }
  }
}
