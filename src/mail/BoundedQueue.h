#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <utility>

// Hands items from one producer thread to one consumer thread, holding at most maxWeight of
// them (as the producer weighs them; an item heavier than that goes in alone), so that the
// producer runs ahead of the consumer without filling memory.
template <typename T>
class BoundedQueue {
 public:
  explicit BoundedQueue(std::size_t maxWeight) : maxWeight_(maxWeight) {}

  // Waits for room. False, and the item dropped, once the consumer has closed the queue.
  bool push(T item, std::size_t weight) {
    std::unique_lock lock(mutex_);
    roomFreed_.wait(lock,
                    [&] { return closed_ || items_.empty() || weight_ + weight <= maxWeight_; });
    if (closed_) return false;
    weight_ += weight;
    items_.emplace_back(std::move(item), weight);
    itemAdded_.notify_one();
    return true;
  }

  // The producer has no more to give.
  void finish() {
    std::lock_guard lock(mutex_);
    finished_ = true;
    itemAdded_.notify_one();
  }

  // Waits for the next item; false once the producer has finished and every item was taken.
  bool pop(T& item) {
    std::unique_lock lock(mutex_);
    itemAdded_.wait(lock, [&] { return !items_.empty() || finished_; });
    if (items_.empty()) return false;
    item = std::move(items_.front().first);
    weight_ -= items_.front().second;
    items_.pop_front();
    roomFreed_.notify_one();
    return true;
  }

  // The consumer wants no more: what is queued is dropped and later pushes fail.
  void close() {
    std::lock_guard lock(mutex_);
    closed_ = true;
    items_.clear();
    weight_ = 0;
    roomFreed_.notify_one();
  }

  bool closed() const {
    std::lock_guard lock(mutex_);
    return closed_;
  }

  // The weight waiting now: low while the consumer keeps up, near maxWeight when it does not.
  std::size_t weight() const {
    std::lock_guard lock(mutex_);
    return weight_;
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable itemAdded_;
  std::condition_variable roomFreed_;
  std::deque<std::pair<T, std::size_t>> items_;
  std::size_t weight_ = 0;
  const std::size_t maxWeight_;
  bool finished_ = false;
  bool closed_ = false;
};
