// Mirrors folders into a destination with the program's walk, outside the program:
//   mirror_run <destination>/ <folder>...
// Ends, as a run does, with one syncfs of the destination. Prints the counters, the time
// taken and, separately, the part of it that the syncfs took.
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "backup/CopiarCarpeta.h"
#include "backup/RunContext.h"
#include "platform/PathText.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s <destination>/ <folder>...\n", argv[0]);
    return 2;
  }
  TEstad estado;
  NullRunObserver observer;
  RunControl control;
  control.go = true;
  RunContext run{estado, observer, control, withTrailingSlash(argv[1])};
  const auto start = std::chrono::steady_clock::now();
  for (int i = 2; i < argc; ++i) {
    const std::string root = withoutTrailingSlash(argv[i]);
    const MirrorTask task{root, FileIdentity::ofFolder(run.dirDestino)};
    CopiarCarpeta(task, run);
  }
  const auto walked = std::chrono::steady_clock::now();
  const int fd = ::open(run.dirDestino.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    ::syncfs(fd);
    ::close(fd);
  }
  const auto end = std::chrono::steady_clock::now();
  std::printf("Actualizados %d Copiados %d Revisados %d fallos %d en %.3f s syncfs %.3f s\n",
              estado.Actualizados.load(), estado.Copiados.load(), estado.Revisados.load(),
              run.failures, std::chrono::duration<double>(end - start).count(),
              std::chrono::duration<double>(end - walked).count());
  return run.failures ? 1 : 0;
}
