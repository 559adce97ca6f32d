#include "mail/UUE.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string_view>

namespace {

constexpr std::size_t kWindow = 200;
// Where reading resumes when a window holds no line feed: the windows of an over-long line
// overlap, and the overlapping part is decoded again.
constexpr std::size_t kNoLineFeedStep = 61;
constexpr std::size_t kMinInputBuffer = 512;
// One line never yields more than this many bytes (a 200-character line gives 150).
constexpr std::size_t kMaxLineOutput = 256;

constexpr std::uint8_t kNotInAlphabet = 127;
constexpr std::uint8_t kPad = 64;

// Base64 values of all 256 byte values: 0..63 for the alphabet, 64 for "=", 127 for the rest.
constexpr std::array<std::uint8_t, 256> makeBase64Values() {
  std::array<std::uint8_t, 256> values{};
  for (auto& v : values) v = kNotInAlphabet;
  for (int i = 0; i < 26; ++i) {
    values['A' + i] = static_cast<std::uint8_t>(i);
    values['a' + i] = static_cast<std::uint8_t>(26 + i);
  }
  for (int i = 0; i < 10; ++i) values['0' + i] = static_cast<std::uint8_t>(52 + i);
  values['+'] = 62;
  values['/'] = 63;
  values['='] = kPad;
  return values;
}

constexpr std::array<std::uint8_t, 256> kBase64Values = makeBase64Values();

// The 12 bits of every pair of alphabet characters (the first one first in memory), or
// kBadPair for a pair holding any other character ("=" included): two lookups per group.
// Filled when the program starts (too many steps for a compile-time table).
constexpr std::uint16_t kBadPair = 0xFFFF;
std::array<std::uint16_t, 65536> makePairValues() {
  std::array<std::uint16_t, 65536> pairs;
  for (unsigned i = 0; i < pairs.size(); ++i) {
    const unsigned first = kBase64Values[i & 0xFF];
    const unsigned second = kBase64Values[i >> 8];
    pairs[i] =
        first < 64 && second < 64 ? static_cast<std::uint16_t>(first << 6 | second) : kBadPair;
  }
  return pairs;
}

const std::array<std::uint16_t, 65536> kPairValues = makePairValues();

unsigned pairAt(const unsigned char* p) {
  return kPairValues[p[0] | p[1] << 8];
}

// Serves the lines of the input exactly as a 200-byte read followed by a repositioning
// would, but reads the stream in large chunks and hands out views into its buffer.
class LineReader {
 public:
  LineReader(InputByteStream& in, std::size_t bufferSize)
      : in_(in), bufferSize_(std::max(bufferSize, kMinInputBuffer)) {
    position_ = in_.position();
    end_ = std::max(in_.size(), position_);
    bufferStart_ = position_;
    readPosition_ = position_;
    // Bytes already in memory are read where they are.
    if (const char* all = in_.contiguous()) {
      data_ = all;
      bufferStart_ = 0;
      bufferLength_ = static_cast<std::size_t>(in_.size());
      readPosition_ = end_;
    }
  }

  // The next line; the view stays valid until the next call.
  std::string_view next() {
    if (position_ >= end_) {
      position_ += kNoLineFeedStep;
      return {};
    }
    fill();
    const std::size_t offset = static_cast<std::size_t>(position_ - bufferStart_);
    const std::size_t available = std::min<std::size_t>(kWindow, bufferLength_ - offset);
    const char* window = data_ + offset;
    const void* lineFeed = std::memchr(window, '\n', available);
    if (lineFeed == nullptr) {
      position_ += kNoLineFeedStep;
      return {window, available};
    }
    // The line feed and the byte before it (normally the CR) are dropped.
    const std::size_t k = static_cast<const char*>(lineFeed) - window + 1;
    position_ += k;
    return {window, k >= 2 ? k - 2 : 0};
  }

  bool atEnd() const { return position_ >= end_; }
  std::uint64_t position() const { return std::min(position_, end_); }

