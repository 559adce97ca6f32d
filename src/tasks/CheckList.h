#pragma once

#include <string>
#include <vector>

// The operations the task list logic needs of the check list Memo1. The window offers them
// over its widget; PlainCheckList offers them in memory.
class CheckList {
 public:
  virtual ~CheckList() = default;

  virtual void clear() = 0;
  virtual void append(const std::string& text) = 0;
  virtual int count() const = 0;
  virtual std::string text(int row) const = 0;
  virtual bool checked(int row) const = 0;
  virtual void setChecked(int row, bool checked) = 0;
};

class PlainCheckList : public CheckList {
 public:
  void clear() override { rows_.clear(); }
  void append(const std::string& text) override { rows_.push_back({text, false}); }
  int count() const override { return static_cast<int>(rows_.size()); }
  std::string text(int row) const override { return rows_.at(row).text; }
  bool checked(int row) const override { return rows_.at(row).checked; }
  void setChecked(int row, bool checked) override { rows_.at(row).checked = checked; }

 private:
  struct Row {
    std::string text;
    bool checked;
  };
  std::vector<Row> rows_;
};
