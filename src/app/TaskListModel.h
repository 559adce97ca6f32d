#pragma once

#include <QAbstractListModel>

#include "tasks/TaskList.h"

// The task list as Memo1 shows it: one checkable row per task, its text decoded from the
// bytes it holds (a name that is not valid UTF-8 still shows and is saved as it was).
// Checking a row in the view checks it in the list.
class TaskListModel : public QAbstractListModel, private TaskList::Watcher {
  Q_OBJECT

 public:
  explicit TaskListModel(TaskList& tasks, QObject* parent = nullptr);
  ~TaskListModel() override;

  int rowCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

 private:
  void aboutToChange(const TaskList::Change& change) override;
  void changed(const TaskList::Change& change) override;

  TaskList& tasks_;
};
