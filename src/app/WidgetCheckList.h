#pragma once

#include "tasks/CheckList.h"

class QListWidget;

// The check list operations over the Memo1 widget. Each row keeps its text as the original
// bytes, so names that are not valid UTF-8 survive a load and a save.
class WidgetCheckList : public CheckList {
 public:
  explicit WidgetCheckList(QListWidget* list) : list_(list) {}

  void clear() override;
  void append(const std::string& text) override;
  int count() const override;
  std::string text(int row) const override;
  bool checked(int row) const override;
  void setChecked(int row, bool checked) override;

 private:
  QListWidget* list_;
};
