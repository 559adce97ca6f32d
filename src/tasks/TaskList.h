#pragma once

#include <string>
#include <vector>

// One task: a folder to mirror, or the mail extraction task.
struct TaskRow {
  std::string path;  // the folder, or the mail task's text
  std::string text;  // what the list shows
  bool checked = false;
};

// Rows 0 to 4 are the system folders: they can be unchecked, never removed.
inline constexpr int kLastProtectedRow = 4;
// Rows 0 to 5 are those of a first start (the system folders and the mail task): a load
// shows them by the last component of their paths, later rows by their whole path.
inline constexpr int kLastSystemRow = 5;

// The task list: each row's path, text and checked state together, so they can never drift
// apart. A view follows its changes through a watcher, told before and after each one.
class TaskList {
 public:
  struct Change {
    enum Kind { Reset, Insert, Remove, Check } kind;
    int row = -1;  // the row inserted, removed or checked; -1 for a reset
  };
  class Watcher {
   public:
    virtual ~Watcher() = default;
    virtual void aboutToChange(const Change& change) = 0;
    virtual void changed(const Change& change) = 0;
  };

  void setWatcher(Watcher* watcher) { watcher_ = watcher; }

  int count() const { return static_cast<int>(rows_.size()); }
  const TaskRow& row(int index) const { return rows_.at(static_cast<size_t>(index)); }
  const std::vector<TaskRow>& rows() const { return rows_; }

  void assign(std::vector<TaskRow> rows);
  void clear() { assign({}); }
  void append(TaskRow row);
  void remove(int index);
  void setChecked(int index, bool checked);

 private:
  std::vector<TaskRow> rows_;
  Watcher* watcher_ = nullptr;
};
