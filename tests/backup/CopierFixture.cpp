#include "CopierFixture.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "platform/Errors.h"
#include "platform/NewFile.h"
#include "support/ForkedChild.h"

bool sameBytes(const std::string& a, const std::string& b) {
  const int fa = ::open(a.c_str(), O_RDONLY), fb = ::open(b.c_str(), O_RDONLY);
  std::string x(1 << 20, '\0'), y(1 << 20, '\0');
  bool same = fa >= 0 && fb >= 0;
  for (off_t offset = 0; same;) {
    const ssize_t n = ::pread(fa, x.data(), x.size(), offset);
    same = n >= 0 && ::pread(fb, y.data(), y.size(), offset) == n &&
           std::memcmp(x.data(), y.data(), n) == 0;
    if (n <= 0) break;
    offset += n;
  }
  ::close(fa);
  ::close(fb);
  return same;
}

void writeSparse(const std::string& path, uint64_t size,
                 const std::vector<std::pair<uint64_t, std::string>>& extents) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) throw std::runtime_error("cannot create " + path);
  bool good = ::ftruncate(fd, static_cast<off_t>(size)) == 0;
  for (const auto& [offset, bytes] : extents)
    good = good && ::pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset)) ==
                       static_cast<ssize_t>(bytes.size());
  ::close(fd);
  if (!good) throw std::runtime_error("cannot write " + path);
}

Copier::Copier() {
  tree.mkdir("out");
  out = ::open(tree.path("out").c_str(), O_RDONLY | O_DIRECTORY);
  src = ::open(tree.root().c_str(), O_RDONLY | O_DIRECTORY);
}

Copier::~Copier() {
  ::close(out);
  ::close(src);
}

void Copier::copy(FileCopier& copier, const char* source, const char* target) {
  copier.copy(FileAt{src, srcFolder, source}, FileAt{out, outFolder, target});
}

std::string Copier::reasonOf(FileCopier& copier, const char* source, const char* target) {
  try {
    copy(copier, source, target);
  } catch (const ResguardaError& e) {
    return e.reason();
  }
  return "no error";
}

pid_t Copier::startStoppedCopy(bool unnamed, const char* source, const char* target) {
  const pid_t pid = startStoppedChild([&](const std::function<void()>& stopHere) {
    FileCopier copier(abandon);
    copier.setChunkSize(1 << 20);
    copier.setUnnamedTemporaries(unnamed);
    copier.setChunkObserver([&](uint64_t) { stopHere(); });
    try {
      copy(copier, source, target);
    } catch (...) {
    }
  });
  EXPECT_GT(pid, 0);
  return pid;
}

void Copier::kill(pid_t child) {
  killChild(child);
}

void Copier::killMidCopy(bool unnamed, const char* source, const char* target) {
  kill(startStoppedCopy(unnamed, source, target));
}

std::vector<std::string> Copier::temporariesInOut() const {
  std::vector<std::string> found;
  for (const std::string& name : TempTree::list(tree.path("out")))
    if (NewFile::isTemporaryName(name.c_str())) found.push_back(name);
  return found;
}

std::vector<std::string> Copier::journal() const {
  return TempTree::list(journalFolder);
}

struct stat Copier::statOf(const std::string& relative) const {
  struct stat st {};
  if (::lstat(tree.path(relative).c_str(), &st) != 0) st.st_mode = 0;
  return st;
}
