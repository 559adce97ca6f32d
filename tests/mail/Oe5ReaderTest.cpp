#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>

#include "mail/uoexpress.h"
#include "platform/Errors.h"
#include "support/ScopedTimeZone.h"
#include "support/StoreBuilder.h"
#include "support/TempTree.h"

namespace {

Toe5_IndexList readIndex(const std::vector<uint8_t>& bytes, bool folderMode) {
  Oe5Memory source(bytes);
  Toe5_IndexList list;
  oe5_ReadIndex(source, folderMode, list);
  return list;
}

std::string readText(const std::vector<uint8_t>& bytes, int32_t textPos) {
  Oe5Memory source(bytes);
  return oe5_ReadMessageText(source, textPos);
}

std::vector<BuiltMessage> numberedMessages(size_t count) {
  std::vector<BuiltMessage> messages;
  for (size_t i = 0; i < count; ++i) {
    BuiltMessage m;
    m.flags = static_cast<int32_t>(i % 2 ? 0x4081 : 0x81);
    m.flagsDirect = i % 3 == 0;
    m.textPosDirect = i % 4 == 0;
    m.subject = "asunto " + std::to_string(i);
    m.sender = "s" + std::to_string(i) + "@example.com";
    m.received = fileTimeOf(2004, 3, 1 + static_cast<int>(i % 28), 10, 0, 0);
    m.text = "Subject: " + m.subject + "\r\n\r\n" + std::string(i * 97 % 1500, 'x');
    messages.push_back(m);
  }
  return messages;
}

std::vector<std::string> subjects(const Toe5_IndexList& list) {
  std::vector<std::string> result;
  for (const auto& m : list.Messages) result.push_back(m.Subject);
  return result;
}

// Real stores written by the mail client, kept beside the repository (read-only there).
constexpr const char* kSampleFolder = RESGUARDA_SOURCE_DIR "/../shared/testdata/";

std::string copySample(TempTree& tree, const std::string& name) {
  const std::string source = std::string(kSampleFolder) + name;
  const std::string target = tree.path(name);
  std::filesystem::copy_file(source, target);
  std::filesystem::permissions(target, std::filesystem::perms::owner_read);
  return target;
}

}  // namespace

struct SampleCase {
  const char* file;
  const char* firstLine;
  const char* subject;
  const char* bodyStart;
  size_t approximateSize;
};

void PrintTo(const SampleCase& c, std::ostream* os) {
  *os << c.file;
}

class Oe5SampleFiles : public testing::TestWithParam<SampleCase> {};

TEST_P(Oe5SampleFiles, ListOneMessageWithItsWholeText) {
  const SampleCase& c = GetParam();
  TempTree tree;
  copySample(tree, c.file);
  Oe5Store store(tree.root());
  Toe5_IndexList list;
  EXPECT_EQ(store.oe5_ReadIndex(c.file, &list), "");  // read in full: no damage reported
  ASSERT_EQ(list.Messages.size(), 1u);
  EXPECT_TRUE(list.Folders.empty());
  const Toe5_MessageInfo& m = list.Messages[0];
  EXPECT_EQ(m.Subject, c.subject);
  const std::string text = store.oe5_ReadMessageText(c.file, m.TextPos);
  EXPECT_EQ(text.substr(0, text.find("\r\n")), c.firstLine);
  EXPECT_NE(text.find(std::string("Subject: ") + c.subject), std::string::npos);
  EXPECT_NE(text.find(c.bodyStart), std::string::npos);
  EXPECT_GT(text.size(), c.approximateSize * 9 / 10);
  EXPECT_LT(text.size(), c.approximateSize * 11 / 10);
  EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
  // Once reassembled, every line ends in CR LF and nothing else breaks lines.
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n') {
      ASSERT_TRUE(i > 0 && text[i - 1] == '\r') << i;
    }
    if (text[i] == '\r') {
      ASSERT_TRUE(i + 1 < text.size() && text[i + 1] == '\n') << i;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Samples, Oe5SampleFiles,
    testing::Values(SampleCase{"mtd_test.dbx", "Return-path: <off_1@webstation.com>",
                               "Please read you won't be sorry........", "", 17000},
                    SampleCase{"mtd_test1.dbx", "Return-path: <noreply@freshmeat.net>",
                               "[fmII] centericq 4.7.5 released (Default branch)",
                               "This email is to inform you of release '4.7.5'", 2700}),
    [](const testing::TestParamInfo<SampleCase>& param) { return std::to_string(param.index); });

