#include "platform/ReplaceFile.h"

#include <fcntl.h>

#include <cerrno>

#include "platform/Errors.h"

ReplaceFile::ReplaceFile(std::string target, mode_t mode) : target_(std::move(target)) {
  const std::size_t slash = target_.rfind('/');
  const std::string folder = slash == std::string::npos ? "."
                             : slash == 0               ? "/"
                                                        : target_.substr(0, slash);
  const std::string name = slash == std::string::npos ? target_ : target_.substr(slash + 1);
  folder_.reset(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!folder_) throw unableToWrite(target_, errno);
  NewFileOptions options;
  options.mode = mode & 07777;
  options.durable = true;
  options.replaceLink = true;
  file_ = std::make_unique<NewFile>(folder_.get(), name.c_str(), target_, options);
}

ReplaceFile::~ReplaceFile() = default;

void ReplaceFile::write(std::string_view bytes) {
  file_->write(bytes);
}

void ReplaceFile::commit() {
  file_->commit();
}

void replaceFile(const std::string& target, std::string_view content, mode_t mode) {
  ReplaceFile file(target, mode);
  file.write(content);
  file.commit();
}
