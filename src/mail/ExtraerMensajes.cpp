#include "mail/ExtraerMensajes.h"

#include <atomic>
#include <thread>

#include "mail/ExportItem.h"
#include "mail/OutputWriter.h"
#include "mail/StoreReader.h"
#include "platform/PathText.h"

void ExtraerMensajes(const std::string& storeFolder, const std::string& dirDestino,
                     ExportSink& sink) {
  using namespace mail_export;
  const std::string destination = withTrailingSlash(dirDestino);
  // One thread reads and decodes the next messages while this one writes, so the export
  // takes about as long as writing its output.
  ExportQueue queue(kQueueBytes);
  std::atomic<size_t> abandonedFolder{kNoFolder};
  BufferPool pool;
  StoreReader reader(storeFolder, destination, queue, pool, abandonedFolder);
  OutputWriter writer(destination, sink, pool, abandonedFolder);
  std::thread readerThread([&reader] { reader.run(); });
  try {
    ExportItem item;
    while (queue.pop(item) && writer.take(item)) {
    }
  } catch (...) {
    queue.close();
    readerThread.join();
    throw;
  }
  queue.close();
  readerThread.join();
  if (writer.fatal()) std::rethrow_exception(writer.fatal());
}
