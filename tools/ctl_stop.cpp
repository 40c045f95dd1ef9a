// tormelctl stop: withdraws the service's run permission and waits for its end.
#include <cstdio>
#include <cstring>

#include "ctl.h"
#include "os_error.h"
#include "os_sync.h"
#include "os_time.h"

namespace {

constexpr uint64_t kDefaultTimeoutSeconds = 30;
constexpr uint64_t kMaxTimeoutSeconds = 86400;
constexpr uint32_t kPollMs = 20;

}  // namespace

int CtlStop(int argc, char** argv) {
  uint64_t seconds = kDefaultTimeoutSeconds;
  for (int i = 0; i < argc; ++i) {
    if (strcmp(argv[i], "--timeout") == 0 && i + 1 < argc) {
      if (!CtlParseNumber(argv[++i], 0, kMaxTimeoutSeconds, &seconds)) {
        CtlError(std::string("the time-out \"") + argv[i] + "\" is not a number of seconds from 0 to 86400");
        return CTL_EXIT_FAILED;
      }
    } else {
      return CtlUsageError(std::string("stop does not take \"") + argv[i] + "\"");
    }
  }

  int err = 0;
  int held = OsMutexIsHeld(TORMEL_MUTEX_NAME, &err);
  if (held < 0) {
    CtlError("cannot tell whether an instance runs: cannot reach " + std::string(TORMEL_MUTEX_NAME) + ": " +
             CtlErrorText(err));
    return CTL_EXIT_FAILED;
  }
  if (held == 0) {
    printf("no instance running\n");
    return CTL_EXIT_OK;
  }

  const uint64_t deadline = OsMonotonicMs() + seconds * 1000;
  // An instance that has just claimed its mutex publishes the stop event only
  // once it has read its parameters, so wait for the event a while.
  OsEvent stop;
  for (;;) {
    err = OsEventOpen(TORMEL_STOP_EVENT_NAME, &stop);
    if (err == 0) break;
    if (OsMutexIsHeld(TORMEL_MUTEX_NAME) == 0) {
      printf("the instance has ended\n");
      return CTL_EXIT_OK;
    }
    if (OsMonotonicMs() >= deadline) {
      CtlError(std::string("cannot reach ") + TORMEL_STOP_EVENT_NAME + ": " + CtlErrorText(err) +
               (OsErrorIsNotFound(err) ? " (the instance has not published it)" : ""));
      return CTL_EXIT_FAILED;
    }
    OsSleepMs(kPollMs);
  }

  err = OsEventReset(stop);
  if (err != 0) {
    CtlError(std::string("cannot reset ") + TORMEL_STOP_EVENT_NAME + ": " + CtlErrorText(err));
    OsEventClose(&stop);
    return CTL_EXIT_FAILED;
  }
  printf("stop requested, waiting up to %llu s for the instance to end\n", static_cast<unsigned long long>(seconds));
  fflush(stdout);

  // The service sets the event again right after every check that found it
  // set, so a reset that falls between its test and its set is undone: it is
  // repeated whenever the event is found set while the instance still runs.
  bool repeated = false;
  for (;;) {
    held = OsMutexIsHeld(TORMEL_MUTEX_NAME);
    if (held == 0) break;
    if (OsMonotonicMs() >= deadline) {
      printf("time-out: the instance still runs after %llu s\n", static_cast<unsigned long long>(seconds));
      OsEventClose(&stop);
      return CTL_EXIT_FAILED;
    }
    if (held > 0 && OsEventIsSet(stop) == 1) {
      OsEventReset(stop);
      repeated = true;
    }
    OsSleepMs(kPollMs);
  }
  // A repeated reset may have come after the shutdown set the event; the
  // state a shutdown leaves behind is "set".
  if (repeated && OsEventIsSet(stop) == 0) OsEventSet(stop);
  OsEventClose(&stop);
  printf("the instance has ended\n");
  return CTL_EXIT_OK;
}
