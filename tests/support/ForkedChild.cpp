#include "support/ForkedChild.h"

#include <linux/capability.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

pid_t startChild(const std::function<int()>& body) {
  const pid_t pid = ::fork();
  if (pid != 0) return pid;
  int code = 1;
  try {
    code = body();
  } catch (...) {
  }
  ::_exit(code);
}

namespace {

ChildEnd endOf(int status) {
  ChildEnd end;
  end.exited = WIFEXITED(status);
  end.status = end.exited ? WEXITSTATUS(status) : WTERMSIG(status);
  return end;
}

}  // namespace

ChildEnd waitForChild(pid_t pid) {
  if (pid <= 0) return {};
  int status = 0;
  pid_t done;
  while ((done = ::waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
  }
  return done == pid ? endOf(status) : ChildEnd{};
}

std::optional<ChildEnd> waitForChild(pid_t pid, std::chrono::milliseconds limit) {
  if (pid <= 0) return ChildEnd{};
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    int status = 0;
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) return endOf(status);
    if (done < 0 && errno != EINTR) return ChildEnd{};
    if (std::chrono::steady_clock::now() > deadline) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

void killChild(pid_t pid) {
  if (pid <= 0) return;
  ::kill(pid, SIGKILL);
  waitForChild(pid);
}

pid_t startStoppedChild(const std::function<void(const std::function<void()>& stopHere)>& body) {
  int ready[2];
  if (::pipe(ready) != 0) return -1;
  const pid_t pid = startChild([&] {
    ::close(ready[0]);
    body([&] {
      if (::write(ready[1], "x", 1) == 1) ::pause();
    });
    return 0;
  });
  ::close(ready[1]);
  char c;
  const bool stopped = pid > 0 && ::read(ready[0], &c, 1) == 1;
  ::close(ready[0]);
  if (stopped) return pid;
  waitForChild(pid);
  return -1;
}

std::string runInChild(const std::function<std::string()>& body) {
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) return {};
  const pid_t pid = startChild([&] {
    ::close(pipeFds[0]);
    std::string out;
    try {
      out = body();
    } catch (...) {
      out = "exception";
    }
    for (std::size_t done = 0; done < out.size();) {
      const ssize_t n = ::write(pipeFds[1], out.data() + done, out.size() - done);
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    return 0;
  });
  ::close(pipeFds[1]);
  std::string result;
  char buffer[4096];
  for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;) result.append(buffer, n);
  ::close(pipeFds[0]);
  const ChildEnd end = waitForChild(pid);
  return end.exited && end.status == 0 ? result : std::string();
}

void dropPermissionOverride() {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2]{};
  if (::syscall(SYS_capget, &header, data) != 0) return;
  for (int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER}) {
    data[cap / 32].effective &= ~(1u << (cap % 32));
    data[cap / 32].permitted &= ~(1u << (cap % 32));
  }
  ::syscall(SYS_capset, &header, data);
}
