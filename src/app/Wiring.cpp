#include "app/Wiring.h"

#include "mail/ExportSink.h"
#include "mail/ExtraerMensajes.h"
#include "mail/StoreFolder.h"
#include "platform/UserFolders.h"
#include "tasks/SystemFolders.h"

namespace {

// The mail export's view of the run: its counters, log and stop flag.
class RunExportSink : public ExportSink {
 public:
  explicit RunExportSink(RunContext& run) : run_(run) {}

  bool goOn() const override { return run_.goOn(); }
  void logLine(const std::string& line) override { run_.log(line); }
  void messageReviewed() override {
    ++run_.estado.Revisados;
    run_.observer.countersChanged();
  }
  void attachmentWritten() override { ++run_.estado.Copiados; }
  void failed(const std::string& path, const std::exception& error) override {
    run_.fail(path, error);
  }

 private:
  RunContext& run_;
};

}  // namespace

std::vector<TaskRow> readSystemFolders() {
  const TCarpetas carpetas =
      ObtenerCarpetasSistema(UserFolders::fromEnvironment(), [] { return oe5_StoreFolder(); });
  return BuildFirstRunList(carpetas);
}

MailTask mailExportTask() {
  return [](RunContext& run) {
    RunExportSink sink(run);
    ExtraerMensajes(oe5_StoreFolder(), run.dirDestino, sink);
  };
}
