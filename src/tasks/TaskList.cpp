#include "tasks/TaskList.h"

#include <stdexcept>

namespace {

class Notice {
 public:
  Notice(TaskList::Watcher* watcher, TaskList::Change change) : watcher_(watcher), change_(change) {
    if (watcher_) watcher_->aboutToChange(change_);
  }
  ~Notice() {
    if (watcher_) watcher_->changed(change_);
  }
  Notice(const Notice&) = delete;
  Notice& operator=(const Notice&) = delete;

 private:
  TaskList::Watcher* watcher_;
  TaskList::Change change_;
};

}  // namespace

void TaskList::assign(std::vector<TaskRow> rows) {
  Notice notice(watcher_, {Change::Reset});
  rows_ = std::move(rows);
}

void TaskList::append(TaskRow row) {
  Notice notice(watcher_, {Change::Insert, count()});
  rows_.push_back(std::move(row));
}

void TaskList::remove(int index) {
  if (index < 0 || index >= count()) throw std::out_of_range("no such task row");
  Notice notice(watcher_, {Change::Remove, index});
  rows_.erase(rows_.begin() + index);
}

void TaskList::setChecked(int index, bool checked) {
  TaskRow& target = rows_.at(static_cast<size_t>(index));
  if (target.checked == checked) return;
  Notice notice(watcher_, {Change::Check, index});
  target.checked = checked;
}
