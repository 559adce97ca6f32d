#include "backup/BackupRun.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <functional>
#include <new>
#include <stdexcept>

#include "platform/Errors.h"
#include "platform/FolderChain.h"
#include "platform/RunLock.h"
#include "support/ForkedChild.h"
#include "support/RecordingObserver.h"
#include "support/TempTree.h"

namespace {

constexpr time_t kOld = 1600000000;

struct RunFixture {
  TempTree tree;
  TEstad estado;
  RecordingObserver observer;
  RunControl control;

  RunResult run(const RunSnapshot& snapshot, const MailTask& mail = {}) {
    control.go = true;
    return Resguarda(snapshot, estado, observer, control, mail);
  }
  std::string dest() const { return tree.path("dest/"); }
};

RunSnapshot::Row folderRow(const std::string& path, bool checked = true) {
  return {path.substr(path.rfind('/') + 1), path, checked, false};
}

RunSnapshot::Row mailRow(bool checked = true) {
  return {"Extraer Mensajes E-mail con adjuntos", "Extraer Mensajes E-mail con adjuntos", checked,
          true};
}

}  // namespace

TEST(Resguarda, RunsCheckedTasksInOrderWithStatusTextsAndGauge) {
  RunFixture f;
  f.tree.write("uno/a.txt", "a", kOld);
  f.tree.write("dos/b.txt", "b", kOld);
  f.tree.write("tres/c.txt", "c", kOld);
  const RunSnapshot snapshot{{folderRow(f.tree.path("uno")), folderRow(f.tree.path("tres"), false),
                              folderRow(f.tree.path("dos"))},
                             f.dest()};
  const RunResult result = f.run(snapshot);
  EXPECT_EQ(result.outcome, RunOutcome::Finished);
  EXPECT_EQ(result.failures, 0);
  EXPECT_EQ(f.observer.events(),
            (std::vector<std::string>{
                "start", "status:Copiando...", "task:" + f.tree.path("uno"),
                "log:" + f.tree.path("uno/a.txt"), "task:" + f.tree.path("dos"),
                "log:" + f.tree.path("dos/b.txt"), "status:Finalizado.", "end:Finished/0"}));
  EXPECT_EQ(f.estado.Copiados, 2);
  EXPECT_EQ(f.estado.Revisados, 2);
  EXPECT_EQ(f.estado.TextoEstado(), "Finalizado.");
  EXPECT_FALSE(f.control.go);
  EXPECT_EQ(TempTree::files(f.dest()), (std::vector<std::string>{"dos/b.txt", "uno/a.txt"}));
}

TEST(Resguarda, ANewRunResetsTheCountersAndClearsTheLog) {
  RunFixture f;
  f.tree.write("uno/a.txt", "a", kOld);
  const RunSnapshot snapshot{{folderRow(f.tree.path("uno"))}, f.dest()};
  f.run(snapshot);
  f.run(snapshot);
  EXPECT_EQ(f.estado.Copiados, 0);
  EXPECT_EQ(f.estado.Revisados, 1);
}

TEST(Resguarda, StopRequestedBeforeTheStartRunsNothing) {
  RunFixture f;
  f.tree.write("uno/a.txt", "a", kOld);
  f.control.go = false;
  const RunResult result =
      Resguarda({{folderRow(f.tree.path("uno"))}, f.dest()}, f.estado, f.observer, f.control, {});
  EXPECT_EQ(result.outcome, RunOutcome::Stopped);
  EXPECT_EQ(f.observer.events(), (std::vector<std::string>{"status:Detenido.", "end:Stopped/0"}));
  EXPECT_FALSE(TempTree::exists(f.dest()));
}

TEST(Resguarda, AStopDuringATaskLeavesTheLaterTasksUntouched) {
  RunFixture g;
  // A mail task placed first raises the stop; the folder task after it copies nothing.
  g.tree.write("uno/a.txt", "a", kOld);
  const RunSnapshot stopped{{mailRow(), folderRow(g.tree.path("uno"))}, g.dest()};
  const RunResult r = g.run(stopped, [](RunContext& run) { run.control.go = false; });
  EXPECT_EQ(r.outcome, RunOutcome::Stopped);
  EXPECT_EQ(g.estado.TextoEstado(), "Detenido.");
  const auto events = g.observer.events();
  EXPECT_EQ(events.back(), "end:Stopped/0");
  EXPECT_EQ(events[events.size() - 2], "status:Detenido.");
  EXPECT_EQ(std::count(events.begin(), events.end(), "task:" + g.tree.path("uno")), 1);
  EXPECT_TRUE(TempTree::files(g.dest()).empty());
}

