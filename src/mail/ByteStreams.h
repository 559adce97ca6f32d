#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The message of an error raised when a file that is open fails to give its bytes.
inline constexpr const char* kStreamReadError = "Stream read error";

// A readable byte source with a position, the way the decoder consumes its input: it reads
// forward from the current position and puts the position back where it stopped.
class InputByteStream {
 public:
  virtual ~InputByteStream() = default;

  virtual std::uint64_t size() const = 0;
  virtual std::uint64_t position() const = 0;
  virtual void setPosition(std::uint64_t position) = 0;
  // Reads up to n bytes at the position and moves past them; 0 means the end.
  virtual std::size_t read(char* buffer, std::size_t n) = 0;
  // All size() bytes, for a stream that holds them in memory (readers then need no buffer
  // of their own); null otherwise.
  virtual const char* contiguous() const { return nullptr; }
};

// A byte sink. write() takes all the bytes or throws: a failed write is never silent.
class OutputByteStream {
 public:
  virtual ~OutputByteStream() = default;

  virtual void write(const char* data, std::size_t n) = 0;
};

// Reads from memory the caller keeps alive.
class MemoryInputStream : public InputByteStream {
 public:
  explicit MemoryInputStream(std::string_view data) : data_(data) {}

  std::uint64_t size() const override { return data_.size(); }
  std::uint64_t position() const override { return position_; }
  void setPosition(std::uint64_t position) override { position_ = position; }
  std::size_t read(char* buffer, std::size_t n) override;
  const char* contiguous() const override { return data_.data(); }

 private:
  std::string_view data_;
  std::uint64_t position_ = 0;
};

// Appends to a string the caller owns.
class StringOutputStream : public OutputByteStream {
 public:
  explicit StringOutputStream(std::string& target) : target_(target) {}

  void write(const char* data, std::size_t n) override { target_.append(data, n); }

 private:
  std::string& target_;
};

// Reads an open file descriptor (not owned) with pread; the position starts at 0 whatever
// the descriptor's own offset. The size is taken once, when the stream is made. A read error
// throws ResguardaError naming the path.
class FdInputStream : public InputByteStream {
 public:
  FdInputStream(int fd, std::string path);

  std::uint64_t size() const override { return size_; }
  std::uint64_t position() const override { return position_; }
  void setPosition(std::uint64_t position) override { position_ = position; }
  std::size_t read(char* buffer, std::size_t n) override;

 private:
  int fd_;
  std::string path_;
  std::uint64_t size_ = 0;
  std::uint64_t position_ = 0;
};

// Writes to an open file descriptor (not owned). Short writes are retried; a write that
// fails (disk full, I/O error) throws unableToWrite(path, errno).
class FdOutputStream : public OutputByteStream {
 public:
  FdOutputStream(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}

  void write(const char* data, std::size_t n) override;

 private:
  int fd_;
  std::string path_;
};
