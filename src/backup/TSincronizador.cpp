#include "backup/TSincronizador.h"

#include "platform/ThreadPriority.h"

TSincronizador::~TSincronizador() {
  join();
}

bool TSincronizador::start(std::function<void()> body, std::function<void()> ended) {
  if (running_) return false;
  join();  // the previous worker has ended; collect its thread
  running_ = true;
  thread_ = std::thread([this, body = std::move(body), ended = std::move(ended)] {
    lowerCurrentThreadPriority();
    try {
      body();
    } catch (...) {
    }
    running_ = false;
    if (!ended) return;
    try {
      ended();
    } catch (...) {
    }
  });
  return true;
}

void TSincronizador::join() {
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}