TEST(Resguarda, NoDestinationRaisesTheButtonAndRunsNothing) {
  RunFixture f;
  f.tree.write("uno/a.txt", "a", kOld);
  const RunResult result = f.run({{folderRow(f.tree.path("uno"))}, ""});
  EXPECT_EQ(result.outcome, RunOutcome::NoDestination);
  EXPECT_EQ(f.observer.events(), (std::vector<std::string>{"start", "end:NoDestination/0"}));
  EXPECT_EQ(f.estado.Revisados, 0);
  EXPECT_FALSE(f.control.go);
}

namespace {

// A destination the run cannot use, and what the run must say of it.
struct UnusableCase {
  const char* name;
  std::function<std::string(TempTree&)> destination;  // DIR_DESTINO
  std::function<std::string(TempTree&)> problem;
};

class UnusableDestination : public ::testing::TestWithParam<UnusableCase> {};

}  // namespace

TEST_P(UnusableDestination, RunsNothingAndSaysWhyInTheLogAndTheStatus) {
  RunFixture f;
  f.tree.write("uno/a.txt", "a", kOld);
  f.tree.write("file", "not a folder");
  // A relative destination must not be taken from the current folder.
  char here[4096];
  ASSERT_NE(::getcwd(here, sizeof here), nullptr);
  ASSERT_EQ(::chdir(f.tree.root().c_str()), 0);
  const RunResult result = f.run({{folderRow(f.tree.path("uno"))}, GetParam().destination(f.tree)});
  ASSERT_EQ(::chdir(here), 0);
  const std::string problem = GetParam().problem(f.tree);
  EXPECT_EQ(result.outcome, RunOutcome::DestinationNotCreatable);
  EXPECT_EQ(f.observer.events(),
            (std::vector<std::string>{"start", "log:ERROR - " + problem, "status:" + problem,
                                      "end:DestinationNotCreatable/0"}));
  EXPECT_EQ(f.estado.TextoEstado(), problem);
  EXPECT_EQ(f.estado.Revisados, 0);
  EXPECT_FALSE(f.control.go);
  EXPECT_EQ(TempTree::list(f.tree.root()), (std::vector<std::string>{"file", "uno"}));
}

INSTANTIATE_TEST_SUITE_P(
    Resguarda, UnusableDestination,
    ::testing::Values(
        UnusableCase{"AFileInTheWay", [](TempTree& at) { return at.path("file/dest/"); },
                     [](TempTree& at) {
                       return "No se puede crear la carpeta de destino " + at.path("file/dest") +
                              ": una parte de la ruta es un archivo, no una carpeta";
                     }},
        UnusableCase{"ARelativePath", [](TempTree&) { return std::string("copias/hoy/"); },
                     [](TempTree&) {
                       return std::string(
                           "La carpeta de destino copias/hoy no es una ruta completa: tiene "
                           "que empezar por \"/\"");
                     }}),
    [](const ::testing::TestParamInfo<UnusableCase>& row) { return std::string(row.param.name); });

TEST(Resguarda, AFolderLeftByAnUnpluggedDiskIsNeverWrittenTo) {
  // In a mount namespace of its own, /media is a tmpfs of the test's.
  const std::string answer = runInChild([]() -> std::string {
    if (::unshare(CLONE_NEWNS) != 0 ||
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount("tmpfs", "/media", "tmpfs", 0, "size=1m") != 0)
      return "no mounts";
    ::mkdir("/media/ana", 0755);
    ::mkdir("/media/ana/DISCO", 0755);
    RunFixture f;
    f.tree.write("uno/a.txt", "a", kOld);
    const RunResult result = f.run({{folderRow(f.tree.path("uno"))}, "/media/ana/DISCO/copias/"});
    std::string out = f.estado.TextoEstado() + "|" + f.observer.logLines().at(0);
    if (result.outcome != RunOutcome::DestinationNotCreatable) out += "|ran";
    if (!TempTree::list("/media/ana/DISCO").empty()) out += "|written";
    return out;
  });
  if (answer == "no mounts") GTEST_SKIP() << "no private mounts here";
  EXPECT_EQ(answer,
            "El disco de destino no está conectado: /media/ana/DISCO/copias|"
            "ERROR - El disco de destino no está conectado: /media/ana/DISCO/copias");
}

