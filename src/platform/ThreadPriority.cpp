#include "platform/ThreadPriority.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// From linux/ioprio.h, which glibc does not wrap.
constexpr int kIoprioWhoProcess = 1;
constexpr int kIoprioClassBestEffort = 2;
constexpr int kIoprioClassShift = 13;
constexpr int kLowestBestEffortLevel = 7;

}  // namespace

void lowerCurrentThreadPriority() {
  const pid_t tid = static_cast<pid_t>(::syscall(SYS_gettid));
  // On Linux the nice value belongs to the thread when addressed by its id.
  ::setpriority(PRIO_PROCESS, static_cast<id_t>(tid), 10);
  ::syscall(SYS_ioprio_set, kIoprioWhoProcess, tid,
            (kIoprioClassBestEffort << kIoprioClassShift) | kLowestBestEffortLevel);
}
