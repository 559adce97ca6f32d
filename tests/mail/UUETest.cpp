#include "mail/UUE.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/Errors.h"
#include "support/TempTree.h"
#include "support/TestData.h"

namespace {

std::string decode(UUMethods method, const std::string& input, std::size_t inputBuffer = 0,
                   std::size_t outputBuffer = 0) {
  MemoryInputStream in(input);
  std::string result;
  StringOutputStream out(result);
  TUUProcessor processor;
  processor.Method = method;
  processor.InputStream = &in;
  processor.OutputStream = &out;
  if (inputBuffer) processor.InputBufferSize = inputBuffer;
  if (outputBuffer) processor.OutputBufferSize = outputBuffer;
  processor.Decode();
  return result;
}

struct DecodeCase {
  const char* name;
  UUMethods method;
  std::string input;
  std::string expected;
};

void PrintTo(const DecodeCase& c, std::ostream* os) {
  *os << c.name;
}

class DecodeTable : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeTable, Decodes) {
  const DecodeCase& c = GetParam();
  EXPECT_EQ(decode(c.method, c.input), c.expected);
  // A tiny buffer on both sides must not change the result.
  EXPECT_EQ(decode(c.method, c.input, 1, 1), c.expected);
}

std::string repeat(const std::string& s, int n) {
  std::string r;
  for (int i = 0; i < n; ++i) r += s;
  return r;
}

const DecodeCase kDecodeCases[] = {
    {"PaddedLineEndsData", uuMime, "QUJDRA==\r\nREVG\r\n", "ABCD"},
    {"FinalLineWithoutPadding", uuMime, "QUJD\r\n", "ABC"},
    {"OnePadding", uuMime, "QUI=\r\n", "AB"},
    {"TwoPaddings", uuMime, "QQ==\r\n", "A"},
    {"PaddingEndsTheLineToo", uuMime, "QQ==REVG\r\n", "A"},
    {"EmptyLineBetweenDataLines", uuMime, "QUJD\r\n\r\nREVG\r\n", "ABCDEF"},
    {"FourEqualsLineIgnored", uuMime, "QUJD\r\n====\r\nREVG\r\n", "ABCDEF"},
    {"FiveEqualsLineIgnored", uuMime, "=====\r\nQUJD\r\n", "ABC"},
    {"LineStartingWithEqualsEndsDecoding", uuMime, "QUJD\r\n=REVG\r\nREVG\r\n", "ABC"},
    {"LeadingAndTrailingBlanks", uuMime, "  QUJD \r\n\t REVG\r\n", "ABCDEF"},
    {"TwoCharacterLineIgnored", uuMime, "QQ\r\nREVG\r\n", "DEF"},
    {"ScanReachingLastCharacterIgnoresLine", uuMime, "   Q\r\nREVG\r\n", "DEF"},
    // The last character is never examined, so this "=" does not end anything.
    {"EqualsAsLastCharacterAfterScanIgnored", uuMime, "  =\r\nREVG\r\n", "DEF"},
    {"CarriageReturnInScanEndsDecoding", uuMime, "QUJD\r\n\r\rREVG\r\nREVG\r\n", "ABC"},
    {"LastCharacterNeverStartsAGroup", uuMime, "QUJDR\r\n", "ABC"},
    {"FinalLineWithoutLineFeed", uuMime, "QUJD\r\nREVG", "ABCDEF"},
    {"NonAlphabetBetweenGroupsSkipped", uuMime, "\xC3\xA9QUJD-REVG\xFF\r\n", "ABCDEF"},
    // A bare LF takes the line's last character with it; the cut group keeps what it carries.
    {"BareLineFeedLosesLastCharacter", uuMime, "QUJDREVG\nQUJD\n", "ABCDEAB"},
    {"OnlyLineEnds", uuMime, "\r\n\r\n\n", ""},
    {"Empty", uuMime, "", ""},
    // Ill-formed groups.
    {"GroupStartingWithEqualsEndsData", uuMime, "QUJD=REVG\r\nREVG\r\n", "ABC"},
    {"EqualsInSecondPlaceEndsData", uuMime, "Q=JD\r\nREVG\r\n", ""},
    {"GroupCutByNonAlphabet", uuMime, "QUJ.REVG\r\n", "ABDEF"},
    {"GroupCutAfterTwoCharacters", uuMime, "QU QUJD\r\n", "AABC"},
    {"GroupCutByLineEnd", uuMime, "QUJDQUI\r\nREVG\r\n", "ABCABDEF"},
    // A 250-character line: the first window holds 200 characters, reading resumes 61 bytes
    // after its start and the overlap is decoded again, now shifted by one character.
    {"LongLineOverlappingWindows", uuMime, repeat("QUJD", 62) + "QU\r\n",
     repeat("ABC", 50) + repeat("P\x90\xD0", 47)},
    // 250 characters, no LF at all: windows at 0, 61, 122, 183 and 244.
    {"LongLineWithoutLineFeed", uuMime, std::string(250, 'A'), std::string(441, '\0')},

    {"UUFullLine", uuCode, "M" + repeat("04)#", 15) + "\r\n", repeat("ABC", 15)},
    {"UUOneByte", uuCode, "!04)#\r\n", "A"},
    {"UUTwoBytes", uuCode, "\"04)#\r\n", "AB"},
    {"UUSeveralLines", uuCode, "#04)#\r\n#04)#\r\n", "ABCABC"},
    {"UUZeroCountDropsNextLine", uuCode, "!04)#\r\n```\r\nend\r\n!04)#\r\n", "AA"},
    {"UUShortZeroLineIgnored", uuCode, "`\r\n!04)#\r\n", "A"},
    {"UUTwoCharacterLineIgnored", uuCode, "!0\r\n!04)#\r\n", "A"},
    {"UUBlankAndBacktickBothZero", uuCode, "#04) \r\n", "AB@"},
    // Characters missing at the end of a short line count as blanks.
    {"UUShortLine", uuCode, "#04\r\n", std::string("A@\0", 3)},
    {"UUEmpty", uuCode, "", ""},
};