// Trees of many shapes: every record must come out once, in the walk's order (links at 12,
// then 8, then each entry's record and child), whichever encoding the values use.
class Oe5TreeShapes : public testing::TestWithParam<std::pair<size_t, size_t>> {};

TEST_P(Oe5TreeShapes, ListsEveryRecordInWalkOrder) {
  const auto [count, fanout] = GetParam();
  const auto messages = numberedMessages(count);
  DbxLayout layout;
  const auto bytes = buildMessageFile(messages, &layout, fanout);
  Oe5Memory source(bytes);
  Toe5_IndexList list;
  EXPECT_EQ(oe5_ReadIndex(source, false, list), "");  // a sound file reports no damage
  ASSERT_EQ(list.Messages.size(), count);
  for (size_t i = 0; i < count; ++i) {
    const Toe5_MessageInfo& m = list.Messages[i];
    EXPECT_EQ(m.Subject, messages[i].subject);
    EXPECT_EQ(m.SenderAddress, messages[i].sender);
    EXPECT_EQ(m.Flags, messages[i].flags);
    EXPECT_EQ(m.ReceivedTime, messages[i].received);
    EXPECT_EQ(m.Position, static_cast<int32_t>(layout.records[i]));
    EXPECT_EQ(m.Value80, static_cast<int32_t>(i + 1));
    ASSERT_EQ(m.TextPos, static_cast<int32_t>(layout.texts[i]));
    std::string text;
    EXPECT_EQ(oe5_ReadMessageText(source, m.TextPos, text), "");
    EXPECT_EQ(text, oe5_MessageLines(messages[i].text));
  }
}

INSTANTIATE_TEST_SUITE_P(Shapes, Oe5TreeShapes,
                         testing::Values(std::pair<size_t, size_t>{1, 4}, std::pair{7, 1},
                                         std::pair{20, 2}, std::pair{33, 3}, std::pair{64, 4},
                                         std::pair{100, 10}));

TEST(Oe5Reader, WalkOrderOfAHandBuiltTree) {
  // Records A..E; root: link12 -> node holding A, link8 -> node holding B, entries C (child:
  // node holding D) and E.
  DbxWriter writer;
  std::vector<uint32_t> records;
  for (const char* name : {"A", "B", "C", "D", "E"}) {
    std::string data = std::string(name) + '\0';
    records.push_back(writer.addRawRecord({0x08 /* subject at 0 */, 0x80 | (1u << 8)}, data));
  }
  std::vector<uint8_t> bytes = writer.bytes();
  auto node = [&](uint32_t link8, uint32_t link12,
                  std::vector<std::pair<uint32_t, uint32_t>> entries) {
    const uint32_t pos = static_cast<uint32_t>(bytes.size());
    putU32(bytes, pos, pos);
    putU32(bytes, pos + 4, 0);
    putU32(bytes, pos + 8, link8);
    putU32(bytes, pos + 12, link12);
    putU32(bytes, pos + 16, static_cast<uint32_t>(entries.size()) << 8);
    putU32(bytes, pos + 20, 0);
    for (size_t i = 0; i < entries.size(); ++i) {
      putU32(bytes, pos + 24 + 12 * i, entries[i].first);
      putU32(bytes, pos + 28 + 12 * i, entries[i].second);
      putU32(bytes, pos + 32 + 12 * i, 0);
    }
    return pos;
  };
  const uint32_t a = node(0, 0, {{records[0], 0}});
  const uint32_t b = node(0, 0, {{records[1], 0}});
  const uint32_t d = node(0, 0, {{records[3], 0}});
  const uint32_t root = node(b, a, {{records[2], d}, {records[4], 0}});
  putU32(bytes, 48, root);
  putU32(bytes, 196, 5);
  EXPECT_EQ(subjects(readIndex(bytes, false)), (std::vector<std::string>{"A", "B", "C", "D", "E"}));

  // Every node's links pointing back at the root and at itself: each node is read once.
  for (uint32_t pos : {a, b, d}) {
    putU32(bytes, pos + 8, root);
    putU32(bytes, pos + 12, pos);
  }
  putU32(bytes, d + 28, root);  // D's entry names the root as its child
  EXPECT_EQ(subjects(readIndex(bytes, false)), (std::vector<std::string>{"A", "B", "C", "D", "E"}));

  // A node that fails its self-check is absent with everything under it.
  putU32(bytes, b, b + 1);
  EXPECT_EQ(subjects(readIndex(bytes, false)), (std::vector<std::string>{"A", "C", "D", "E"}));
  // A record that fails its self-check is not listed; an entry count of 0 keeps the links.
  putU32(bytes, records[2], 7);
  putU32(bytes, d + 16, 0);
  EXPECT_EQ(subjects(readIndex(bytes, false)), (std::vector<std::string>{"A", "E"}));
}

