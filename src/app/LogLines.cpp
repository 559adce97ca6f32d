#include "app/LogLines.h"

#include <algorithm>

#include "dialogs/ByteText.h"

LogLines::LogLines(int limit, QObject* parent) : QAbstractListModel(parent), limit_(limit) {}

int LogLines::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(lines_.size());
}

QVariant LogLines::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
    return fromBytes(lines_[static_cast<size_t>(index.row())]);
  return {};
}

void LogLines::append(const std::vector<std::string>& lines) {
  if (lines.empty()) return;
  // Lines that would be dropped at once are never shown.
  const qsizetype first = std::max<qsizetype>(0, std::ssize(lines) - limit_);
  const int count = static_cast<int>(std::ssize(lines) - first);
  const int overflow = rowCount() + count - limit_;
  if (overflow > 0) {
    beginRemoveRows({}, 0, overflow - 1);
    lines_.erase(lines_.begin(), lines_.begin() + overflow);
    endRemoveRows();
  }
  beginInsertRows({}, rowCount(), rowCount() + count - 1);
  lines_.insert(lines_.end(), lines.begin() + first, lines.end());
  endInsertRows();
}

void LogLines::clear() {
  if (lines_.empty()) return;
  beginResetModel();
  lines_.clear();
  endResetModel();
}

QString LogLines::text() const {
  QString all;
  for (size_t i = 0; i < lines_.size(); ++i) {
    if (i > 0) all += QLatin1Char('\n');
    all += fromBytes(lines_[i]);
  }
  return all;
}