INSTANTIATE_TEST_SUITE_P(UUE, DecodeTable, ::testing::ValuesIn(kDecodeCases),
                         [](const auto& param) { return std::string(param.param.name); });

std::string encodeBase64Lines(const std::string& data) {
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text, line;
  for (std::size_t i = 0; i < data.size(); i += 3) {
    const std::size_t n = std::min<std::size_t>(3, data.size() - i);
    unsigned v = 0;
    for (std::size_t j = 0; j < 3; ++j)
      v = v << 8 | (j < n ? static_cast<unsigned char>(data[i + j]) : 0u);
    for (std::size_t j = 0; j < 4; ++j) line += j <= n ? kAlphabet[(v >> (18 - 6 * j)) & 63] : '=';
    if (line.size() == 76) {
      text += line + "\r\n";
      line.clear();
    }
  }
  if (!line.empty()) text += line + "\r\n";
  return text;
}

TEST(UUE, RoundTripsMimeBodiesOfEverySize) {
  for (std::size_t n : {0u, 1u, 2u, 3u, 56u, 57u, 58u, 1000u, 200000u}) {
    const std::string data = randomBytes(n, static_cast<unsigned>(n));
    EXPECT_EQ(decode(uuMime, encodeBase64Lines(data)), data) << n;
  }
}

TEST(UUE, BufferSizesNeverChangeTheResult) {
  // Noisy input: random lines of alphabet, blanks, padding and line ends of every kind.
  std::mt19937 rng(7);
  const std::string pieces[] = {
      "QUJD", "RA==", " ", "\r\n", "\n", "\r", "====", "-", "Zm9v", std::string(120, 'w'), "\xC3"};
  for (int round = 0; round < 20; ++round) {
    std::string input;
    while (input.size() < 20000) {
      const auto& piece = pieces[rng() % std::size(pieces)];
      // Keep "=" rare so that most inputs run to their end.
      if (piece == "RA==" && rng() % 50 != 0) continue;
      input += piece;
    }
    const std::string expected = decode(uuMime, input);
    EXPECT_EQ(decode(uuMime, input, 512, 256), expected);
    EXPECT_EQ(decode(uuMime, input, 777, 1000), expected);
    const std::string uu = decode(uuCode, input);
    EXPECT_EQ(decode(uuCode, input, 600, 300), uu);
  }
}

TEST(UUE, StartsAtTheInputPositionAndStopsAfterTheLastLineRead) {
  const std::string input = "skip!QUJD\r\nQQ==\r\nREVG\r\n";
  MemoryInputStream in(input);
  in.setPosition(5);
  std::string result;
  StringOutputStream out(result);
  TUUProcessor processor;
  processor.InputStream = &in;
  processor.OutputStream = &out;
  processor.Decode();
  EXPECT_EQ(result, "ABCA");
  EXPECT_EQ(in.position(), 17u);

  // Past the end from the start: nothing is written.
  result.clear();
  in.setPosition(input.size() + 10);
  processor.Decode();
  EXPECT_EQ(result, "");
}

class RecordingOutput : public OutputByteStream {
 public:
  void write(const char* data, std::size_t n) override {
    ++writes;
    bytes.append(data, n);
    if (failAfter >= 0 && static_cast<int>(bytes.size()) > failAfter)
      throw unableToWrite("/dest/file.bin", 28);
  }
  int writes = 0;
  int failAfter = -1;
  std::string bytes;
};

