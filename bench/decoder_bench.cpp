// Decoder throughput in memory, without file system costs.
#include <benchmark/benchmark.h>

#include <random>
#include <string>

#include "mail/UUE.h"

namespace {

// A Base64 body as the mail export hands it over: 76-character lines ending in CR LF.
std::string makeBody(std::size_t bytes) {
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::mt19937 rng(1);
  std::string body;
  for (std::size_t i = 0; i < bytes; i += 57) {
    for (int j = 0; j < 76; ++j) body += kAlphabet[rng() % 64];
    body += "\r\n";
  }
  return body;
}

void BM_DecodeMime(benchmark::State& state) {
  const std::string body = makeBody(static_cast<std::size_t>(state.range(0)));
  std::string result;
  result.reserve(body.size());
  for (auto _ : state) {
    result.clear();
    MemoryInputStream in(body);
    StringOutputStream out(result);
    TUUProcessor processor;
    processor.InputStream = &in;
    processor.OutputStream = &out;
    processor.Decode();
    benchmark::DoNotOptimize(result.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * body.size()));
}

}  // namespace

BENCHMARK(BM_DecodeMime)->Arg(64 * 1024)->Arg(8 * 1024 * 1024);
