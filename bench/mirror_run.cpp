// Mirrors folders into a destination with the program's walk, outside the program:
//   mirror_run <destination>/ <folder>...
// Prints the counters and the time taken.
#include <chrono>
#include <cstdio>
#include <string>

#include "backup/CopiarCarpeta.h"
#include "backup/RunContext.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s <destination>/ <folder>...\n", argv[0]);
    return 2;
  }
  TEstad estado;
  NullRunObserver observer;
  RunControl control;
  control.go = true;
  RunContext run{estado, observer, control, argv[1]};
  const auto start = std::chrono::steady_clock::now();
  for (int i = 2; i < argc; ++i) {
    std::string root = argv[i];
    while (root.size() > 1 && root.back() == '/') root.pop_back();
    const MirrorTask task{root, FolderIdentity::of(run.dirDestino)};
    CopiarCarpeta(root + "/", task, run);
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("Actualizados %d Copiados %d Revisados %d fallos %d en %.3f s\n",
              estado.Actualizados.load(), estado.Copiados.load(), estado.Revisados.load(),
              run.failures, seconds);
  return run.failures ? 1 : 0;
}
