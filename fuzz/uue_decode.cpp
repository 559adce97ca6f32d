// Decodes arbitrary input with both methods and compares the buffered decoder with a plain
// byte-at-a-time decoder that reads a fresh 200-byte window for every line.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "mail/UUE.h"

namespace {

// Reads one line the slow way: copy a window, look for the LF, move the position.
std::string readLine(std::string_view input, std::size_t& position) {
  std::string window;
  if (position < input.size()) window = std::string(input.substr(position, 200));
  const std::size_t lf = window.find('\n');
  if (lf == std::string::npos) {
    position += 61;
    return window;
  }
  position += lf + 1;
  return window.substr(0, lf >= 1 ? lf - 1 : 0);
}

int base64Value(unsigned char ch) {
  if (ch >= 'A' && ch <= 'Z') return ch - 'A';
  if (ch >= 'a' && ch <= 'z') return ch - 'a' + 26;
  if (ch >= '0' && ch <= '9') return ch - '0' + 52;
  if (ch == '+') return 62;
  if (ch == '/') return 63;
  if (ch == '=') return 64;
  return 127;
}

std::string referenceBase64(std::string_view input, std::size_t position) {
  std::string out;
  for (;;) {
    const std::string line = readLine(input, position);
    const std::size_t n = line.size();
    bool endOfData = false;
    if (n > 2 && line.compare(0, 4, "====") != 0) {
      std::size_t c = 0;
      while (c + 1 < n) {
        const char ch = line[c];
        if (ch == '\r' || ch == '\n' || ch == '=') return out;
        if (base64Value(ch) != 127) break;
        ++c;
      }
      while (!endOfData && c + 1 < n) {
        int v[4];
        int have = 0;  // alphabet characters at the group's start
        for (int j = 0; j < 4 && c + j < n; ++j) {
          v[j] = base64Value(line[c + j]);
          if (v[j] >= 64) break;
          ++have;
        }
        if (have == 0) {
          if (v[0] == 64) endOfData = true;
          ++c;
          continue;
        }
        if (have >= 2) out += static_cast<char>(v[0] * 4 + v[1] / 16);
        if (have >= 3) out += static_cast<char>((v[1] * 16 + v[2] / 4) % 256);
        if (have == 4) out += static_cast<char>((v[2] * 64 + v[3]) % 256);
        if (have == 4) {
          c += 4;
        } else if (c + have >= n) {
          c = n;
        } else if (have >= 2 && v[have] == 64) {
          endOfData = true;
        } else {
          c += have;
        }
      }
    }
    if (endOfData || position >= input.size()) return out;
  }
}

int uuValue(const std::string& line, std::size_t i) {
  if (i >= line.size()) return 0;
  return (static_cast<unsigned char>(line[i]) - 32) & 63;
}

std::string referenceUU(std::string_view input, std::size_t position) {
  std::string out;
  for (;;) {
    const std::string line = readLine(input, position);
    if (line.size() > 2) {
      int n = uuValue(line, 0);
      if (n == 0) readLine(input, position);
      for (std::size_t i = 1; n > 0; n -= 3, i += 4) {
        const int e = uuValue(line, i), f = uuValue(line, i + 1);
        const int g = uuValue(line, i + 2), h = uuValue(line, i + 3);
        out += static_cast<char>((e * 4 + f / 16) % 256);
        if (n >= 2) out += static_cast<char>((f * 16 + g / 4) % 256);
        if (n >= 3) out += static_cast<char>((g * 64 + h) % 256);
      }
    }
    if (position >= input.size()) return out;
  }
}

}  // namespace

// First byte: bit 0 the method, bits 1-7 the start position; second byte: buffer sizes.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const UUMethods method = (data[0] & 1) ? uuCode : uuMime;
  const std::size_t start = data[0] >> 1;
  const std::size_t inputBuffer = 512 + 37 * (data[1] & 15);
  const std::size_t outputBuffer = 512 + 53 * (data[1] >> 4);
  const std::string_view input(reinterpret_cast<const char*>(data) + 2, size - 2);

  MemoryInputStream in(input);
  in.setPosition(start);
  std::string result;
  StringOutputStream out(result);
  TUUProcessor processor;
  processor.Method = method;
  processor.InputStream = &in;
  processor.OutputStream = &out;
  processor.InputBufferSize = inputBuffer;
  processor.OutputBufferSize = outputBuffer;
  processor.Decode();

  const std::string expected =
      method == uuMime ? referenceBase64(input, start) : referenceUU(input, start);
  if (result != expected) std::abort();
  if (in.position() > std::max(input.size(), start)) std::abort();
  return 0;
}
