#include "support/Unprivileged.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "support/ForkedChild.h"

namespace {
constexpr uid_t kNobody = 65534;
}

int runUnprivileged(const std::function<int()>& body) {
  const pid_t child = startChild([&] {
    if (::geteuid() == 0 && (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)) return 125;
    return body();
  });
  const ChildEnd end = waitForChild(child);
  return end.exited ? end.status : -1;
}

void makeReadOnlyForOthers(const std::string& root, const std::string& folder) {
  std::string path = root;
  ::chmod(path.c_str(), 0755);
  for (size_t pos = root.size() + 1; pos <= folder.size(); ++pos) {
    if (pos == folder.size() || folder[pos] == '/') ::chmod(folder.substr(0, pos).c_str(), 0755);
  }
  // Files already there stay readable by others.
  ::chmod(folder.c_str(), 0555);
}
