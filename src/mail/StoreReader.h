#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <map>
#include <string>
#include <utility>

#include "mail/ExportItem.h"
#include "mail/uoexpress.h"

namespace mail_export {

// The reading side of the export: walks the store and prepares every message (its text,
// names and decoded attachments) for the writer. It only reads; every file and every report
// is the writer's.
class StoreReader {
 public:
  // destination ends in "/". abandonedFolder: the folder the writer has left out, whose
  // remaining messages are not read.
  StoreReader(const std::string& storeFolder, const std::string& destination, ExportQueue& queue,
              BufferPool& pool, const std::atomic<size_t>& abandonedFolder);

  // Reads the whole store; anything that ends the export goes to the queue as a Fatal item.
  void run() noexcept;

 private:
  void readStore();
  bool push(ExportItem item);
  bool pushFailure(size_t folder, const Oe5File* file, const std::string& path,
                   std::exception_ptr error, bool abandonsFolder);
  bool pushDamage(size_t folder, const Oe5File& file, const std::string& reason);
  uint64_t& allowanceFor(const Oe5File& file);
  bool readFolder(size_t index, const Toe5_FolderInfo& folder, const std::string& component);
  bool readMessages(size_t index, Oe5File& file, const Toe5_IndexList& messages,
                    const std::string& component);
  void prepare(Oe5File& file, const Toe5_MessageInfo& message, const std::string& messageFolder,
               const std::string& attachmentFolder, ExportItem& item, std::string& textDamage);

  Oe5Store store_;
  std::string storeFolder_;  // ends in "/"
  const std::string& destination_;
  ExportQueue& queue_;
  BufferPool& pool_;
  const std::atomic<size_t>& abandoned_;
  std::map<std::pair<uint64_t, uint64_t>, uint64_t> allowances_;  // by file identity
};

}  // namespace mail_export