TEST(Resguarda, OneRunPerDestinationAtATime) {
  RunFixture f;
  f.tree.write("uno/a.txt", "a", kOld);
  f.tree.mkdir("dest");
  ASSERT_EQ(::symlink(f.tree.path("dest").c_str(), f.tree.path("same").c_str()), 0);
  RunSnapshot snapshot{{folderRow(f.tree.path("uno"))}, f.dest()};
  snapshot.stateFolder = f.tree.path("state");
  {
    // Another run holds the same folder, under another name.
    const RunLock other =
        RunLock::take(snapshot.stateFolder, resolveFolderPath(f.tree.path("same")));
    ASSERT_EQ(other.state(), RunLock::State::Held);
    EXPECT_EQ(f.run(snapshot).outcome, RunOutcome::DestinationNotCreatable);
    EXPECT_EQ(f.estado.TextoEstado(), "Ya hay una copia en curso hacia " + f.tree.path("dest"));
    EXPECT_TRUE(TempTree::files(f.tree.path("dest")).empty());
  }
  {
    // One without a state folder in common (another user's, or a linked one) meets it too.
    const RunLock other = RunLock::onFolder(resolveFolderPath(f.tree.path("same")));
    ASSERT_EQ(other.state(), RunLock::State::Held);
    RunSnapshot stateless = snapshot;
    stateless.stateFolder.clear();
    EXPECT_EQ(f.run(stateless).outcome, RunOutcome::DestinationNotCreatable);
    EXPECT_TRUE(TempTree::files(f.tree.path("dest")).empty());
  }
  EXPECT_EQ(f.run(snapshot).outcome, RunOutcome::Finished);
  EXPECT_EQ(TempTree::files(f.tree.path("dest")), std::vector<std::string>{"uno/a.txt"});
}

TEST(Resguarda, MailTaskIsDispatchedWhereverItStandsAndItsFailureIsLogged) {
  RunFixture f;
  f.tree.write("uno/a.txt", "a", kOld);
  int calls = 0;
  const RunSnapshot snapshot{{mailRow(), folderRow(f.tree.path("uno")), mailRow(false)}, f.dest()};
  const RunResult result = f.run(snapshot, [&](RunContext&) {
    ++calls;
    throw cannotOpenFile("/store/folders.dbx", ENOENT);
  });
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(result.outcome, RunOutcome::Finished);
  EXPECT_EQ(result.failures, 1);
  EXPECT_EQ(f.observer.logLines(),
            (std::vector<std::string>{"ERROR - /store/folders.dbx: No such file or directory",
                                      f.tree.path("uno/a.txt")}));
}

TEST(Resguarda, WithoutAMailExportTheMailTaskFailsAndTheRunGoesOn) {
  RunFixture f;
  f.tree.write("uno/a.txt", "a", kOld);
  const RunResult result = f.run({{mailRow(), folderRow(f.tree.path("uno"))}, f.dest()});
  EXPECT_EQ(result.failures, 1);
  ASSERT_EQ(f.observer.logLines().size(), 2u);
  EXPECT_EQ(f.observer.logLines()[0].rfind("ERROR - Extraer Mensajes E-mail con adjuntos: ", 0),
            0u);
  EXPECT_EQ(f.estado.Copiados, 1);
}

TEST(Resguarda, EmptyAndMissingTaskFoldersArePassedOver) {
  RunFixture f;
  f.tree.write("uno/a.txt", "a", kOld);
  const RunSnapshot snapshot{
      {folderRow(""), folderRow(f.tree.path("missing")), folderRow(f.tree.path("uno"))}, f.dest()};
  const RunResult result = f.run(snapshot);
  EXPECT_EQ(result.outcome, RunOutcome::Finished);
  EXPECT_EQ(TempTree::files(f.dest()), std::vector<std::string>{"uno/a.txt"});
  const auto events = f.observer.events();
  EXPECT_EQ(std::count_if(events.begin(), events.end(),
                          [](const std::string& e) { return e.starts_with("task:"); }),
            3);
}

TEST(Resguarda, RelativeTaskPathsAreNotTakenFromTheCurrentFolder) {
  RunFixture f;
  f.tree.write("1/a.txt", "a", kOld);
  char previous[4096];
  ASSERT_NE(::getcwd(previous, sizeof previous), nullptr);
  ASSERT_EQ(::chdir(f.tree.root().c_str()), 0);
  const RunResult result = f.run({{folderRow("1")}, f.dest()});
  ASSERT_EQ(::chdir(previous), 0);
  EXPECT_EQ(result.outcome, RunOutcome::Finished);
  EXPECT_TRUE(TempTree::files(f.dest()).empty());
}

