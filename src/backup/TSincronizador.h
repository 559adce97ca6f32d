#pragma once

#include <atomic>
#include <functional>
#include <thread>

// The worker of a backup run: runs one body on a thread of its own at lowered CPU and I/O
// priority. Only one body runs at a time. The owner joins it before anything the body
// uses is destroyed (the destructor joins too).
class TSincronizador {
 public:
  TSincronizador() = default;
  ~TSincronizador();
  TSincronizador(const TSincronizador&) = delete;
  TSincronizador& operator=(const TSincronizador&) = delete;

  // Starts body on a new thread; false (and nothing started) while an earlier body is still
  // running. An error escaping the body is caught and kept silently.
  bool start(std::function<void()> body);
  bool running() const { return running_.load(); }
  // Waits for the body in progress, if any.
  void join();

 private:
  std::thread thread_;
  std::atomic<bool> running_{false};
};