TEST(UUE, EventsBracketDecodeAndEmptyInputWritesNothing) {
  MemoryInputStream in("");
  RecordingOutput out;
  TUUProcessor processor;
  processor.InputStream = &in;
  processor.OutputStream = &out;
  std::vector<std::string> events;
  auto record = [&](const char* name) {
    return [&events, &processor, name](TUUProcessor& sender) {
      EXPECT_EQ(&sender, &processor);
      events.push_back(name);
    };
  };
  processor.OnBeginEncode = record("BeginEncode");
  processor.OnEndEncode = record("EndEncode");
  processor.OnBeginDecode = record("BeginDecode");
  processor.OnEndDecode = [&](TUUProcessor&) {
    // Everything is written by the time the end is announced.
    events.push_back("EndDecode:" + out.bytes);
  };
  processor.Decode();
  EXPECT_EQ(out.writes, 0);

  MemoryInputStream data("QUJD\r\n");
  processor.InputStream = &data;
  processor.Decode();
  EXPECT_EQ(events, (std::vector<std::string>{"BeginDecode", "EndDecode:", "BeginDecode",
                                              "EndDecode:ABC"}));
}

TEST(UUE, FailedWritePropagatesAndSkipsTheEndEvent) {
  const std::string input = encodeBase64Lines(randomBytes(5000, 1));
  MemoryInputStream in(input);
  RecordingOutput out;
  out.failAfter = 1000;
  TUUProcessor processor;
  processor.InputStream = &in;
  processor.OutputStream = &out;
  processor.OutputBufferSize = 512;
  bool began = false, ended = false;
  processor.OnBeginDecode = [&](TUUProcessor&) { began = true; };
  processor.OnEndDecode = [&](TUUProcessor&) { ended = true; };
  EXPECT_THROW(processor.Decode(), ResguardaError);
  EXPECT_TRUE(began);
  EXPECT_FALSE(ended);
  EXPECT_LT(out.bytes.size(), 5000u);
}

TEST(UUE, FullDiskIsReportedWithThePath) {
  const int fd = ::open("/dev/full", O_WRONLY);
  if (fd < 0) GTEST_SKIP() << "no /dev/full";
  MemoryInputStream in("QUJD\r\n");
  FdOutputStream out(fd, "/dev/full");
  TUUProcessor processor;
  processor.InputStream = &in;
  processor.OutputStream = &out;
  try {
    processor.Decode();
    ADD_FAILURE() << "a write to a full disk succeeded";
  } catch (const ResguardaError& e) {
    EXPECT_STREQ(e.what(), "Unable to write to /dev/full");
    EXPECT_EQ(e.path(), "/dev/full");
  }
  ::close(fd);
}

TEST(UUE, DecodesFileToFile) {
  TempTree tree;
  const std::string data = randomBytes(150000, 3);
  const std::string inPath = tree.write("body.txt", "xx" + encodeBase64Lines(data));
  const std::string outPath = tree.path("out.bin");
  const int inFd = ::open(inPath.c_str(), O_RDONLY);
  const int outFd = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(inFd, 0);
  ASSERT_GE(outFd, 0);
  FdInputStream in(inFd, inPath);
  in.setPosition(2);
  FdOutputStream out(outFd, outPath);
  TUUProcessor processor;
  processor.InputStream = &in;
  processor.OutputStream = &out;
  processor.Decode();
  ::close(inFd);
  ::close(outFd);
  EXPECT_EQ(TempTree::read(outPath), data);
}

TEST(UUE, ReadErrorPropagatesAndSkipsTheEndEvent) {
  TempTree tree;
  // A folder has a size but cannot be read: pread fails with EISDIR.
  const std::string folder = tree.mkdir("folder");
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(fd, 0);
  FdInputStream in(fd, folder);
  std::string result;
  StringOutputStream out(result);
  TUUProcessor processor;
  processor.InputStream = &in;
  processor.OutputStream = &out;
  bool ended = false;
  processor.OnEndDecode = [&](TUUProcessor&) { ended = true; };
  if (in.size() == 0) GTEST_SKIP() << "this file system gives folders no size";
  try {
    processor.Decode();
    ADD_FAILURE() << "reading a folder succeeded";
  } catch (const ResguardaError& e) {
    EXPECT_EQ(e.path(), folder);
  }
  EXPECT_FALSE(ended);
  ::close(fd);
}

TEST(UUE, MissingStreamIsAProgrammingError) {
  TUUProcessor processor;
  bool began = false;
  processor.OnBeginDecode = [&](TUUProcessor&) { began = true; };
  EXPECT_THROW(processor.Decode(), std::logic_error);
  EXPECT_FALSE(began);
}

}  // namespace