 private:
  // Makes the buffer hold the window at position_, or everything up to the end.
  void fill() {
    const std::uint64_t bufferEnd = bufferStart_ + bufferLength_;
    if (position_ + kWindow <= bufferEnd || readPosition_ >= end_) return;
    // position_ never passes bufferEnd here: it moves by at most 200 within a window that
    // was fully buffered, or the stream is already at its end.
    if (!buffer_) {
      buffer_ = std::make_unique_for_overwrite<char[]>(bufferSize_);
      data_ = buffer_.get();
    }
    const std::size_t keep = static_cast<std::size_t>(bufferEnd - position_);
    std::memmove(buffer_.get(), buffer_.get() + (position_ - bufferStart_), keep);
    bufferStart_ = position_;
    bufferLength_ = keep;
    while (bufferLength_ < bufferSize_ && readPosition_ < end_) {
      const std::size_t want =
          std::min<std::uint64_t>(bufferSize_ - bufferLength_, end_ - readPosition_);
      const std::size_t got = in_.read(buffer_.get() + bufferLength_, want);
      if (got == 0) {
        // The stream ended before its size said: that is the end.
        end_ = readPosition_;
        break;
      }
      bufferLength_ += std::min(got, want);
      readPosition_ += std::min(got, want);
    }
  }

  InputByteStream& in_;
  const std::size_t bufferSize_;
  std::unique_ptr<char[]> buffer_;  // made on first use; never for bytes already in memory
  const char* data_ = nullptr;      // buffer_, or the stream's own bytes
  std::uint64_t bufferStart_ = 0;   // stream offset of data_[0]
  std::size_t bufferLength_ = 0;
  std::uint64_t readPosition_ = 0;  // how far the stream has been read
  std::uint64_t position_ = 0;      // where the next window starts
  std::uint64_t end_ = 0;
};

// Collects the decoded bytes and hands them to the output stream in large writes.
class OutputBuffer {
 public:
  OutputBuffer(OutputByteStream& out, std::size_t size)
      : out_(out),
        size_(std::max(size, 2 * kMaxLineOutput)),
        buffer_(std::make_unique_for_overwrite<unsigned char[]>(size_)) {}

  // Room for one more line's output.
  unsigned char* lineSpace() {
    if (size_ - length_ < kMaxLineOutput) flush();
    return buffer_.get() + length_;
  }
  void commit(const unsigned char* end) { length_ = end - buffer_.get(); }

  void flush() {
    if (length_ == 0) return;
    const std::size_t n = length_;
    length_ = 0;
    out_.write(reinterpret_cast<const char*>(buffer_.get()), n);
  }

