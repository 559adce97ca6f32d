#include "mail/ExtraerMensajes.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "mail/ExportSink.h"
#include "mail/FiltrarNombre.h"
#include "platform/Errors.h"
#include "support/ScopedTimeZone.h"
#include "support/StoreBuilder.h"
#include "support/TempTree.h"
#include "support/Unprivileged.h"

namespace {

class RecordingSink : public ExportSink {
 public:
  bool goOn() const override { return stopAtReviewed < 0 || reviewed < stopAtReviewed; }
  void logLine(const std::string& line) override { log.push_back(line); }
  void messageReviewed() override { ++reviewed; }
  void attachmentWritten() override { ++written; }
  void failed(const std::string& path, const std::exception& error) override {
    failures.push_back(errorLogLine(path, error));
  }

  int stopAtReviewed = -1;
  int reviewed = 0;
  int written = 0;
  std::vector<std::string> log;
  std::vector<std::string> failures;
};

std::string base64(const std::string& data) {
  static const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < data.size(); i += 3) {
    uint32_t n = static_cast<uint8_t>(data[i]) << 16;
    if (i + 1 < data.size()) n |= static_cast<uint8_t>(data[i + 1]) << 8;
    if (i + 2 < data.size()) n |= static_cast<uint8_t>(data[i + 2]);
    out += alphabet[n >> 18 & 63];
    out += alphabet[n >> 12 & 63];
    out += i + 1 < data.size() ? alphabet[n >> 6 & 63] : '=';
    out += i + 2 < data.size() ? alphabet[n & 63] : '=';
  }
  std::string lines;
  for (size_t i = 0; i < out.size(); i += 76) lines += out.substr(i, 76) + "\r\n";
  return lines;
}

struct Attachment {
  std::string name;  // as written after filename=, quotes included
  std::string content;
};

// A multipart message; each encoded body is followed by a blank line unless tight is set,
// in which case the boundary follows the last encoded line directly.
std::string mimeText(const std::vector<Attachment>& attachments, bool tight = false) {
  std::string text =
      "From: Ana <ana@example.com>\r\nSubject: Informe\r\nMIME-Version: 1.0\r\n"
      "Content-Type: multipart/mixed; boundary=\"B\"\r\n\r\n--B\r\n"
      "Content-Type: text/plain\r\n\r\nVer adjuntos.\r\n\r\n";
  for (const Attachment& a : attachments) {
    text +=
        "--B\r\nContent-Type: application/octet-stream\r\n"
        "Content-Transfer-Encoding: base64\r\n"
        "Content-Disposition: attachment; filename=" +
        a.name + "\r\n\r\n" + base64(a.content) + (tight ? "" : "\r\n");
  }
  return text + "--B--\r\n";
}

BuiltMessage message(const std::string& subject, const std::string& text, int32_t flags = 0x4000) {
  BuiltMessage m;
  m.flags = flags;
  m.subject = subject;
  m.sender = "ana@example.com";
  m.received = fileTimeOf(2004, 3, 5, 9, 7, 5);
  m.text = text;
  return m;
}

std::string binary(size_t size, int seed) {
  std::string data(size, '\0');
  for (size_t i = 0; i < size; ++i) data[i] = static_cast<char>((i * 31 + seed * 7) % 256);
  return data;
}

class ExtraerMensajesTest : public testing::Test {
 protected:
  void SetUp() override {
    store_ = tree_.mkdir("store");
    dest_ = tree_.mkdir("dest") + "/";
  }

  void run(const std::vector<BuiltFolder>& folders) {
    writeStore(store_, folders);
    ExtraerMensajes(store_, dest_, sink_);
  }

  std::string messagePath(const std::string& folder, const std::string& subject,
                          const std::string& attachmentName) {
    return dest_ + "mensajes/" + folder + "/" +
           FiltrarNombre("ana@example.com#" + subject + "#05/03/2004 9:07:05#" + attachmentName) +
           ".eml";
  }

  std::vector<std::string> outputFiles() { return TempTree::files(tree_.path("dest")); }

  // Exports the store, as nobody when `unprivileged`, and gives what `outcome` makes of it.
  int exportAs(bool unprivileged, const std::function<int(const RecordingSink&)>& outcome) {
    if (!unprivileged) {
      ExtraerMensajes(store_, dest_, sink_);
      return outcome(sink_);
    }
    return runUnprivileged([&] {
      RecordingSink sink;
      ExtraerMensajes(store_, dest_, sink);
      return outcome(sink);
    });
  }

  TempTree tree_;
  std::string store_;
  std::string dest_;
  RecordingSink sink_;
  // Dates in the output are local time.
  ScopedTimeZone zone_{"UTC"};
};

}  // namespace

