#include "app/DesktopNotification.h"

#include <sys/socket.h>
#include <sys/un.h>

#include <QStringList>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>

#include "PrivateBus.h"
#include "UnattendedFixture.h"

namespace {

constexpr time_t kOld = 1600000000;

// A socket that takes connections into its queue and never answers, as a bus that hangs.
class SilentSocket {
 public:
  explicit SilentSocket(const std::string& path) : fd_(::socket(AF_UNIX, SOCK_STREAM, 0)) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(fd_, 8);
  }
  ~SilentSocket() { ::close(fd_); }

 private:
  int fd_;
};

struct AddressCase {
  const char* name;
  std::string variable;
  // Lays out the runtime folder; returns it.
  std::function<std::string(TempTree&)> runtime;
  // What is expected, given the runtime folder.
  std::function<std::string(const std::string&)> expected;
};

class SessionBus : public ::testing::TestWithParam<AddressCase> {};

std::string none(const std::string&) {
  return "";
}

}  // namespace

TEST_P(SessionBus, IsTheOneTheSessionNamesAndNeverOneToBeStarted) {
  TempTree tree;
  const std::string runtime = GetParam().runtime(tree);
  EXPECT_EQ(sessionBusAddress(GetParam().variable, runtime), GetParam().expected(runtime));
}

INSTANTIATE_TEST_SUITE_P(
    DesktopNotification, SessionBus,
    ::testing::Values(
        AddressCase{"TheVariableFirst", "unix:path=/run/user/1000/bus",
                    [](TempTree& scene) { return scene.mkdir("run"); },
                    [](const std::string&) { return std::string("unix:path=/run/user/1000/bus"); }},
        AddressCase{"TheRuntimeSocket", "",
                    [](TempTree& scene) {
                      const std::string folder = scene.mkdir("run dir");
                      SilentSocket socket(folder + "/bus");  // the socket file stays
                      return folder;
                    },
                    [](const std::string& folder) {
                      return "unix:path=" + folder.substr(0, folder.size() - 4) + "%20dir/bus";
                    }},
        AddressCase{"AFileIsNoSocket", "",
                    [](TempTree& scene) {
                      scene.write("run/bus", "");
                      return scene.path("run");
                    },
                    none},
        AddressCase{"NoSocket", "", [](TempTree& scene) { return scene.mkdir("run"); }, none},
        AddressCase{"NoRuntimeFolder", "", [](TempTree&) { return std::string(); }, none},
        AddressCase{"ARelativeRuntimeFolder", "", [](TempTree&) { return std::string("run"); },
                    none}),
    [](const testing::TestParamInfo<AddressCase>& p) { return std::string(p.param.name); });

namespace {

using Clock = std::chrono::steady_clock;

const NotificationText kText{"Finalizado.", "Actualizados: 0  Copiados: 1  Revisados: 1"};

struct BadBusCase {
  const char* name;
  // What a broken bus answers the greeting with; nullptr when there is no such bus.
  const char* reply;
  // The address; "" for a socket where no one listens.
  std::string address;
};

class BadBus : public ::testing::TestWithParam<BadBusCase> {};

std::chrono::milliseconds since(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
}

}  // namespace

TEST_P(BadBus, NeitherHoldsTheProgramNorCountsAsShown) {
  TempTree tree;
  std::string address = GetParam().address;
  if (address.empty()) address = "unix:path=" + tree.path("missing");
  std::unique_ptr<BrokenBus> broken;
  if (GetParam().reply) {
    broken = std::make_unique<BrokenBus>(tree.path("bus"), GetParam().reply);
    address = broken->address();
  }
  const auto start = Clock::now();
  EXPECT_FALSE(notifyDesktop(kText, address));
  EXPECT_LT(since(start).count(), 1500);
}

INSTANTIATE_TEST_SUITE_P(
    DesktopNotification, BadBus,
    ::testing::Values(BadBusCase{"AGarbageLine", "HELO\r\n", ""},
                      BadBusCase{"OkThenSilence", "OK 0123456789abcdef0123456789abcdef\r\n", ""},
                      BadBusCase{"AcceptsAndNeverAnswers", "", ""},
                      BadBusCase{"NoOneListens", nullptr, ""},
                      // Each of these would start a bus or is not local.
                      BadBusCase{"Autolaunch", nullptr, "autolaunch:"},
                      BadBusCase{"Tcp", nullptr, "tcp:host=localhost,port=1"},
                      BadBusCase{"AnEmptyAbstractName", nullptr, "unix:abstract="}),
    [](const testing::TestParamInfo<BadBusCase>& p) { return std::string(p.param.name); });

TEST(DesktopNotification, ABusThatFailsIsPassedOverForTheNextEntry) {
  TempTree tree;
  SilentSocket silent(tree.path("silent"));
  BrokenBus garbage(tree.path("garbage"), "HELO\r\n");
  PrivateBus bus(tree.mkdir("bus"));
  if (!bus.available()) GTEST_SKIP() << "no dbus-daemon";
  FakeNotifications service(bus.address(), true);
  ASSERT_TRUE(service.registered());
  EXPECT_TRUE(notifyDesktop(kText, "unix:path=" + tree.path("missing") +
                                       ";unix:path=" + tree.path("silent") + ";" +
                                       garbage.address() + ";" + bus.address()));
  ASSERT_EQ(service.calls().size(), 1u);
  EXPECT_EQ(service.calls()[0][3].toString().toStdString(), kText.summary);
}

