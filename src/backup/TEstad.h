#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>

// The run state: written by the worker, read whole by the main thread's timer.
class TEstad {
 public:
  std::atomic<int32_t> Actualizados{0};
  std::atomic<int32_t> Copiados{0};
  std::atomic<int32_t> Revisados{0};
  // The check of the copies: whether this run made one, copies read, copies found damaged.
  std::atomic<bool> Comprobando{false};
  std::atomic<int32_t> Comprobados{0};
  std::atomic<int32_t> Danados{0};

  // When the current or last run began.
  std::chrono::system_clock::time_point InicioCopia() const;
  void setInicioCopia(std::chrono::system_clock::time_point when);

  std::string TextoEstado() const;
  void setTextoEstado(const std::string& text);

 private:
  std::atomic<int64_t> inicioCopiaMs_{0};
  mutable std::mutex textMutex_;
  std::string textoEstado_;
};