TEST_F(ExtraerMensajesTest, WritesOnlyMessagesThatCarryAnAttachment) {
  const std::string withAttachment = mimeText({{"\"informe.pdf\"", binary(1000, 1)}});
  const std::string inlinePart =
      "Subject: x\r\nContent-Disposition: inline; filename=\"a\"\r\n\r\n";
  run({{"Bandeja",
        "Inbox.dbx",
        true,
        {message("Flag clear", withAttachment, 0x81), message("Sin cabecera", "Hola\r\n"),
         message("Inline", inlinePart), message("Informe", withAttachment)}}});

  const std::string eml = messagePath("Bandeja", "Informe", "informe.pdf\"");
  const std::string attachment = dest_ + "adjuntos/Bandeja/informe.pdf";
  EXPECT_EQ(outputFiles(),
            (std::vector<std::string>{"adjuntos/Bandeja/informe.pdf",
                                      "mensajes/Bandeja/" + eml.substr(eml.rfind('/') + 1)}));
  EXPECT_EQ(TempTree::read(eml), withAttachment + "\r\n");
  EXPECT_EQ(TempTree::read(attachment), binary(1000, 1));
  // The logged path keeps the blank that the stored name drops.
  EXPECT_EQ(sink_.log, (std::vector<std::string>{eml, attachment + " "}));
  EXPECT_EQ(sink_.reviewed, 4);
  EXPECT_EQ(sink_.written, 1);
  EXPECT_TRUE(sink_.failures.empty());
}

TEST_F(ExtraerMensajesTest, ThreeAttachmentsAndABoundaryRightAfterTheBody) {
  for (bool tight : {false, true}) {
    SCOPED_TRACE(tight);
    RecordingSink sink;
    const std::string text = mimeText(
        {{"\"uno.bin\"", binary(5000, 1)}, {"\"dos.txt\"", "dos"}, {"\"tres.bin\"", binary(77, 3)}},
        tight);
    writeStore(store_, {{"Bandeja", "Inbox.dbx", true, {message("Tres", text)}}});
    ExtraerMensajes(store_, dest_, sink);
    const std::string folder = dest_ + "adjuntos/Bandeja/";
    EXPECT_EQ(TempTree::read(folder + "uno.bin"), binary(5000, 1));
    EXPECT_EQ(TempTree::read(folder + "dos.txt"), "dos");
    EXPECT_EQ(TempTree::read(folder + "tres.bin"), binary(77, 3));
    const std::string eml = messagePath("Bandeja", "Tres", "uno.bin\"");
    EXPECT_EQ(sink.log, (std::vector<std::string>{eml, folder + "uno.bin ", folder + "dos.txt ",
                                                  folder + "tres.bin "}));
    EXPECT_EQ(sink.written, 3);
    EXPECT_EQ(outputFiles().size(), 4u);
  }
}

