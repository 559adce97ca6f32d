// The message export over one untrusted message text: a store of one folder holding one
// message with the attachment flag (listed once, or thousands of times over by a damaged
// index) is written to a scratch folder and exported. Every file written must land inside
// the destination, nothing may be left behind there but .eml files and attachments, and
// the output stays within a small multiple of the folder file's size.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "mail/ExportSink.h"
#include "mail/ExtraerMensajes.h"

namespace {

void put32(std::string& bytes, size_t at, uint32_t value) {
  if (bytes.size() < at + 4) bytes.resize(at + 4, '\0');
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(value >> (8 * i));
}

// A DBX file with one index record (entries and data given) listed `listings` times by the
// root node.
std::string dbxFile(const std::string& text, const std::vector<uint32_t>& entries,
                    const std::string& data, bool withText, uint32_t listings = 1) {
  std::string bytes(0x200, '\0');
  uint32_t first = 0;
  if (withText) {
    first = static_cast<uint32_t>(bytes.size());
    for (size_t done = 0; done == 0 || done < text.size(); done += 512) {
      const uint32_t pos = static_cast<uint32_t>(bytes.size());
      const size_t count = std::min<size_t>(512, text.size() - std::min(done, text.size()));
      put32(bytes, pos, pos);
      put32(bytes, pos + 8, static_cast<uint32_t>(count));
      put32(bytes, pos + 12, done + 512 < text.size() ? pos + 528 : 0);
      bytes.resize(pos + 16, '\0');
      bytes.append(text, std::min(done, text.size()), count);
      bytes.resize(pos + 528, '\0');
    }
  }
  const uint32_t record = static_cast<uint32_t>(bytes.size());
  put32(bytes, record, record);
  put32(bytes, record + 4, static_cast<uint32_t>(entries.size() * 4 + data.size() + 4));
  bytes.resize(record + 12, '\0');
  bytes[record + 10] = static_cast<char>(entries.size());
  for (uint32_t entry : entries) put32(bytes, bytes.size(), entry);
  bytes += data;
  put32(bytes, bytes.size(), first);  // 4-byte text position, last in the data area
  const uint32_t textEntryOffset = static_cast<uint32_t>(data.size());
  put32(bytes, record + 12 + 4 * (entries.size() - 1), textEntryOffset << 8 | 0x04);
  const uint32_t node = static_cast<uint32_t>(bytes.size());
  put32(bytes, node, node);
  put32(bytes, node + 16, listings << 8);
  for (uint32_t i = 0; i < listings; ++i) {
    put32(bytes, node + 24 + 12 * i, record);
    put32(bytes, node + 28 + 12 * i, 0);
    put32(bytes, node + 32 + 12 * i, 0);
  }
  put32(bytes, 48, node);
  put32(bytes, 196, 1);
  return bytes;
}

void writeFile(const std::string& path, const std::string& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) std::abort();
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

// Removes a tree and returns the bytes its files held; traps on an entry that is neither a
// regular file nor a folder, or on a temporary file left behind.
uint64_t removeTree(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return 0;
  uint64_t bytes = 0;
  if (S_ISDIR(st.st_mode)) {
    if (DIR* dir = ::opendir(path.c_str())) {
      while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") bytes += removeTree(path + "/" + name);
      }
      ::closedir(dir);
    }
    ::rmdir(path.c_str());
  } else {
    if (!S_ISREG(st.st_mode) || path.find("/.resguarda-") != std::string::npos) __builtin_trap();
    bytes = static_cast<uint64_t>(st.st_size);
    ::unlink(path.c_str());
  }
  return bytes;
}

// Traps when the folder holds a name not listed.
void onlyThese(const std::string& folder, const std::vector<std::string>& allowed) {
  if (DIR* dir = ::opendir(folder.c_str())) {
    while (const dirent* entry = ::readdir(dir)) {
      const std::string name = entry->d_name;
      bool known = name == "." || name == "..";
      for (const std::string& a : allowed) known = known || name == a;
      if (!known) __builtin_trap();
    }
    ::closedir(dir);
  }
}

class NullSink : public ExportSink {
 public:
  bool goOn() const override { return true; }
  void logLine(const std::string&) override { ++lines; }
  void messageReviewed() override {}
  void attachmentWritten() override {}
  void failed(const std::string&, const std::exception&) override {}

  uint64_t lines = 0;
};

std::string scratch() {
  static std::string root;
  if (root.empty()) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/fuzz-mail-XXXXXX";
    if (!::mkdtemp(pattern.data())) std::abort();
    root = pattern;
    ::mkdir((root + "/store").c_str(), 0755);
    std::atexit([] { removeTree(root); });
  }
  return root;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 64 * 1024) return 0;
  const std::string root = scratch();
  // The first byte chooses the folder name and how often the index lists the message (once,
  // or for the last ten values a thousand times and more), the rest is the message text.
  const char* names[] = {"Bandeja", "..", ".", "", "a/b", "../x"};
  const std::string folderName = size ? names[data[0] % 6] : "Bandeja";
  const uint32_t listings = size && data[0] >= 0xF6 ? 1 + (data[0] - 0xF5) * 1024u : 1;
  const std::string text(reinterpret_cast<const char*>(data) + (size ? 1 : 0), size ? size - 1 : 0);

  std::string folderData = folderName + '\0' + "f.dbx" + '\0';
  writeFile(root + "/store/folders.dbx",
            dbxFile("", {0x02, static_cast<uint32_t>(folderName.size() + 1) << 8 | 0x03, 0},
                    folderData, false));
  const std::string subject = "asunto";
  std::string messageData = subject + '\0' + "a@b" + '\0';
  const std::string folderFile = dbxFile(
      text, {0x81 | (0x4000u << 8), 0x08, static_cast<uint32_t>(subject.size() + 1) << 8 | 0x0E, 0},
      messageData, true, listings);
  writeFile(root + "/store/f.dbx", folderFile);

  NullSink sink;
  ExtraerMensajes(root + "/store", root + "/dest/", sink);
  // Nothing is written beside the destination, nor into the store.
  onlyThese(root, {"store", "dest"});
  onlyThese(root + "/store", {"folders.dbx", "f.dbx"});
  // Reading stops at four times the folder file, and every file written took at least 29
  // bytes of it (an attachment header, or a message's text blocks), whatever the index
  // repeats; the tree holds under three times what was read (a message file whose lone line
  // ends became CR LF, and the attachments decoded from it).
  const uint64_t reads = 4 * folderFile.size() + 65536;
  if (sink.lines > 2 * reads / 29) __builtin_trap();
  if (removeTree(root + "/dest") > 3 * reads) __builtin_trap();
  return 0;
}
