// One whole run (Resguarda, as the program makes it) of one folder task, with the additions to
// the mirror chosen on the command line instead of from a settings file:
//   beyond_run <destination>/ <folder> [versions] [check] [exclude=<pattern>]...
// Prints the counters, the check's and the time taken; exits 1 when anything failed.
#include <chrono>
#include <cstdio>
#include <string>

#include "backup/BackupRun.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s <destination>/ <folder> [versions] [check] [exclude=P]...\n",
                 argv[0]);
    return 2;
  }
  RunSnapshot snapshot{{{argv[2], argv[2], true, false}}, argv[1]};
  for (int i = 3; i < argc; ++i) {
    const std::string option = argv[i];
    if (option == "versions") snapshot.keepVersions = true;
    if (option == "check") snapshot.forceCheck = true;
    if (option.starts_with("exclude=")) snapshot.exclusions.push_back(option.substr(8));
  }
  TEstad estado;
  NullRunObserver observer;
  RunControl control;
  control.go = true;
  const auto start = std::chrono::steady_clock::now();
  const RunResult result = Resguarda(snapshot, estado, observer, control, {});
  const auto end = std::chrono::steady_clock::now();
  std::printf(
      "Actualizados %d Copiados %d Revisados %d Comprobados %d Dañados %d fallos %d "
      "en %.3f s\n",
      estado.Actualizados.load(), estado.Copiados.load(), estado.Revisados.load(),
      estado.Comprobados.load(), estado.Danados.load(), result.failures,
      std::chrono::duration<double>(end - start).count());
  return result.failures ? 1 : 0;
}