TEST(Oe5Reader, ItemCountZeroOrNegativeReadsNothing) {
  for (int32_t count : {0, -1}) {
    DbxWriter writer;
    writer.addMessage(numberedMessages(1)[0]);
    const DbxLayout layout = writer.finish(4, count);
    EXPECT_TRUE(readIndex(writer.bytes(), false).Messages.empty());
    EXPECT_EQ(readText(writer.bytes(), static_cast<int32_t>(layout.texts[0])), "");
  }
}

TEST(Oe5Reader, FlagAndTextPosEncodingsLaterEntryWins) {
  DbxWriter writer;
  const uint32_t text = writer.addText("hola");
  std::string data(8, '\0');
  data[0] = 0x34;  // 3-byte flags 0x124034 at offset 0
  data[1] = 0x40;
  data[2] = 0x12;
  data[4] = static_cast<char>(text & 0xFF);  // 4-byte text position at offset 4
  data[5] = static_cast<char>(text >> 8 & 0xFF);
  writer.addRawRecord({0x01, 0x81 | (0x4000u << 8), 0x04 | (4u << 8), 0x84 | (99u << 8)}, data);
  writer.addRawRecord({0x81 | (0x4000u << 8), 0x01, 0x84 | (99u << 8), 0x04 | (4u << 8)}, data);
  writer.finish();
  const auto list = readIndex(writer.bytes(), false);
  ASSERT_EQ(list.Messages.size(), 2u);
  EXPECT_EQ(list.Messages[0].Flags, 0x4000);
  EXPECT_EQ(list.Messages[0].TextPos, 99);
  EXPECT_EQ(list.Messages[1].Flags, 0x124034);
  EXPECT_EQ(list.Messages[1].TextPos, static_cast<int32_t>(text));
}

TEST(Oe5Reader, ValuesOutsideTheDataAreaAreAbsent) {
  DbxWriter writer;
  // Data area "abc\0xyz" (7 bytes): the subject at 0 is fine, the sender at 4 has no
  // terminator, the flags at 5 overrun, text 0x0D and 0x09 lie past the end.
  const std::string data("abc\0xyz", 7);
  writer.addRawRecord({0x08, 0x0E | (4u << 8), 0x01 | (5u << 8), 0x0D | (7u << 8),
                       0x09 | (0xFFFFFFu << 8), 0x12 | (1u << 8)},
                      data);
  // A body length smaller than the entry table: no data area at all.
  const uint32_t shortBody = writer.addRawRecord({0x08, 0x81 | (5u << 8)}, std::string("x\0", 2));
  writer.finish();
  std::vector<uint8_t> bytes = writer.bytes();
  putU32(bytes, shortBody + 4, 3);
  const auto list = readIndex(bytes, false);
  ASSERT_EQ(list.Messages.size(), 2u);
  const Toe5_MessageInfo& m = list.Messages[0];
  EXPECT_EQ(m.Subject, "abc");
  EXPECT_EQ(m.SenderAddress, "");
  EXPECT_EQ(m.Flags, 0);
  EXPECT_EQ(m.Text0D, "");
  EXPECT_EQ(m.Text09, "");
  EXPECT_EQ(m.ReceivedTime, Toe5_FileTime{});
  EXPECT_EQ(list.Messages[1].Subject, "");
  EXPECT_EQ(list.Messages[1].Flags, 5);
}

