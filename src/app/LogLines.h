#pragma once

#include <QAbstractListModel>
#include <QString>
#include <deque>
#include <string>
#include <vector>

// The run's log as the window shows it: one row a line, the newest `limit` lines only, kept
// as the bytes logged and decoded only to be shown.
// A list of rows costs little to grow at one end and trim at the other, where a text
// document would lay out again what it drops: a run over a million files shows every line
// it logs without holding up the window.
class LogLines : public QAbstractListModel {
  Q_OBJECT

 public:
  explicit LogLines(int limit, QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;

  void append(const std::vector<std::string>& lines);
  void clear();
  // Every line kept, each ended by a line feed but the last.
  QString text() const;
  const std::deque<std::string>& lines() const { return lines_; }

 private:
  int limit_;
  std::deque<std::string> lines_;
};
