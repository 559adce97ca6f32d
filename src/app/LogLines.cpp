#include "app/LogLines.h"

LogLines::LogLines(int limit, QObject* parent) : QAbstractListModel(parent), limit_(limit) {}

int LogLines::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(lines_.size());
}

QVariant LogLines::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
    return lines_[static_cast<size_t>(index.row())];
  return {};
}

void LogLines::append(const QStringList& lines) {
  if (lines.isEmpty()) return;
  // Lines that would be dropped at once are never shown.
  const qsizetype first = std::max<qsizetype>(0, lines.size() - limit_);
  const int count = static_cast<int>(lines.size() - first);
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
    all += lines_[i];
  }
  return all;
}