TEST(Oe5Reader, FolderRecordsNeedAFileEntry) {
  DbxWriter writer;
  writer.addFolder({"Bandeja", "Inbox.dbx", true, {}}, 7);
  writer.addFolder({"Sin archivo", "", false, {}}, 8);
  writer.addRawRecord({0x02, 0x06 | (1u << 8)}, std::string("Solo06\0", 7));
  writer.finish(1);
  const auto list = readIndex(writer.bytes(), true);
  EXPECT_TRUE(list.Messages.empty());
  ASSERT_EQ(list.Folders.size(), 2u);
  EXPECT_EQ(list.Folders[0].Name, "Bandeja");
  EXPECT_EQ(list.Folders[0].FileName, "Inbox.dbx");
  EXPECT_EQ(list.Folders[0].Value80, 7);
  EXPECT_EQ(list.Folders[1].Name, "Solo06");
  EXPECT_EQ(list.Folders[1].FileName, "");
}

TEST(Oe5Reader, TextChains) {
  DbxWriter writer;
  const uint32_t first = writer.addText(std::string(512, 'a') + std::string(100, 'b'));
  const uint32_t lone = writer.addText("sin salto de linea");
  writer.finish(4, 1);
  std::vector<uint8_t> bytes = writer.bytes();
  const uint32_t second = first + 528;
  EXPECT_EQ(readText(bytes, static_cast<int32_t>(lone)), "sin salto de linea\r\n");

  // Leftover bytes past the count are not taken; a count over 512 takes 512.
  bytes[second + 16 + 100] = 'z';
  putU32(bytes, first + 8, 9999);
  EXPECT_EQ(readText(bytes, static_cast<int32_t>(first)),
            std::string(512, 'a') + std::string(100, 'b') + "\r\n");
  // A zero byte ends the block's text early; the chain goes on.
  bytes[first + 16 + 3] = 0;
  EXPECT_EQ(readText(bytes, static_cast<int32_t>(first)), "aaa" + std::string(100, 'b') + "\r\n");
  // A chain that comes back to a block already read ends there.
  putU32(bytes, second + 12, first);
  EXPECT_EQ(readText(bytes, static_cast<int32_t>(first)), "aaa" + std::string(100, 'b') + "\r\n");
  putU32(bytes, second + 12, second);
  EXPECT_EQ(readText(bytes, static_cast<int32_t>(first)), "aaa" + std::string(100, 'b') + "\r\n");
  // A block failing its self-check ends the text; a first block failing it gives nothing.
  putU32(bytes, second, 1);
  EXPECT_EQ(readText(bytes, static_cast<int32_t>(first)), "aaa\r\n");
  // An empty message text still becomes one line.
  EXPECT_EQ(readText(bytes, static_cast<int32_t>(first + 1)), "\r\n");
  EXPECT_EQ(readText(bytes, 0x7FFFFFF0), "\r\n");
  EXPECT_EQ(readText(bytes, 0), "");
  EXPECT_EQ(readText(bytes, -5), "");
}

TEST(Oe5Reader, TruncatedFilesReadAsWhatTheyHold) {
  const auto messages = numberedMessages(12);
  const auto whole = buildMessageFile(messages, nullptr, 2);
  const size_t full = readIndex(whole, false).Messages.size();
  for (size_t cut = 0; cut <= whole.size(); cut += 37) {
    const std::vector<uint8_t> bytes(whole.begin(), whole.begin() + static_cast<long>(cut));
    const auto list = readIndex(bytes, false);
    EXPECT_LE(list.Messages.size(), full);
    for (const auto& m : list.Messages) EXPECT_LE(readText(bytes, m.TextPos).size(), cut + 2);
  }
}

