#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstddef>
#include <exception>
#include <set>
#include <string>

#include "mail/ExportItem.h"
#include "mail/OutputFile.h"
#include "mail/OutputTree.h"

class ExportSink;

namespace mail_export {

// The writing side of the export, on the caller's thread: makes the output folders, writes
// the files and makes every call to the sink, in the order the messages come.
class OutputWriter {
 public:
  // abandonedFolder: where the writer tells the reader which folder it has left out.
  OutputWriter(const std::string& destination, ExportSink& sink, BufferPool& pool,
               std::atomic<size_t>& abandonedFolder);

  // False when the export ends here.
  bool take(ExportItem& item);

  // What ended the export from the reading side, if anything did.
  std::exception_ptr fatal() const { return fatal_; }

 private:
  bool takeFileFailed(const ExportItem& item);
  void handle(ExportItem& item);
  bool write(ExportItem& item);
  bool writeAttachments(int dirFd, ExportItem& item);
  template <typename Bytes>
  bool put(int dirFd, const std::string& name, const std::string& path, const Bytes& bytes);
  void report(const std::string& path, const std::exception_ptr& error);
  void abandon(size_t folder);

  OutputTree tree_;
  ExportSink& sink_;
  // Read before the reader thread starts.
  const mode_t mode_ = ordinaryFileMode();
  BufferPool& pool_;
  std::atomic<size_t>& abandoned_;
  size_t abandonedFolder_ = kNoFolder;
  size_t folder_ = kNoFolder;
  std::set<std::string> reportedFiles_;  // by ExportItem::fileKey
  std::string component_;
  std::exception_ptr fatal_;
};

}  // namespace mail_export
