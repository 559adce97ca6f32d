#include "mail/ExportItem.h"

namespace mail_export {

namespace {

constexpr size_t kItemWeight = 4096;

}  // namespace

size_t ExportItem::weight() const {
  size_t bytes = kItemWeight + text.size();
  for (const PreparedAttachment& a : attachments) bytes += a.bytes.size();
  return bytes;
}

std::string BufferPool::take() {
  std::lock_guard lock(mutex_);
  if (buffers_.empty()) return {};
  std::string buffer = std::move(buffers_.back());
  buffers_.pop_back();
  held_ -= buffer.capacity();
  return buffer;
}

void BufferPool::give(std::string&& buffer) {
  buffer.clear();
  std::lock_guard lock(mutex_);
  if (held_ + buffer.capacity() > kHeldBytes || buffers_.size() >= kBuffers) return;
  held_ += buffer.capacity();
  buffers_.push_back(std::move(buffer));
}

}  // namespace mail_export
