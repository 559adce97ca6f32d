#include "backup/TSincronizador.h"

#include "platform/ThreadPriority.h"

TSincronizador::~TSincronizador() {
  join();
}

bool TSincronizador::start(std::function<void()> body) {
  if (running_) return false;
  join();  // the previous worker has ended; collect its thread
  running_ = true;
  thread_ = std::thread([this, body = std::move(body)] {
    lowerCurrentThreadPriority();
    try {
      body();
    } catch (...) {
    }
    running_ = false;
  });
  return true;
}

void TSincronizador::join() {
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}
