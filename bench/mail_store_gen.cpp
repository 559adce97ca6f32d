// Writes a mail store for the export benchmark:
//   mail_store_gen <store folder> [messages] [folders] [attachment MB]
// Three messages in four of each folder carry attachments (Base64, 76-character lines); the rest
// are plain. Each message is built, written and dropped, so memory stays flat whatever the size.
//   mail_store_gen --export <store folder> <destination folder>
// exports the store in-process and prints the counters and the throughput.
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "mail/ExportSink.h"
#include "mail/ExtraerMensajes.h"
#include "support/StoreBuilder.h"

namespace {

std::string base64Lines(size_t size, uint32_t seed) {
  static const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve(size / 3 * 4 + size / 57 * 2 + 8);
  uint32_t state = seed * 2654435761u + 1;
  size_t column = 0;
  for (size_t i = 0; i < size; i += 3) {
    state = state * 1664525u + 1013904223u;
    const uint32_t n = state >> 8;
    out += alphabet[n >> 18 & 63];
    out += alphabet[n >> 12 & 63];
    out += alphabet[n >> 6 & 63];
    out += alphabet[n & 63];
    column += 4;
    if (column == 76) {
      out += "\r\n";
      column = 0;
    }
  }
  if (column) out += "\r\n";
  return out;
}

std::string messageText(size_t index, size_t attachmentBytes) {
  std::string text = "From: remitente" + std::to_string(index % 50) +
                     "@example.com\r\nTo: yo@example.com\r\nSubject: Mensaje " +
                     std::to_string(index) +
                     "\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"XyZ\"\r\n"
                     "\r\n--XyZ\r\nContent-Type: text/plain; charset=iso-8859-1\r\n\r\n";
  for (int line = 0; line < 20; ++line) {
    text += "Linea de texto del cuerpo del mensaje, con algo de contenido normal.\r\n";
  }
  text += "\r\n";
  if (attachmentBytes) {
    const size_t parts = 1 + index % 3;
    for (size_t part = 0; part < parts; ++part) {
      const std::string name =
          "adjunto" + std::to_string(index) + "_" + std::to_string(part) + ".bin";
      text += "--XyZ\r\nContent-Type: application/octet-stream; name=\"" + name +
              "\"\r\nContent-Transfer-Encoding: base64\r\nContent-Disposition: attachment; "
              "filename=\"" +
              name + "\"\r\n\r\n" +
              base64Lines(attachmentBytes / parts, static_cast<uint32_t>(index * 7 + part)) +
              "\r\n";
    }
  }
  return text + "--XyZ--\r\n";
}

class CountingSink : public ExportSink {
 public:
  bool goOn() const override { return true; }
  void logLine(const std::string&) override { ++lines; }
  void messageReviewed() override { ++reviewed; }
  void attachmentWritten() override { ++written; }
  void failed(const std::string& path, const std::exception& error) override {
    std::fprintf(stderr, "failed: %s: %s\n", path.c_str(), error.what());
    ++failures;
  }
  long lines = 0, reviewed = 0, written = 0, failures = 0;
};

int generate(const std::string& store, size_t messages, size_t folders, size_t attachmentMb) {
  ::mkdir(store.c_str(), 0755);
  const size_t withAttachments = messages * 3 / 4;
  const size_t bytesEach = withAttachments ? attachmentMb * 1024 * 1024 / withAttachments : 0;
  {
    DbxWriter index(store + "/Folders.dbx");
    for (size_t f = 0; f < folders; ++f) {
      index.addFolder(
          {"Carpeta " + std::to_string(f), "Carpeta" + std::to_string(f) + ".dbx", true, {}},
          static_cast<int32_t>(f + 1));
    }
    index.finish();
  }
  for (size_t f = 0; f < folders; ++f) {
    DbxWriter file(store + "/Carpeta" + std::to_string(f) + ".dbx");
    for (size_t i = f; i < messages; i += folders) {
      BuiltMessage m;
      const bool attached = (i / folders) % 4 != 3;
      m.flags = attached ? 0x4081 : 0x81;
      m.subject = "Mensaje " + std::to_string(i);
      m.sender = "remitente" + std::to_string(i % 50) + "@example.com";
      m.received = fileTimeOf(2005, 1 + static_cast<int>(i % 12), 1 + static_cast<int>(i % 28),
                              static_cast<int>(i % 24), static_cast<int>(i % 60), 7);
      m.text = messageText(i, attached ? bytesEach : 0);
      file.addMessage(m);
    }
    file.finish(32);
  }
  return 0;
}

int exportStore(const std::string& store, const std::string& destination) {
  CountingSink sink;
  const auto start = std::chrono::steady_clock::now();
  ExtraerMensajes(store, destination, sink);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("reviewed %ld, written %ld, log lines %ld, failures %ld, %.2f s\n", sink.reviewed,
              sink.written, sink.lines, sink.failures, seconds);
  return sink.failures ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "--export") return exportStore(argv[2], argv[3]);
  if (argc < 2) {
    std::fprintf(stderr,
                 "usage: %s <store> [messages] [folders] [attachment MB]\n"
                 "       %s --export <store> <destination>\n",
                 argv[0], argv[0]);
    return 2;
  }
  const size_t messages = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 2000;
  const size_t folders = argc > 3 ? std::strtoul(argv[3], nullptr, 10) : 4;
  const size_t attachmentMb = argc > 4 ? std::strtoul(argv[4], nullptr, 10) : 300;
  return generate(argv[1], messages, folders == 0 ? 1 : folders, attachmentMb);
}