namespace {

class UnattendedNotification;

struct NotifyCase {
  const char* name;
  // Lays out the settings and files; returns the expected summary and body.
  std::function<std::pair<std::string, std::string>(UnattendedNotification&)> setup;
  int status;
};

class UnattendedNotification : public UnattendedProgram,
                               public ::testing::WithParamInterface<NotifyCase> {
 public:
  TempTree& files() { return tree; }
  void settings(const std::string& destination, const std::vector<std::string>& tasks) {
    writeSettings(destination, tasks);
  }
};

// Waits, for a few seconds at most, until the service has taken a call.
std::vector<QList<QVariant>> callsOf(const FakeNotifications& service) {
  for (int i = 0; i < 500 && service.calls().empty(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return service.calls();
}

}  // namespace

TEST_P(UnattendedNotification, TheDesktopIsToldHowTheRunEnded) {
  PrivateBus bus(tree.mkdir("bus"));
  if (!bus.available()) GTEST_SKIP() << "no dbus-daemon";
  FakeNotifications service(bus.address(), true);
  ASSERT_TRUE(service.registered());
  const auto [summary, body] = GetParam().setup(*this);
  const Outcome outcome = run({"-hide"}, {{"DBUS_SESSION_BUS_ADDRESS", bus.address()}});
  EXPECT_EQ(outcome.status, GetParam().status) << outcome.err;
  const auto calls = callsOf(service);
  ASSERT_EQ(calls.size(), 1u);
  const QList<QVariant>& arguments = calls[0];
  ASSERT_EQ(arguments.size(), 8);
  EXPECT_EQ(arguments[0].toString(), "Resguarda");
  EXPECT_EQ(arguments[3].toString().toStdString(), summary);
  EXPECT_EQ(arguments[4].toString().toStdString(), body);
  EXPECT_TRUE(arguments[5].toStringList().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    UnattendedProgram, UnattendedNotification,
    ::testing::Values(NotifyCase{"Finished",
                                 [](UnattendedNotification& p) {
                                   p.files().write("docs/a.txt", "a", kOld);
                                   p.files().write("docs/b.txt", "b", kOld);
                                   p.settings(p.files().path("copias"), {p.files().path("docs")});
                                   return std::make_pair(
                                       std::string("Finalizado."),
                                       std::string("Actualizados: 0  Copiados: 2  Revisados: 2"));
                                 },
                                 0},
                      NotifyCase{"FinishedWithAFailedFile",
                                 [](UnattendedNotification& p) {
                                   p.files().write("docs/a.txt", "new", time(nullptr) + 3600);
                                   const std::string locked =
                                       p.files().write("copias/docs/a.txt", "old", kOld);
                                   ::chmod(locked.c_str(), 0444);
                                   p.settings(p.files().path("copias"), {p.files().path("docs")});
                                   return std::make_pair(
                                       std::string("Finalizado."),
                                       std::string("Actualizados: 0  Copiados: 0  Revisados: 1\n"
                                                   "1 archivo con errores"));
                                 },
                                 1},
                      NotifyCase{
                          "ADestinationThatCannotBeCreated",
                          [](UnattendedNotification& p) {
                            p.files().write("blocked", "a file where the folder should be");
                            p.files().mkdir("docs");
                            p.settings(p.files().path("blocked/a&b"), {p.files().path("docs")});
                            // The body is markup to some desktops.
                            return std::make_pair(std::string("No se pudo hacer la copia."),
                                                  "No se puede crear la carpeta de destino " +
                                                      p.files().path("blocked/a&amp;b") +
                                                      ": una parte de la ruta es un archivo, no "
                                                      "una carpeta");
                          },
                          2}),
    [](const testing::TestParamInfo<NotifyCase>& p) { return std::string(p.param.name); });

TEST_F(UnattendedProgram, ABusOrServiceThatDoesNotAnswerDoesNotHoldTheEnd) {
  tree.write("docs/a.txt", "a", kOld);
  writeSettings(tree.path("copias"), {tree.path("docs")});
  SilentSocket silent(tree.path("silent"));
  Outcome outcome =
      run({"-hide"}, {{"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + tree.path("silent")}});
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(outcome.out, "Finalizado. Actualizados: 0 Copiados: 1 Revisados: 1\n");

  BrokenBus garbage(tree.path("garbage"), "HELO\r\n");
  outcome = run({"-hide"}, {{"DBUS_SESSION_BUS_ADDRESS", garbage.address()}});
  EXPECT_EQ(outcome.status, 0) << outcome.err;

  PrivateBus bus(tree.mkdir("bus"));
  if (!bus.available()) GTEST_SKIP() << "no dbus-daemon";
  FakeNotifications service(bus.address(), false);
  ASSERT_TRUE(service.registered());
  outcome = run({"-hide"}, {{"DBUS_SESSION_BUS_ADDRESS", bus.address()}});
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(callsOf(service).size(), 1u);
}

TEST_F(UnattendedProgram, AStopSignalWhileNotifyingEndsTheProgramAtOnceWithItsStatus) {
  tree.write("docs/a.txt", "a", kOld);
  writeSettings(tree.path("copias"), {tree.path("docs")});
  BrokenBus bus(tree.path("bus"), "OK 0123456789abcdef0123456789abcdef\r\n");
  Clock::time_point stopped;
  const Outcome outcome =
      run({"-hide"}, {{"DBUS_SESSION_BUS_ADDRESS", bus.address()}}, [&](pid_t program) {
        EXPECT_TRUE(bus.connected(std::chrono::seconds(30)));
        stopped = Clock::now();
        ::kill(program, SIGTERM);
      });
  EXPECT_LT(since(stopped).count(), 600);
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(outcome.out, "Finalizado. Actualizados: 0 Copiados: 1 Revisados: 1\n");
}