TEST(Oe5Reader, HugeEntryCountsAndOverlappingNodesStayBounded) {
  // Nodes every 4 bytes claiming the most entries, all naming one another: the walk must end
  // promptly and list no more than the file can justify.
  std::vector<uint8_t> bytes(64 * 1024, 0);
  putU32(bytes, 196, 1);
  putU32(bytes, 48, 0x200);
  for (uint32_t pos = 0x200; pos + 4 <= bytes.size(); pos += 4) putU32(bytes, pos, pos);
  for (uint32_t pos = 0x200; pos + 40 <= bytes.size(); pos += 40) {
    putU32(bytes, pos + 16, 0xFFFFFF00);
  }
  const auto list = readIndex(bytes, false);
  EXPECT_LT(list.Messages.size(), bytes.size());
}

TEST(Oe5Reader, JoinLinesActsLikeAStringList) {
  const std::pair<std::string, std::string> cases[] = {
      {"", ""},
      {"a", "a\r\n"},
      {"a\r\n", "a\r\n"},
      {"a\rb\nc\r\nd", "a\r\nb\r\nc\r\nd\r\n"},
      {"\n", "\r\n"},
      {"a\r\r\n\n\r", "a\r\n\r\n\r\n\r\n"},
      {"\r\n\r\nx", "\r\n\r\nx\r\n"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(oe5_JoinLines(in), out) << in;
}

// The list's text is the stored text followed by one CR LF, whatever the text ends in; lone
// CR and lone LF line ends come back as CR LF.
class Oe5TextLineEnds : public testing::TestWithParam<std::pair<std::string, std::string>> {};

TEST_P(Oe5TextLineEnds, EndsWithOneMoreCrLf) {
  const auto& [stored, expected] = GetParam();
  DbxWriter writer;
  const uint32_t first = writer.addText(stored);
  writer.finish(4, 1);
  EXPECT_EQ(readText(writer.bytes(), static_cast<int32_t>(first)), expected);
  EXPECT_EQ(oe5_MessageLines(stored), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, Oe5TextLineEnds,
    testing::Values(std::pair<std::string, std::string>{"a", "a\r\n"},
                    std::pair{"a\r\n", "a\r\n\r\n"}, std::pair{"a\r\n\r\n", "a\r\n\r\n\r\n"},
                    std::pair{"a\n", "a\r\n\r\n"}, std::pair{"a\r", "a\r\n\r\n"},
                    std::pair{"a\r\nb", "a\r\nb\r\n"},
                    std::pair{"a\nb\rc\r\n", "a\r\nb\r\nc\r\n\r\n"},
                    std::pair{"a\r\r\n\n", "a\r\n\r\n\r\n\r\n"}, std::pair{"", "\r\n"},
                    std::pair{std::string(512, 'x') + "\r", std::string(512, 'x') + "\r\n\r\n"}));

TEST(Oe5Store, FindsFilesByNameIgnoringCaseButModeFollowsTheNameAsked) {
  TempTree tree;
  const std::string store = tree.mkdir("store");
  writeStore(store, {{"Bandeja", "Inbox.dbx", true, numberedMessages(3)}});
  std::filesystem::rename(store + "/folders.dbx", store + "/Folders.dbx");
  const Oe5Store oe5(store);

  Toe5_IndexList list;
  oe5.oe5_ReadIndex("folders.dbx", &list);
  ASSERT_EQ(list.Folders.size(), 1u);
  EXPECT_EQ(list.Folders[0].FileName, "Inbox.dbx");
  EXPECT_TRUE(list.Messages.empty());

  // Any other spelling is a message file, though it is found on disk too.
  Toe5_IndexList other;
  oe5.oe5_ReadIndex("FOLDERS.DBX", &other);
  EXPECT_TRUE(other.Folders.empty());
  EXPECT_EQ(other.Messages.size(), 1u);

  Toe5_IndexList messages;
  oe5.oe5_ReadIndex("inbox.DBX", &messages);
  EXPECT_EQ(messages.Messages.size(), 3u);
  oe5.oe5_ReadIndex("Inbox.dbx", nullptr);  // no list: nothing happens

  // The list is appended to, not cleared.
  oe5.oe5_ReadIndex("Inbox.dbx", &messages);
  EXPECT_EQ(messages.Messages.size(), 6u);
}

struct StoreNameCase {
  const char* name;
  std::string onDisk;
  std::string asked;
  bool found;
};

class Oe5StoreName : public testing::TestWithParam<StoreNameCase> {};

// Only ASCII letters match without regard to case: bytes above 0x7F (UTF-8 or Latin-1) and
// signs that differ from a letter's other case by one bit never do.
TEST_P(Oe5StoreName, MatchesOtherCaseOfAsciiLettersOnly) {
  TempTree tree;
  const std::string store = tree.mkdir("store");
  tree.write("store/" + GetParam().onDisk, "");
  const Oe5Store oe5(store);
  if (GetParam().found) {
    EXPECT_NO_THROW(oe5.open(GetParam().asked));
  } else {
    EXPECT_THROW(oe5.open(GetParam().asked), ResguardaError);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Oe5Store, Oe5StoreName,
    testing::Values(StoreNameCase{"AsciiCase", "Bandeja.dbx", "BANDEJA.DBX", true},
                    StoreNameCase{"Utf8SameBytes", "Buz\xc3\xb3n.dbx", "BUZ\xc3\xb3N.dbx", true},
                    StoreNameCase{"Utf8OtherCase", "Buz\xc3\xb3n.dbx", "Buz\xc3\x93n.dbx", false},
                    StoreNameCase{"Latin1OtherCase", "Buz\xf3n.dbx", "Buz\xd3n.dbx", false},
                    StoreNameCase{"AtIsNotBacktick", "@.dbx", "`.dbx", false}),
    [](const testing::TestParamInfo<StoreNameCase>& param) { return param.param.name; });

TEST(Oe5Store, UnopenableFilesRaiseCannotOpenFile) {
  TempTree tree;
  const std::string store = tree.mkdir("store");
  tree.mkdir("store/carpeta.dbx");
  tree.write("outside.dbx", "");
  // A pipe under a store file's name must fail at once, not wait for a writer.
  ASSERT_EQ(::mkfifo((store + "/tuberia.dbx").c_str(), 0600), 0);
  const Oe5Store oe5(store + "/");
  Toe5_IndexList list;
  for (const std::string name :
       {"missing.dbx", "carpeta.dbx", "tuberia.dbx", "../outside.dbx", "..", ""}) {
    try {
      oe5.oe5_ReadIndex(name, &list);
      ADD_FAILURE() << name;
    } catch (const ResguardaError& e) {
      EXPECT_EQ(std::string(e.what()), "Cannot open file " + store + "/" + name);
    }
  }
}

// Links in the store folder: one naming another file of the folder is followed; anything
// leading elsewhere is refused (Oe5Refused, which the export reports), and a dangling one is
// simply missing.
struct StoreLinkCase {
  const char* name;
  const char* target;
  enum { Read, Refused, Missing } outcome;
};

class Oe5StoreLinks : public testing::TestWithParam<StoreLinkCase> {};

TEST_P(Oe5StoreLinks, OnlyLinksWithinTheStoreFolderAreFollowed) {
  const StoreLinkCase& c = GetParam();
  TempTree tree;
  const std::string store = tree.mkdir("real-store");
  writeStore(store, {{"Bandeja", "real.dbx", true, numberedMessages(2)}});
  std::filesystem::copy_file(store + "/real.dbx", tree.path("outside.dbx"));
  ASSERT_EQ(::symlink("real.dbx", (store + "/alias.dbx").c_str()), 0);
  std::string target = c.target;
  if (target.rfind("ROOT", 0) == 0) target = tree.root() + target.substr(4);
  ASSERT_EQ(::symlink(target.c_str(), (store + "/" + c.name).c_str()), 0);
  // The store folder itself is reached through a link, as a Wine drive is.
  ASSERT_EQ(::symlink(store.c_str(), tree.path("store").c_str()), 0);
  const Oe5Store oe5(tree.path("store"));
  Toe5_IndexList list;
  try {
    oe5.oe5_ReadIndex(c.name, &list);
    EXPECT_EQ(c.outcome, StoreLinkCase::Read);
    EXPECT_EQ(list.Messages.size(), 2u);
  } catch (const Oe5Refused& e) {
    EXPECT_EQ(c.outcome, StoreLinkCase::Refused) << e.reason();
    EXPECT_EQ(e.path(), tree.path("store") + "/" + c.name);
  } catch (const ResguardaError& e) {
    EXPECT_EQ(c.outcome, StoreLinkCase::Missing) << e.reason();
  }
  EXPECT_TRUE(c.outcome == StoreLinkCase::Read || list.Messages.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Links, Oe5StoreLinks,
    testing::Values(StoreLinkCase{"Enlace.dbx", "real.dbx", StoreLinkCase::Read},
                    StoreLinkCase{"fuera.dbx", "../outside.dbx", StoreLinkCase::Refused},
                    StoreLinkCase{"absoluto.dbx", "ROOT/outside.dbx", StoreLinkCase::Refused},
                    StoreLinkCase{"mismo.dbx", "ROOT/real-store/real.dbx", StoreLinkCase::Refused},
                    StoreLinkCase{"punto.dbx", "./real.dbx", StoreLinkCase::Refused},
                    StoreLinkCase{"cadena.dbx", "alias.dbx", StoreLinkCase::Refused},
                    StoreLinkCase{"passwd.dbx", "/etc/passwd", StoreLinkCase::Refused},
                    StoreLinkCase{"roto.dbx", "falta.dbx", StoreLinkCase::Missing}),
    [](const testing::TestParamInfo<StoreLinkCase>& param) { return std::to_string(param.index); });

TEST(Oe5Store, FolderListFoundByCaseIsNotFollowedOutEither) {
  TempTree tree;
  const std::string store = tree.mkdir("store");
  writeStore(tree.path("other"), {{"Bandeja", "x.dbx", true, {}}});
  ASSERT_EQ(
      ::symlink((tree.path("other") + "/folders.dbx").c_str(), (store + "/Folders.dbx").c_str()),
      0);
  Toe5_IndexList list;
  EXPECT_THROW(Oe5Store(store).oe5_ReadIndex("folders.dbx", &list), Oe5Refused);
  EXPECT_TRUE(list.Folders.empty());
}

TEST(Oe5Store, ReadAllowanceIsSharedAndRefusesPastItsEnd) {
  TempTree tree;
  const std::string store = tree.mkdir("store");
  writeStore(store, {{"Bandeja", "b.dbx", true, numberedMessages(3)}});
  const Oe5Store oe5(store);
  Toe5_IndexList list;
  const auto first = oe5.open("b.dbx");
  oe5_ReadIndex(*first, false, list);
  ASSERT_EQ(list.Messages.size(), 3u);
  // One allowance for two openings of the same file.
  uint64_t allowance = 2000;
  first->setReadAllowance(&allowance);
  const auto second = oe5.open("b.dbx");
  EXPECT_EQ(second->identity(), first->identity());
  second->setReadAllowance(&allowance);
  Toe5_IndexList again;
  oe5_ReadIndex(*second, false, again);
  EXPECT_EQ(again.Messages.size(), 3u);
  EXPECT_LT(allowance, 2000u);
  // Room for one text (a header and one block) but not for two.
  allowance = 600;
  std::string text;
  oe5_ReadMessageText(*first, list.Messages[1].TextPos, text);
  EXPECT_EQ(text, oe5_MessageLines(numberedMessages(3)[1].text));
  EXPECT_THROW(oe5_ReadMessageText(*first, list.Messages[2].TextPos, text), Oe5Refused);
  EXPECT_EQ(allowance, 0u);
  EXPECT_THROW(oe5_ReadHeader(*second), Oe5Refused);
}

TEST(Oe5FileTime, UsesTheOffsetInForceAtTheDate) {
  ScopedTimeZone zone("Europe/Madrid");
  Toe5_FileTime summer = fileTimeOf(2020, 7, 1, 12, 0, 0);
  summer.Low += 1234567;  // 123 ms and some ticks
  const Toe5_DateTime s = oe5_FileTimeToDateTime(summer);
  const Toe5_DateTime w = oe5_FileTimeToDateTime(fileTimeOf(2020, 1, 1, 23, 30, 5));
  const Toe5_DateTime zero = oe5_FileTimeToDateTime(Toe5_FileTime{});
  EXPECT_EQ(s.Year, 2020);
  EXPECT_EQ(s.Month, 7);
  EXPECT_EQ(s.Day, 1);
  EXPECT_EQ(s.Hour, 14);
  EXPECT_EQ(s.Minute, 0);
  EXPECT_EQ(s.Millisecond, 123);
  EXPECT_EQ(w.Year, 2020);
  EXPECT_EQ(w.Month, 1);
  EXPECT_EQ(w.Day, 2);
  EXPECT_EQ(w.Hour, 0);
  EXPECT_EQ(w.Minute, 30);
  EXPECT_EQ(w.Second, 5);
  // 1 January 1601 UTC, shifted by the zone's local mean time of the era.
  EXPECT_TRUE(zero.Year == 1601 || (zero.Year == 1600 && zero.Month == 12)) << zero.Year;
}

TEST(Oe5Reader, ChainsThatRunBackwardsAreReadWhole) {
  DbxWriter writer;
  const uint32_t a = writer.addText("A");
  const uint32_t b = writer.addText("B");
  const uint32_t c = writer.addText("C");
  writer.finish(4, 1);
  std::vector<uint8_t> bytes = writer.bytes();
  putU32(bytes, c + 12, a);  // C -> A -> B, then back to A
  putU32(bytes, a + 12, b);
  putU32(bytes, b + 12, a);
  EXPECT_EQ(readText(bytes, static_cast<int32_t>(c)), "CAB\r\n");
  putU32(bytes, b + 12, c);  // ... or back to the first block
  EXPECT_EQ(readText(bytes, static_cast<int32_t>(c)), "CAB\r\n");
}

TEST(Oe5Store, LargeFilesReadThroughTheWindowAsFromMemory) {
  // Texts larger than the read window and records beyond it: the file reader must give what
  // the memory reader gives.
  std::vector<BuiltMessage> messages = numberedMessages(5);
  for (size_t i = 0; i < messages.size(); ++i) {
    std::string text;
    for (size_t line = 0; text.size() < 150'000 * (i + 1); ++line) {
      text += "linea " + std::to_string(line) + (line % 7 ? "\r\n" : "\n");
    }
    messages[i].text = text;
  }
  TempTree tree;
  const std::string store = tree.mkdir("store");
  writeStore(store, {{"Grande", "grande.dbx", true, messages}});
  const std::string bytes = TempTree::read(store + "/grande.dbx");
  const std::vector<uint8_t> image(bytes.begin(), bytes.end());
  const Toe5_IndexList fromMemory = readIndex(image, false);

  const Oe5Store oe5(store);
  const auto file = oe5.open("grande.dbx");
  Toe5_IndexList fromFile;
  oe5_ReadIndex(*file, false, fromFile);
  ASSERT_EQ(fromFile.Messages.size(), messages.size());
  ASSERT_EQ(fromMemory.Messages.size(), messages.size());
  std::string text;
  for (size_t i = messages.size(); i-- > 0;) {  // backwards, so the window moves both ways
    EXPECT_EQ(fromFile.Messages[i].Subject, messages[i].subject);
    oe5_ReadMessageText(*file, fromFile.Messages[i].TextPos, text);
    // Compared whole: a failure's diff of texts this long would take forever.
    EXPECT_TRUE(text == oe5_MessageLines(messages[i].text)) << i;
    EXPECT_TRUE(text == readText(image, fromMemory.Messages[i].TextPos)) << i;
  }
}
