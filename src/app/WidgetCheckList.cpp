#include "app/WidgetCheckList.h"

#include <QFile>
#include <QListWidget>

namespace {
constexpr int kBytesRole = Qt::UserRole + 1;
}

void WidgetCheckList::clear() {
  list_->clear();
}

void WidgetCheckList::append(const std::string& text) {
  auto* item = new QListWidgetItem(QFile::decodeName(QByteArray::fromStdString(text)), list_);
  item->setData(kBytesRole, QByteArray::fromStdString(text));
  item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
  item->setCheckState(Qt::Unchecked);
}

int WidgetCheckList::count() const {
  return list_->count();
}

std::string WidgetCheckList::text(int row) const {
  return list_->item(row)->data(kBytesRole).toByteArray().toStdString();
}

bool WidgetCheckList::checked(int row) const {
  return list_->item(row)->checkState() == Qt::Checked;
}

void WidgetCheckList::setChecked(int row, bool checked) {
  list_->item(row)->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
}