TEST_F(ExtraerMensajesTest, SameNamesOverwriteEarlierFiles) {
  const std::string first = mimeText({{"\"a.txt\"", "primero"}});
  const std::string second = mimeText({{"\"a.txt\"", "segundo"}}) + "posdata\r\n";
  tree_.write("dest/adjuntos/Bandeja/a.txt", "de una copia anterior");
  const mode_t mask = ::umask(027);
  run({{"Bandeja", "Inbox.dbx", true, {message("Igual", first), message("Igual", second)}}});
  ::umask(mask);
  struct stat st {};
  ASSERT_EQ(::stat((dest_ + "adjuntos/Bandeja/a.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);  // like any new file: 0666 less the umask
  EXPECT_EQ(TempTree::read(dest_ + "adjuntos/Bandeja/a.txt"), "segundo");
  EXPECT_EQ(TempTree::read(messagePath("Bandeja", "Igual", "a.txt\"")), second + "\r\n");
  EXPECT_EQ(sink_.written, 2);
  EXPECT_EQ(outputFiles().size(), 2u);
}

TEST_F(ExtraerMensajesTest, StopEndsAfterTheMessageInHand) {
  const std::string two = mimeText({{"\"a\"", "1"}, {"\"b\"", "2"}});
  sink_.stopAtReviewed = 2;
  run({{"Uno", "uno.dbx", true, {message("m1", two), message("m2", two), message("m3", two)}},
       {"Dos", "dos.dbx", true, {message("m4", two)}}});
  EXPECT_EQ(sink_.reviewed, 2);
  EXPECT_EQ(sink_.written, 4);
  EXPECT_EQ(TempTree::list(dest_ + "mensajes"), (std::vector<std::string>{"Uno"}));
  EXPECT_EQ(TempTree::list(dest_ + "mensajes/Uno").size(), 2u);
}

TEST_F(ExtraerMensajesTest, FolderWithoutAttachmentsGetsNoSubfolders) {
  run({{"Vacia", "vacia.dbx", true, {message("a", "Hola\r\n"), message("b", "x", 0)}},
       {"Llena", "llena.dbx", true, {message("c", mimeText({{"\"c\"", "c"}}))}}});
  EXPECT_EQ(TempTree::list(dest_ + "mensajes"), (std::vector<std::string>{"Llena"}));
  EXPECT_EQ(TempTree::list(dest_ + "adjuntos"), (std::vector<std::string>{"Llena"}));
  EXPECT_EQ(sink_.reviewed, 3);
}

TEST_F(ExtraerMensajesTest, NamesFromTheStoreNeverLeadOutside) {
  tree_.write("outside.dbx", "");
  tree_.write("store/real.dbx", "");
  const std::string text =
      mimeText({{"\"..\"", "a"}, {"\".\"", "b"}, {"\"../../x\"", "d"}, {"\" \"", "e"}});
  run({{"../../evil", "a.dbx", true, {message("m", text)}},
       {"..", "b.dbx", true, {message("m", text)}},
       {"", "c.dbx", true, {message("m", text)}},
       {"Fuera", "../outside.dbx", true, {}},
       {"Barra", "/etc/passwd", true, {}}});
  for (const std::string& file : TempTree::files(tree_.root())) {
    EXPECT_TRUE(file.rfind("dest/", 0) == 0 || file.rfind("store/", 0) == 0 ||
                file == "outside.dbx")
        << file;
  }
  const auto folders = TempTree::list(dest_ + "adjuntos");
  EXPECT_EQ(folders, (std::vector<std::string>{".._.._evil", "_", "__"}));
  // ".." and "." become underscores, a bare blank "_", slashes "_".
  EXPECT_EQ(TempTree::list(dest_ + "adjuntos/__"),
            (std::vector<std::string>{".._.._x", "_", "__"}));
  EXPECT_EQ(sink_.reviewed, 3);
  EXPECT_EQ(sink_.written, 12);
  // File names leading out of the store folder are not read, and say so.
  ASSERT_EQ(sink_.failures.size(), 2u);
  EXPECT_EQ(sink_.failures[0].rfind("ERROR - " + store_ + "/../outside.dbx: ", 0), 0u);
  EXPECT_EQ(sink_.failures[1].rfind("ERROR - " + store_ + "//etc/passwd: ", 0), 0u);
}

TEST_F(ExtraerMensajesTest, MessageWithoutTextDoesNotReuseThePreviousOne) {
  BuiltMessage noText = message("Sin texto", "");
  noText.withoutText = true;
  run({{"Bandeja",
        "Inbox.dbx",
        true,
        {message("Con adjunto", mimeText({{"\"a.txt\"", "a"}})), noText}}});
  EXPECT_EQ(sink_.reviewed, 2);
  EXPECT_EQ(sink_.written, 1);
  EXPECT_EQ(outputFiles().size(), 2u);
}

TEST_F(ExtraerMensajesTest, EveryMessageFileGetsOneMoreLineEnd) {
  // The CR LF that reading adds after the text ends a last body line with a blank line.
  const std::string head =
      "Subject: x\r\nContent-Disposition: attachment; filename=\"vacio.bin\"\r\n\r\n";
  run({{"Bandeja",
        "Inbox.dbx",
        true,
        {message("sin fin", head + "QUJD"), message("con fin", head + "QUJD\r\n")}}});
  const std::string folder = dest_ + "mensajes/Bandeja/";
  EXPECT_EQ(TempTree::read(folder +
                           FiltrarNombre("ana@example.com#sin fin#05/03/2004 9:07:05#"
                                         "vacio.bin\"") +
                           ".eml"),
            head + "QUJD\r\n");
  EXPECT_EQ(TempTree::read(folder +
                           FiltrarNombre("ana@example.com#con fin#05/03/2004 9:07:05#"
                                         "vacio.bin\"") +
                           ".eml"),
            head + "QUJD\r\n\r\n");
  // The later message wrote the file last.
  EXPECT_EQ(TempTree::read(dest_ + "adjuntos/Bandeja/vacio.bin"), "ABC");
  EXPECT_EQ(sink_.written, 2);
  EXPECT_EQ(sink_.log.size(), 4u);
}

TEST_F(ExtraerMensajesTest, LastBodyLineWithoutBlankLineDecodesNothing) {
  const std::string text =
      "Subject: x\r\nContent-Disposition: attachment; filename=\"vacio.bin\"\r\n\r\nQUJD";
  run({{"Bandeja", "Inbox.dbx", true, {message("x", text)}}});
  EXPECT_EQ(TempTree::read(dest_ + "adjuntos/Bandeja/vacio.bin"), "");
  EXPECT_EQ(sink_.written, 1);
}

TEST_F(ExtraerMensajesTest, NoScratchFileInTheCurrentFolder) {
  const std::string cwd = tree_.mkdir("cwd");
  tree_.write("cwd/temp.tmp", "un archivo del usuario");
  char saved[4096];
  ASSERT_NE(::getcwd(saved, sizeof saved), nullptr);
  ASSERT_EQ(::chdir(cwd.c_str()), 0);
  run({{"Bandeja", "Inbox.dbx", true, {message("x", mimeText({{"\"a\"", "abc"}}))}}});
  ASSERT_EQ(::chdir(saved), 0);
  EXPECT_EQ(TempTree::files(cwd), (std::vector<std::string>{"temp.tmp"}));
  EXPECT_EQ(TempTree::read(cwd + "/temp.tmp"), "un archivo del usuario");
  EXPECT_EQ(sink_.written, 1);
}

TEST_F(ExtraerMensajesTest, AFullDiskFailsOnlyTheMessageThatDoesNotFit) {
  if (::mount("tmpfs", dest_.c_str(), "tmpfs", 0, "size=1m") != 0)
    GTEST_SKIP() << "cannot mount a tmpfs here";
  struct Unmount {
    std::string folder;
    ~Unmount() { ::umount2(folder.c_str(), MNT_DETACH); }
  } unmount{dest_};
  run({{"Bandeja",
        "Inbox.dbx",
        true,
        {message("uno", mimeText({{"\"a.bin\"", binary(100000, 1)}})),
         message("grande", mimeText({{"\"b.bin\"", binary(2000000, 2)}})),
         message("tres", mimeText({{"\"c.bin\"", binary(100000, 3)}}))}}});
  ASSERT_EQ(sink_.failures.size(), 1u);
  EXPECT_NE(sink_.failures[0].find(systemReason(ENOSPC)), std::string::npos) << sink_.failures[0];
  EXPECT_EQ(sink_.reviewed, 2);
  EXPECT_EQ(sink_.written, 2);
  EXPECT_EQ(TempTree::read(dest_ + "adjuntos/Bandeja/c.bin"), binary(100000, 3));
  EXPECT_EQ(TempTree::list(dest_ + "adjuntos/Bandeja"),
            (std::vector<std::string>{"a.bin", "c.bin"}));
  EXPECT_EQ(TempTree::list(dest_ + "mensajes/Bandeja").size(), 2u);
}

TEST_F(ExtraerMensajesTest, NoDestinationWritesNowhere) {
  const std::string cwd = tree_.mkdir("cwd");
  char saved[4096];
  ASSERT_NE(::getcwd(saved, sizeof saved), nullptr);
  ASSERT_EQ(::chdir(cwd.c_str()), 0);
  writeStore(store_, {{"Bandeja", "Inbox.dbx", true, {message("x", mimeText({{"\"a\"", "a"}}))}}});
  ExtraerMensajes(store_, "", sink_);
  ASSERT_EQ(::chdir(saved), 0);
  EXPECT_TRUE(TempTree::list(cwd).empty());
  EXPECT_EQ(sink_.failures.size(), 1u);
  EXPECT_EQ(sink_.written, 0);
}

TEST_F(ExtraerMensajesTest, AFailedWriteIsReportedAndSkipsTheMessage) {
  // A folder in the way of the second attachment: its file cannot be put in place.
  tree_.write("dest/adjuntos/Bandeja/b.bin/keep", "x");
  const std::string text = mimeText({{"\"a.bin\"", "a"}, {"\"b.bin\"", "b"}, {"\"c.bin\"", "c"}});
  run({{"Bandeja",
        "Inbox.dbx",
        true,
        {message("uno", text), message("dos", mimeText({{"\"d.bin\"", "d"}}))}}});
  ASSERT_EQ(sink_.failures.size(), 1u);
  EXPECT_EQ(sink_.failures[0].rfind("ERROR - " + dest_ + "adjuntos/Bandeja/b.bin: ", 0), 0u)
      << sink_.failures[0];
  EXPECT_EQ(sink_.reviewed, 1);  // the failed message is not counted
  EXPECT_EQ(sink_.written, 2);   // a.bin and d.bin
  EXPECT_TRUE(TempTree::exists(dest_ + "adjuntos/Bandeja/a.bin"));
  EXPECT_FALSE(TempTree::exists(dest_ + "adjuntos/Bandeja/c.bin"));
  for (const std::string& file : outputFiles()) {
    EXPECT_EQ(file.find(".rgtmp"), std::string::npos) << file;
  }
}

TEST_F(ExtraerMensajesTest, MissingStoreRaisesAndUnreadableFoldersAreSkipped) {
  try {
    ExtraerMensajes(store_, dest_, sink_);
    ADD_FAILURE();
  } catch (const ResguardaError& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot open file " + store_ + "/folders.dbx");
  }
  writeStore(store_, {{"Perdida", "perdida.dbx", true, {}},
                      {"Bandeja", "Inbox.dbx", true, {message("x", mimeText({{"\"a\"", "a"}}))}}});
  std::filesystem::remove(store_ + "/perdida.dbx");
  std::filesystem::rename(store_ + "/folders.dbx", store_ + "/Folders.dbx");
  ExtraerMensajes(store_, dest_, sink_);
  EXPECT_EQ(sink_.written, 1);
}

TEST_F(ExtraerMensajesTest, ABlankOrTabBeforeTheQuoteKeepsAttachmentsApart) {
  const std::string text = mimeText({{" \"uno.pdf\"", "uno"}, {"\t\"dos.pdf\"", "dos"}});
  run({{"Bandeja", "Inbox.dbx", true, {message("Dos", text)}}});
  const std::string folder = dest_ + "adjuntos/Bandeja/";
  EXPECT_EQ(TempTree::list(folder), (std::vector<std::string>{" dos.pdf", " uno.pdf"}));
  EXPECT_EQ(TempTree::read(folder + " uno.pdf"), "uno");
  EXPECT_EQ(TempTree::read(folder + " dos.pdf"), "dos");
  const std::string eml = messagePath("Bandeja", "Dos", " uno.pdf\"");
  EXPECT_EQ(eml.substr(eml.size() - 14), "# uno.pdf .eml");
  EXPECT_EQ(sink_.log, (std::vector<std::string>{eml, folder + " uno.pdf ", folder + " dos.pdf "}));
  EXPECT_EQ(sink_.written, 2);
}

// A message or attachment file that may not be written is kept: the message fails (not
// counted, an "ERROR - " line) and the next one follows. Root keeps a file without any
// write bit; an ordinary user one it has no permission to write.
struct ReadOnlyCase {
  bool attachment;    // the attachment is read-only, else the message file
  bool unprivileged;  // run as nobody, the file being root's and 0644
};

class ReadOnlyOutputs : public ExtraerMensajesTest,
                        public testing::WithParamInterface<ReadOnlyCase> {};

TEST_P(ReadOnlyOutputs, AreKeptAndTheMessageFails) {
  const ReadOnlyCase& c = GetParam();
  writeStore(store_, {{"Bandeja",
                       "Inbox.dbx",
                       true,
                       {message("uno", mimeText({{"\"a.bin\"", "nuevo"}})),
                        message("dos", mimeText({{"\"b.bin\"", "b"}}))}}});
  const std::string kept =
      c.attachment ? dest_ + "adjuntos/Bandeja/a.bin" : messagePath("Bandeja", "uno", "a.bin\"");
  tree_.mkdir("dest/mensajes/Bandeja");
  tree_.mkdir("dest/adjuntos/Bandeja");
  tree_.write(kept.substr(tree_.root().size() + 1), "de antes");
  ASSERT_EQ(::chmod(kept.c_str(), c.unprivileged ? 0644 : 0444), 0);
  const std::string expectedFailure = "ERROR - " + kept + ": " + systemReason(EACCES);

  auto check = [&](const RecordingSink& sink) {
    return (sink.failures == std::vector<std::string>{expectedFailure} ? 1 : 0) |
           (sink.reviewed == 1 ? 2 : 0) | (sink.written == 1 ? 4 : 0);
  };
  if (c.unprivileged) {
    ::chmod(tree_.root().c_str(), 0755);
    for (const char* folder : {"dest", "dest/mensajes", "dest/mensajes/Bandeja", "dest/adjuntos",
                               "dest/adjuntos/Bandeja"}) {
      ::chmod(tree_.path(folder).c_str(), 0777);
    }
  }
  EXPECT_EQ(exportAs(c.unprivileged, check), 7);
  EXPECT_EQ(TempTree::read(kept), "de antes");
  EXPECT_EQ(TempTree::read(dest_ + "adjuntos/Bandeja/b.bin"), "b");
  for (const std::string& file : outputFiles()) {
    EXPECT_EQ(file.find("/.resguarda-"), std::string::npos) << file;
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, ReadOnlyOutputs,
                         testing::Values(ReadOnlyCase{false, false}, ReadOnlyCase{true, false},
                                         ReadOnlyCase{false, true}, ReadOnlyCase{true, true}),
                         [](const testing::TestParamInfo<ReadOnlyCase>& param) {
                           return std::string(param.param.attachment ? "Attachment" : "Message") +
                                  (param.param.unprivileged ? "AsNobody" : "AsRoot");
                         });

TEST_F(ExtraerMensajesTest, AFolderFileLinkedOutOfTheStoreIsNotRead) {
  writeStore(tree_.path("otro"),
             {{"Fuera", "fuera.dbx", true, {message("fuera", mimeText({{"\"secreto\"", "x"}}))}}});
  writeStore(store_, {{"Enlazada", "enlace.dbx", true, {}},
                      {"Bandeja", "Inbox.dbx", true, {message("m", mimeText({{"\"a\"", "a"}}))}}});
  std::filesystem::remove(store_ + "/enlace.dbx");
  ASSERT_EQ(::symlink("../otro/fuera.dbx", (store_ + "/enlace.dbx").c_str()), 0);
  ExtraerMensajes(store_, dest_, sink_);
  EXPECT_EQ(TempTree::list(dest_ + "adjuntos"), std::vector<std::string>{"Bandeja"});
  ASSERT_EQ(sink_.failures.size(), 1u);
  EXPECT_EQ(sink_.failures[0].rfind("ERROR - " + store_ + "/enlace.dbx: ", 0), 0u)
      << sink_.failures[0];
  EXPECT_EQ(sink_.written, 1);
}

// A store file that exists but could not be read in full gets exactly one "ERROR - " line
// naming it (though two folder records name it), and what can still be found is exported.
// An empty folder, or a folder file that does not exist, is no failure.
enum class Damage {
  Empty,
  Absent,
  NoPermission,
  Folder,
  Fifo,
  NameLeadsOut,
  ZeroedTree,
  CutTree,
  CutHeader,
  BrokenTexts,
  FolderList
};

class UnreadableStoreFile : public ExtraerMensajesTest,
                            public testing::WithParamInterface<Damage> {};

TEST_P(UnreadableStoreFile, GetsOneErrorLine) {
  const Damage d = GetParam();
  const std::string name = d == Damage::NameLeadsOut ? "../d.dbx" : "d.dbx";
  const std::string file = store_ + "/" + name;
  const std::string text = mimeText({{"\"d.bin\"", binary(2000, 4)}});  // several blocks
  std::vector<BuiltMessage> messages{message("d1", text), message("d2", text)};
  if (d == Damage::Empty) messages.clear();
  writeStore(store_, {{"Bandeja", "b.dbx", true, {message("b", mimeText({{"\"b\"", "b"}}))}}});
  DbxWriter folders(store_ + "/folders.dbx");
  for (const char* folder : {"Bandeja", "Dañada", "Otra vez"})
    folders.addFolder({folder, folder[0] == 'B' ? "b.dbx" : name, true, {}}, 1);
  const DbxLayout list = folders.finish();
  DbxWriter writer(file);
  for (const BuiltMessage& m : messages) writer.addMessage(m);
  const DbxLayout layout = writer.finish();
  auto overwrite = [](const std::string& path, uint64_t at, size_t count, char byte) {
    std::fstream(path, std::ios::in | std::ios::out | std::ios::binary)
        .seekp(static_cast<std::streamoff>(at))
        .write(std::string(count, byte).data(), static_cast<std::streamsize>(count));
  };
  if (d == Damage::Absent || d == Damage::Folder || d == Damage::Fifo)
    std::filesystem::remove(file);
  if (d == Damage::Folder) std::filesystem::create_directory(file);
  if (d == Damage::Fifo) ::mkfifo(file.c_str(), 0644);
  if (d == Damage::CutTree) std::filesystem::resize_file(file, layout.root + 30);
  if (d == Damage::CutHeader) std::filesystem::resize_file(file, 150);
  if (d == Damage::ZeroedTree) overwrite(file, layout.root, 48, 0);
  for (uint32_t t : d == Damage::BrokenTexts ? layout.texts : std::vector<uint32_t>{})
    overwrite(file, t + 528, 4, 1);  // the second block of each text fails its self-check
  if (d == Damage::FolderList) overwrite(store_ + "/folders.dbx", list.records[2], 4, 1);
  const std::string failing = d == Damage::FolderList ? store_ + "/folders.dbx" : file;
  const bool fails = d != Damage::Empty && d != Damage::Absent;

  auto outcome = [&](const RecordingSink& sink) {
    const bool named = fails ? sink.failures.size() == 1 &&
                                   sink.failures[0].rfind("ERROR - " + failing + ": ", 0) == 0
                             : sink.failures.empty();
    return (named ? 1 : 0) | (TempTree::exists(dest_ + "adjuntos/Bandeja/b") ? 2 : 0);
  };
  if (d == Damage::NoPermission) {
    ::chmod(file.c_str(), 0600);
    makeReadOnlyForOthers(tree_.root(), store_);
    ::chmod(dest_.c_str(), 0777);
  }
  EXPECT_EQ(exportAs(d == Damage::NoPermission, outcome), 3)
      << testing::PrintToString(sink_.failures);
}

INSTANTIATE_TEST_SUITE_P(Kinds, UnreadableStoreFile,
                         testing::Values(Damage::Empty, Damage::Absent, Damage::NoPermission,
                                         Damage::Folder, Damage::Fifo, Damage::NameLeadsOut,
                                         Damage::ZeroedTree, Damage::CutTree, Damage::CutHeader,
                                         Damage::BrokenTexts, Damage::FolderList));

// Something planted where an output folder belongs: nothing is written through it (nor
// beside it), the folders it stands for fail with an "ERROR - " line, and others go on.
struct PlantedCase {
  const char* place;  // below the destination
  bool link;          // a link to a folder outside, else a file
  int failedFolders;  // of the two
};

class PlantedInDestination : public ExtraerMensajesTest,
                             public testing::WithParamInterface<PlantedCase> {};

TEST_P(PlantedInDestination, IsNeverFollowed) {
  const PlantedCase& c = GetParam();
  const std::string outside = tree_.mkdir("fuera");
  tree_.write("fuera/keep", "intacto");
  const std::string place = dest_ + c.place;
  std::filesystem::create_directories(std::filesystem::path(place).parent_path());
  if (c.link) {
    ASSERT_EQ(::symlink(outside.c_str(), place.c_str()), 0);
  } else {
    tree_.write(place.substr(tree_.root().size() + 1), "x");
  }
  run({{"Bandeja",
        "b.dbx",
        true,
        {message("m1", mimeText({{"\"a\"", "a"}})), message("m2", mimeText({{"\"b\"", "b"}}))}},
       {"Otra", "o.dbx", true, {message("m3", mimeText({{"\"c\"", "c"}}))}}});
  EXPECT_EQ(TempTree::list(outside), std::vector<std::string>{"keep"});
  EXPECT_EQ(TempTree::read(outside + "/keep"), "intacto");
  ASSERT_EQ(sink_.failures.size(), static_cast<size_t>(c.failedFolders));
  for (const std::string& failure : sink_.failures) {
    EXPECT_EQ(failure.rfind("ERROR - " + place + "/: ", 0), 0u) << failure;
  }
  // The Bandeja messages are not counted; Otra goes on unless it fails too.
  EXPECT_EQ(sink_.reviewed, 2 - c.failedFolders);
  EXPECT_EQ(sink_.written, 2 - c.failedFolders);
  EXPECT_EQ(TempTree::exists(dest_ + "adjuntos/Otra/c"), c.failedFolders == 1);
  struct stat st {};
  ASSERT_EQ(::lstat(place.c_str(), &st), 0);
  EXPECT_EQ(S_ISLNK(st.st_mode), c.link);
}

INSTANTIATE_TEST_SUITE_P(
    Places, PlantedInDestination,
    testing::Values(PlantedCase{"mensajes", true, 2}, PlantedCase{"adjuntos", true, 2},
                    PlantedCase{"mensajes/Bandeja", true, 1},
                    PlantedCase{"adjuntos/Bandeja", true, 1},
                    PlantedCase{"mensajes/Bandeja", false, 1}, PlantedCase{"adjuntos", false, 2}),
    [](const testing::TestParamInfo<PlantedCase>& param) { return std::to_string(param.index); });

TEST_F(ExtraerMensajesTest, ALinkInAnOutputFilesPlaceIsReplacedNotFollowed) {
  const std::string victim = tree_.write("fuera/victima", "intacto");
  const std::string attachment = dest_ + "adjuntos/Bandeja/a.bin";
  const std::string eml = messagePath("Bandeja", "m", "a.bin\"");
  tree_.mkdir("dest/adjuntos/Bandeja");
  tree_.mkdir("dest/mensajes/Bandeja");
  ASSERT_EQ(::symlink(victim.c_str(), attachment.c_str()), 0);
  ASSERT_EQ(::symlink(victim.c_str(), eml.c_str()), 0);
  run({{"Bandeja", "b.dbx", true, {message("m", mimeText({{"\"a.bin\"", "nuevo"}}))}}});
  EXPECT_EQ(TempTree::read(victim), "intacto");
  EXPECT_EQ(TempTree::read(attachment), "nuevo");
  struct stat st {};
  ASSERT_EQ(::lstat(attachment.c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  ASSERT_EQ(::lstat(eml.c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_TRUE(sink_.failures.empty());
}

// A damaged store that names one message (or one text, or one folder file) thousands of
// times: reading stops at a few times the folder file's size with an "ERROR - " line for
// it, instead of writing the same files for hours; the next folder goes on.
enum class Repeated { Record, Text, FolderFile };

class RepeatedInStore : public ExtraerMensajesTest, public testing::WithParamInterface<Repeated> {};

TEST_P(RepeatedInStore, StopsReadingAtAFewTimesTheFileSize) {
  constexpr size_t kTimes = 3000;
  const std::string text = mimeText({{"\"a.bin\"", binary(20000, 1)}});
  {
    DbxWriter file(store_ + "/b.dbx");
    if (GetParam() == Repeated::Text) {
      const uint32_t chain = file.addText(text);
      for (size_t i = 0; i < kTimes; ++i) {
        BuiltMessage m = message("m" + std::to_string(i), "");
        m.textAt = chain;
        file.addMessage(m);
      }
    } else {
      file.addMessage(message("m", text));
      if (GetParam() == Repeated::Record) file.listAgain(0, kTimes);
    }
    file.finish(64);
  }
  {
    DbxWriter file(store_ + "/o.dbx");
    file.addMessage(message("otra", mimeText({{"\"c\"", "c"}})));
    file.finish();
  }
  {
    DbxWriter folders(store_ + "/folders.dbx");
    const size_t listings = GetParam() == Repeated::FolderFile ? kTimes : 1;
    for (size_t i = 0; i < listings; ++i) {
      folders.addFolder({"Bandeja", "b.dbx", true, {}}, static_cast<int32_t>(i + 1));
    }
    folders.addFolder({"Otra", "o.dbx", true, {}}, 0);
    folders.finish(64);
  }
  ExtraerMensajes(store_, dest_, sink_);
  // Each message written read its whole text; at most four times the file is read.
  struct stat st {};
  ASSERT_EQ(::stat((store_ + "/b.dbx").c_str(), &st), 0);
  EXPECT_GE(sink_.written, 2);
  EXPECT_LE(static_cast<uint64_t>(sink_.written - 1) * text.size(),
            4 * static_cast<uint64_t>(st.st_size) + 65536);
  ASSERT_EQ(sink_.failures.size(), 1u);
  EXPECT_EQ(sink_.failures[0].rfind("ERROR - " + store_ + "/b.dbx: ", 0), 0u) << sink_.failures[0];
  EXPECT_TRUE(TempTree::exists(dest_ + "adjuntos/Otra/c"));
}

std::string repeatedName(const testing::TestParamInfo<Repeated>& param) {
  static const char* const names[] = {"Record", "Text", "FolderFile"};
  return names[static_cast<int>(param.param)];
}

INSTANTIATE_TEST_SUITE_P(Kinds, RepeatedInStore,
                         testing::Values(Repeated::Record, Repeated::Text, Repeated::FolderFile),
                         repeatedName);

TEST(ExtraerMensajesNames, AttachmentNameRule) {
  const std::pair<std::string, std::string> cases[] = {
      {"content-disposition: attachment; filename=\"report.pdf\"\r\n", "report.pdf\""},
      {"Content-Disposition: attachment;\r\n\tFileName=\"A B.txt\"\r\n", "A B.txt\""},
      {"content-disposition: attachment; filename=\"\"x\"\r\n", " x\""},
      {"content-disposition: attachment; filename=\"sin fin\r\nmas\r\n", "sin fin\r"},
      {"content-disposition: attachment; filename=\"nada", ""},
      // Unquoted: the token, its end standing in for the closing quote.
      {"content-disposition: attachment; filename=plano.txt; size=3\r\n", "plano.txt\r"},
      {"content-disposition: attachment; filename=plano.txt\r\n\"x\"", "plano.txt\r"},
      // No "name=": taken as if it stood at the start.
      {"content-disposition: attachment\r\n\r\n\"", "nt-disposition: attachment\r\n\r\n\""},
      // A blank or a tab before the quote is the character skipped; the quote becomes a blank.
      {"content-disposition: attachment; filename= \"uno.pdf\"\r\n", " uno.pdf\""},
      {"content-disposition: attachment; filename=\t\"uno.pdf\"\r\n", " uno.pdf\""},
      // Without a quote after it, the name runs to the next quote, as the rule says.
      {"content-disposition: attachment; filename= uno.pdf\r\nx=\"y\"", "uno.pdf\r\nx=\""},
      {"content-disposition: attachment; filename= uno.pdf\r\n", "uno.pdf\r"},
  };
  for (const auto& [text, name] : cases) {
    EXPECT_EQ(mail_export::attachmentName(text, 0), name) << text;
  }
}

TEST(ExtraerMensajesNames, SearchIgnoresCase) {
  using mail_export::findIgnoringCase;
  const std::string header = "content-disposition: attachment";
  EXPECT_EQ(findIgnoringCase("xx CONTENT-Disposition: Attachment", 0, header), 3u);
  EXPECT_EQ(findIgnoringCase("content-disposition:  attachment", 0, header), std::string::npos);
  EXPECT_EQ(findIgnoringCase("content-disposition: attachmen", 0, header), std::string::npos);
  EXPECT_EQ(findIgnoringCase("a-content-disposition: attachment", 2, header), 2u);
  EXPECT_EQ(findIgnoringCase("content-disposition: attachment", 1, header), std::string::npos);
  EXPECT_EQ(findIgnoringCase("x", 5, header), std::string::npos);
  EXPECT_EQ(findIgnoringCase("FileName=a Name=b", 1, "name="), 4u);
  EXPECT_EQ(findIgnoringCase("FileName=a Name=b", 5, "name="), 11u);
  EXPECT_EQ(findIgnoringCase("xxAbC", 0, "abc"), 2u);
}

TEST(ExtraerMensajesNames, FolderComponentAndDateText) {
  EXPECT_EQ(mail_export::folderComponent("Bandeja de entrada"), "Bandeja de entrada");
  EXPECT_EQ(mail_export::folderComponent("a/b"), "a_b");
  EXPECT_EQ(mail_export::folderComponent(".."), "__");
  EXPECT_EQ(mail_export::folderComponent("."), "_");
  EXPECT_EQ(mail_export::folderComponent(""), "_");
  EXPECT_EQ(mail_export::folderComponent("..x"), "..x");

  ScopedTimeZone zone("UTC");
  EXPECT_EQ(mail_export::dateText(fileTimeOf(2004, 3, 5, 9, 7, 5)), "05/03/2004 9:07:05");
  EXPECT_EQ(mail_export::dateText(fileTimeOf(1999, 12, 31, 0, 0, 0)), "31/12/1999");
  EXPECT_EQ(mail_export::dateText(fileTimeOf(2001, 1, 2, 0, 0, 1)), "02/01/2001 0:00:01");
  EXPECT_EQ(mail_export::dateText(Toe5_FileTime{}), "");
}