 private:
  OutputByteStream& out_;
  const std::size_t size_;
  std::unique_ptr<unsigned char[]> buffer_;
  std::size_t length_ = 0;
};

enum class LineResult { Continue, EndOfData };

// Runs of whole groups of alphabet characters from s[c], the common case, two groups at a
// time, advancing c and out; the caller's loop takes whatever else comes, as it would have
// taken these.
inline void decodeGroupPairs(const unsigned char* s, std::size_t length, std::size_t& c,
                             unsigned char*& out) {
  while (c + 7 < length) {
    const unsigned a = pairAt(s + c), b = pairAt(s + c + 2);
    const unsigned d = pairAt(s + c + 4), e = pairAt(s + c + 6);
    if ((a | b | d | e) >= 4096) break;
    const unsigned x = a << 12 | b, y = d << 12 | e;
    out[0] = static_cast<unsigned char>(x >> 16);
    out[1] = static_cast<unsigned char>(x >> 8);
    out[2] = static_cast<unsigned char>(x);
    out[3] = static_cast<unsigned char>(y >> 16);
    out[4] = static_cast<unsigned char>(y >> 8);
    out[5] = static_cast<unsigned char>(y);
    out += 6;
    c += 8;
  }
}

// One Base64 line. A group starts at any place before the line's last character, so the
// last character never starts one. Ill-formed groups, our choice: a group starting with "="
// ends the data without a byte; a group cut short by a character outside the alphabet
// ("=" in its second place included) or by the end of the line yields only the bytes its
// leading alphabet characters fully carry, and scanning goes on at the character that cut
// it. Nothing past the line is ever read.
LineResult decodeBase64Line(std::string_view line, OutputBuffer& output) {
  const std::size_t length = line.size();
  if (length <= 2) return LineResult::Continue;
  if (line.substr(0, 4) == "====") return LineResult::Continue;
  const auto* s = reinterpret_cast<const unsigned char*>(line.data());

  std::size_t c = 0;
  for (; c + 1 < length; ++c) {
    const unsigned char ch = s[c];
    if (ch == '\r' || ch == '\n' || ch == '=') return LineResult::EndOfData;
    if (kBase64Values[ch] != kNotInAlphabet) break;
  }
  if (c + 1 >= length) return LineResult::Continue;

  unsigned char* out = output.lineSpace();
  LineResult result = LineResult::Continue;
  decodeGroupPairs(s, length, c, out);
  while (c + 1 < length) {
    const unsigned v0 = kBase64Values[s[c]];
    if (c + 3 < length) {
      const unsigned v1 = kBase64Values[s[c + 1]];
      const unsigned v2 = kBase64Values[s[c + 2]];
      const unsigned v3 = kBase64Values[s[c + 3]];
      if ((v0 | v1 | v2 | v3) < 64) {
        out[0] = static_cast<unsigned char>(v0 << 2 | v1 >> 4);
        out[1] = static_cast<unsigned char>(v1 << 4 | v2 >> 2);
        out[2] = static_cast<unsigned char>(v2 << 6 | v3);
        out += 3;
        c += 4;
        continue;
      }
    }
    if (v0 == kNotInAlphabet) {
      ++c;
      continue;
    }
    if (v0 == kPad) {
      result = LineResult::EndOfData;
      break;
    }
    const unsigned v1 = kBase64Values[s[c + 1]];
    if (v1 >= 64) {
      ++c;
      continue;
    }
    *out++ = static_cast<unsigned char>(v0 << 2 | v1 >> 4);
    if (c + 2 >= length) break;
    const unsigned v2 = kBase64Values[s[c + 2]];
    if (v2 == kPad) {
      result = LineResult::EndOfData;
      break;
    }
    if (v2 == kNotInAlphabet) {
      c += 2;
      continue;
    }
    *out++ = static_cast<unsigned char>(v1 << 4 | v2 >> 2);
    if (c + 3 >= length) break;
    const unsigned v3 = kBase64Values[s[c + 3]];
    if (v3 == kPad) {
      result = LineResult::EndOfData;
      break;
    }
    // v3 cannot be in the alphabet here, or the whole group would have been taken above.
    c += 3;
  }
  output.commit(out);
  return result;
}

void decodeBase64(LineReader& reader, OutputBuffer& output) {
  do {
    if (decodeBase64Line(reader.next(), output) == LineResult::EndOfData) return;
  } while (!reader.atEnd());
}

unsigned uuValue(std::string_view line, std::size_t i) {
  // Past the line a character counts as a blank (value 0): mailers strip trailing blanks,
  // and this never reads outside the line.
  return i < line.size() ? (static_cast<unsigned char>(line[i]) - 32u) & 63u : 0u;
}

void decodeUULine(std::string_view line, OutputBuffer& output) {
  int count = static_cast<int>(uuValue(line, 0));
  unsigned char* out = output.lineSpace();
  for (std::size_t i = 1; count > 0; i += 4, count -= 3) {
    const unsigned e = uuValue(line, i), f = uuValue(line, i + 1);
    const unsigned g = uuValue(line, i + 2), h = uuValue(line, i + 3);
    *out++ = static_cast<unsigned char>(e << 2 | f >> 4);
    if (count >= 2) *out++ = static_cast<unsigned char>(f << 4 | g >> 2);
    if (count >= 3) *out++ = static_cast<unsigned char>(g << 6 | h);
  }
  output.commit(out);
}

void decodeUU(LineReader& reader, OutputBuffer& output) {
  do {
    const std::string_view line = reader.next();
    if (line.size() <= 2) continue;
    if (uuValue(line, 0) == 0) {
      reader.next();  // the format's end line
      continue;
    }
    decodeUULine(line, output);
  } while (!reader.atEnd());
}

}  // namespace

void TUUProcessor::Decode() {
  if (InputStream == nullptr || OutputStream == nullptr)
    throw std::logic_error("TUUProcessor::Decode needs both streams");
  if (OnBeginDecode) OnBeginDecode(*this);
  {
    LineReader reader(*InputStream, InputBufferSize);
    OutputBuffer output(*OutputStream, OutputBufferSize);
    switch (Method) {
      case uuMime:
        decodeBase64(reader, output);
        break;
      case uuCode:
        decodeUU(reader, output);
        break;
    }
    output.flush();
    InputStream->setPosition(reader.position());
  }
  if (OnEndDecode) OnEndDecode(*this);
}

void decodeBase64Body(std::string_view body, OutputByteStream& out) {
  MemoryInputStream in(body);
  TUUProcessor decoder;
  decoder.Method = uuMime;
  decoder.InputStream = &in;
  decoder.OutputStream = &out;
  decoder.Decode();
}
