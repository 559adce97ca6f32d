#pragma once

#include <QTimer>
#include <QWidget>

// Animate1: pages flying from one folder to another, looping while a run is in progress.
class CopyAnimation : public QWidget {
  Q_OBJECT
 public:
  explicit CopyAnimation(QWidget* parent = nullptr);

  void setActive(bool active);
  bool isActive() const { return timer_.isActive(); }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  static constexpr int kFrames = 31;
  QTimer timer_;
  int frame_ = 0;
};