TEST(Resguarda, ADestinationInsideTheTaskFolderIsNotCopiedIntoItself) {
  RunFixture f;
  f.tree.write("docs/a.txt", "a", kOld);
  const RunSnapshot snapshot{{folderRow(f.tree.path("docs"))}, f.tree.path("docs/copias/")};
  f.run(snapshot);
  f.run(snapshot);
  EXPECT_EQ(TempTree::files(f.tree.path("docs")),
            (std::vector<std::string>{"a.txt", "copias/docs/a.txt"}));
}

TEST(Resguarda, TasksMergedInOneDestinationFolderAreWarnedOfAtTheStart) {
  RunFixture f;
  f.tree.write("a/Documentos/x", "a", kOld);
  f.tree.write("b/Documentos/y", "b", kOld);
  f.tree.write("c/mensajes/z", "c", kOld);
  const std::string a = f.tree.path("a/Documentos"), b = f.tree.path("b/Documentos");
  const std::string own = f.tree.path("c/mensajes");
  f.run({{folderRow(a), folderRow(b), folderRow(own), mailRow()}, f.dest()}, [](RunContext&) {});
  const auto lines = f.observer.logLines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[0],
            "AVISO - Las carpetas " + a + " y " + b + " se copian en la misma carpeta " + f.dest() +
                "Documentos: los archivos con el mismo nombre no se guardan por separado");
  EXPECT_EQ(
      lines[1].rfind("AVISO - La carpeta " + own + " se copia en " + f.dest() + "mensajes", 0), 0u);

  // Names that differ only by case are one folder on FAT and exFAT; a row repeated after
  // another of its name is told of that other.
  RunFixture h;
  const std::string upper = h.tree.mkdir("a/Fotos"), lower = h.tree.mkdir("b/fotos");
  h.run({{folderRow(upper), folderRow(upper), folderRow(lower), folderRow(upper)}, h.dest()});
  const std::string shared = " se copian en la misma carpeta " + h.dest() +
                             "Fotos: los archivos con el mismo nombre no se guardan por separado";
  EXPECT_EQ(h.observer.logLines(),
            (std::vector<std::string>{"AVISO - Las carpetas " + upper + " y " + lower + shared,
                                      "AVISO - Las carpetas " + lower + " y " + upper + shared}));

  // Unchecked or repeated rows merge nothing.
  RunFixture g;
  g.tree.write("a/Documentos/x", "a", kOld);
  g.run({{folderRow(a), folderRow(a), folderRow(b, false), folderRow(own)}, g.dest()});
  for (const std::string& line : g.observer.logLines()) EXPECT_NE(line.rfind("AVISO", 0), 0u);
}

TEST(Resguarda, AnErrorEscapingTheRunStillEndsIt) {
  struct Throwing : RecordingObserver {
    void taskStarted(const std::string&, bool) override { throw std::bad_alloc(); }
  };
  TempTree tree;
  tree.write("uno/a.txt", "a", kOld);
  TEstad estado;
  Throwing observer;
  RunControl control;
  control.go = true;
  const RunResult result =
      Resguarda({{folderRow(tree.path("uno"))}, tree.path("dest/")}, estado, observer, control, {});
  EXPECT_EQ(result.outcome, RunOutcome::Finished);
  EXPECT_EQ(result.failures, 1);
  ASSERT_EQ(observer.logLines().size(), 1u);
  EXPECT_EQ(observer.logLines()[0].rfind("ERROR - ", 0), 0u);
  EXPECT_EQ(estado.TextoEstado(), "Finalizado.");
}

TEST(Resguarda, ALinkedDestinationIsResolvedOnceAtTheStart) {
  RunFixture f;
  f.tree.write("uno/a.txt", "a", kOld);
  f.tree.mkdir("disk/sub");
  ASSERT_EQ(::symlink(f.tree.path("disk").c_str(), f.tree.path("backup").c_str()), 0);
  f.run({{folderRow(f.tree.path("uno"))}, f.tree.path("backup/./sub/../copias/")});
  EXPECT_EQ(TempTree::files(f.tree.path("disk/copias")), std::vector<std::string>{"uno/a.txt"});
}
