#include <filesystem>

#include "UnattendedFixture.h"
#include "support/StoreBuilder.h"

namespace {

std::string attachmentPart(const std::string& name, const std::string& base64) {
  return "--B\r\nContent-Type: application/octet-stream; name=\"" + name +
         "\"\r\nContent-Transfer-Encoding: base64\r\nContent-Disposition: attachment; "
         "filename=\"" +
         name + "\"\r\n\r\n" + base64 + "\r\n\r\n";
}

std::string messageText(const std::string& attachments) {
  return "From: Ana <ana@example.com>\r\nSubject: Fotos\r\nMIME-Version: 1.0\r\n"
         "Content-Type: multipart/mixed; boundary=\"B\"\r\n\r\n--B\r\nContent-Type: text/plain"
         "\r\n\r\nHola\r\n\r\n" +
         attachments + "--B--\r\n";
}

class UnattendedMail : public UnattendedProgram {
 protected:
  // A Wine prefix whose registry puts the store at C:\Correo\Outlook Express\.
  std::vector<std::pair<std::string, std::string>> winePrefix() {
    const std::string prefix = tree.mkdir("wine");
    tree.mkdir("wine/drive_c/Correo/Outlook Express");
    tree.write("wine/user.reg",
               "WINE REGISTRY Version 2\n;; All keys relative to \\\\User\\\\S-1-5-21\n\n"
               "[Software\\\\Microsoft\\\\Outlook Express] 1600000000\n#time=1d5\n"
               "\"Store Root\"=str(2):\"C:\\\\Correo\\\\Outlook Express\\\\\"\n");
    return {{"WINEPREFIX", prefix}, {"HOME", tree.mkdir("home")}};
  }
  std::string storeFolder() { return tree.path("wine/drive_c/Correo/Outlook Express"); }
};

}  // namespace

TEST_F(UnattendedMail, ExtractsMessagesWithAttachmentsFromTheStoreTheRegistryNames) {
  const auto environment = winePrefix();
  BuiltMessage withTwo;
  withTwo.flags = 0x4000;
  withTwo.subject = "Fotos";
  withTwo.sender = "ana@example.com";
  withTwo.received = fileTimeOf(2005, 3, 14, 0, 0, 0);
  withTwo.text = messageText(attachmentPart("uno.txt", "VW5v") + attachmentPart("dos.bin", "AAEC"));
  BuiltMessage plain;
  plain.subject = "Sin adjuntos";
  plain.text = "Subject: Sin adjuntos\r\n\r\nnada\r\n";
  writeStore(storeFolder(),
             {{"Bandeja de entrada", "Bandeja de entrada.dbx", true, {withTwo, plain}}});
  // Real stores were copied from Windows: the folder list is "Folders.dbx".
  std::filesystem::rename(storeFolder() + "/folders.dbx", storeFolder() + "/Folders.dbx");
  tree.write("docs/a.txt", "a", 1600000000);
  tree.write("app/Resguarda.ini", "[CONFIGURACION]\nDIR_DESTINO=" + tree.path("copias") +
                                      "\n[TAREAS]\n0=1 " + tree.path("docs") +
                                      "\n1=1 Extraer Mensajes E-mail con adjuntos\n");

  const Outcome outcome = run({"-hide"}, environment);
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  // One file copied plus two attachments; one file and two messages examined.
  EXPECT_EQ(outcome.out, "Finalizado. Actualizados: 0 Copiados: 3 Revisados: 3\n");
  EXPECT_EQ(TempTree::files(tree.path("copias")),
            (std::vector<std::string>{
                "adjuntos/Bandeja de entrada/dos.bin", "adjuntos/Bandeja de entrada/uno.txt",
                "docs/a.txt",
                "mensajes/Bandeja de entrada/ana@example.com#Fotos#14_03_2005#uno.txt .eml"}));
  EXPECT_EQ(TempTree::read(tree.path("copias/adjuntos/Bandeja de entrada/uno.txt")), "Uno");
  EXPECT_EQ(TempTree::read(tree.path("copias/adjuntos/Bandeja de entrada/dos.bin")),
            std::string("\x00\x01\x02", 3));
  EXPECT_FALSE(TempTree::exists(tree.path("temp.tmp")));
}

TEST_F(UnattendedMail, AStoreThatCannotBeReadEndsOnlyTheMailTask) {
  const auto environment = winePrefix();  // the store folder holds no folders.dbx
  tree.write("docs/a.txt", "a", 1600000000);
  tree.write("app/Resguarda.ini", "[CONFIGURACION]\nDIR_DESTINO=" + tree.path("copias") +
                                      "\n[TAREAS]\n0=1 Extraer Mensajes E-mail con adjuntos\n1=1 " +
                                      tree.path("docs") + "\n");
  const Outcome outcome = run({"x"}, environment);
  EXPECT_EQ(outcome.status, 1) << outcome.err;
  EXPECT_EQ(outcome.out, "Finalizado. Actualizados: 0 Copiados: 1 Revisados: 1\n");
  EXPECT_EQ(TempTree::files(tree.path("copias")), std::vector<std::string>{"docs/a.txt"});
}
