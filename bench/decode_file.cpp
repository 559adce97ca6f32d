// Decodes a file with TUUProcessor into another file: decode_file [--uucode] <input> <output>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "mail/UUE.h"
#include "platform/Errors.h"

int main(int argc, char** argv) {
  int arg = 1;
  UUMethods method = uuMime;
  if (argc > 1 && std::strcmp(argv[1], "--uucode") == 0) {
    method = uuCode;
    ++arg;
  }
  if (argc - arg != 2) {
    std::fprintf(stderr, "usage: %s [--uucode] <input> <output>\n", argv[0]);
    return 2;
  }
  const std::string inPath = argv[arg], outPath = argv[arg + 1];
  const int inFd = ::open(inPath.c_str(), O_RDONLY | O_CLOEXEC);
  if (inFd < 0) {
    std::fprintf(stderr, "%s: %s\n", inPath.c_str(), std::strerror(errno));
    return 1;
  }
  const int outFd = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (outFd < 0) {
    std::fprintf(stderr, "%s: %s\n", outPath.c_str(), std::strerror(errno));
    ::close(inFd);
    return 1;
  }
  int status = 0;
  try {
    FdInputStream in(inFd, inPath);
    FdOutputStream out(outFd, outPath);
    TUUProcessor processor;
    processor.Method = method;
    processor.InputStream = &in;
    processor.OutputStream = &out;
    processor.Decode();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", errorLogLine(outPath, e).c_str());
    status = 1;
  }
  ::close(inFd);
  if (::close(outFd) != 0 && status == 0) {
    std::fprintf(stderr, "%s: %s\n", outPath.c_str(), std::strerror(errno));
    status = 1;
  }
  return status;
}
