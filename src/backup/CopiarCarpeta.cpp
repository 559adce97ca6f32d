#include "backup/CopiarCarpeta.h"

#include <fcntl.h>
#include <sys/resource.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <mutex>

#include "backup/MirrorWalk.h"
#include "backup/RunContext.h"
#include "platform/Errors.h"
#include "platform/PathText.h"
#include "platform/UniqueFd.h"

namespace {

// A deep tree holds two descriptors per level: the usual soft limit of 1,024 is too few.
void raiseOpenFileLimit() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= limit.rlim_max) return;
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
  });
}

// Where the last name of a path without a trailing "/" begins.
std::size_t lastNameAt(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? 0 : slash + 1;
}

// The task folder as it is walked, without a trailing "/": a path ending in "." or ".."
// names its folder by a detour, and the folder's real name is the one that goes to the
// destination. Empty when there is no such folder.
std::string taskFolder(const std::string& taskRoot) {
  std::string root = withoutTrailingSlash(taskRoot);
  const std::string_view lastName = std::string_view(root).substr(lastNameAt(root));
  if (lastName != "." && lastName != "..") return root;
  std::unique_ptr<char, decltype(&std::free)> real(::realpath(root.c_str(), nullptr), &std::free);
  return real ? std::string(real.get()) : std::string();
}

void mirrorTask(const MirrorTask& task, RunContext& run) {
  const std::string root = taskFolder(task.taskRoot);
  if (root.empty()) return;
  const std::string source = withTrailingSlash(root);
  // The task folder keeps its own name inside the destination: its parent is cut.
  std::string destination =
      joinPath(run.dirDestino, std::string_view(source).substr(lastNameAt(root)));

  raiseOpenFileLimit();
  UniqueFd rootFd(::open(source.c_str(), kFolderFlags));
  if (!rootFd) {
    // A missing task folder is passed over without a message; one that is there but cannot
    // be read is a failure.
    const int err = errno;
    if (err != ENOENT) run.fail(root, cannotOpenFile(root, err));
    return;
  }
  UniqueFd destinationRoot(::open(run.dirDestino.c_str(), kFolderFlags));
  MirrorWalk walk(task, run);
  walk.start(std::move(rootFd), source, std::move(destination), run.dirDestino.size(),
             std::move(destinationRoot));
}

}  // namespace

void CopiarCarpeta(const MirrorTask& task, RunContext& run) {
  // An empty task path is passed over: "" + "/" would be the whole file system.
  if (!run.goOn() || task.taskRoot.empty() || run.dirDestino.empty()) return;
  try {
    mirrorTask(task, run);
  } catch (...) {
    run.fail(task.taskRoot, std::current_exception());
  }
}
