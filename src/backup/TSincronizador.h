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
  // running. An error escaping the body is caught there. `ended` is then called on the
  // worker, after running() has turned false, however the body ended: whoever waits for the
  // end of a run is always told.
  bool start(std::function<void()> body, std::function<void()> ended = {});
  bool running() const { return running_.load(); }
  // Waits for the body in progress, if any.
  void join();

 private:
  std::thread thread_;
  std::atomic<bool> running_{false};
};
