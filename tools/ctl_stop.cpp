// tormelctl stop: withdraws the service's run permission and waits for its end.
#include <cstdio>
#include <cstring>

#include "ctl.h"
#include "os_error.h"
#include "os_sync.h"
#include "os_time.h"
#include "text.h"

namespace {

constexpr uint64_t kDefaultTimeoutSeconds = 30;
constexpr uint64_t kMaxTimeoutSeconds = 86400;
constexpr uint32_t kPollMs = 20;

// The stop's time-out from the command line: 0 when understood, otherwise
// the exit status of what was said.
int ParseTimeout(int argc, char** argv, uint64_t* seconds) {
  *seconds = kDefaultTimeoutSeconds;
  for (int i = 0; i < argc; ++i) {
    if (strcmp(argv[i], "--timeout") != 0 || i + 1 >= argc)
      return CtlUsageError(std::string("stop does not take \"") + argv[i] + "\"");
    if (!TextIsNumberIn(argv[++i], 0, kMaxTimeoutSeconds, seconds)) {
      CtlError(std::string("the time-out \"") + argv[i] + "\" is not a number of seconds from 0 to 86400");
      return CTL_EXIT_FAILED;
    }
  }
  return 0;
}

enum class Reached { Event, Ended, Failed };

// An instance that has just claimed its mutex publishes the stop event only
// once it has read its parameters, so the event is waited for a while.
Reached OpenStopEvent(uint64_t deadline, OsEvent* stop) {
  for (;;) {
    int err = OsEventOpen(TORMEL_STOP_EVENT_NAME, stop);
    if (err == 0) return Reached::Event;
    if (OsMutexIsHeld(TORMEL_MUTEX_NAME) == 0) return Reached::Ended;
    if (OsMonotonicMs() >= deadline) {
      CtlError(std::string("cannot reach ") + TORMEL_STOP_EVENT_NAME + ": " + CtlErrorText(err) +
               (OsErrorIsNotFound(err) ? " (the instance has not published it)" : ""));
      return Reached::Failed;
    }
    OsSleepMs(kPollMs);
  }
}

// Waits until the instance has let go of its mutex; false at the deadline.
// The service sets the event again right after every check that found it
// set, so a reset that falls between its test and its set is undone: it is
// repeated whenever the event is found set while the instance still runs.
bool AwaitEnd(OsEvent stop, uint64_t deadline) {
  bool repeated = false;
  for (;;) {
    int held = OsMutexIsHeld(TORMEL_MUTEX_NAME);
    if (held == 0) break;
    if (OsMonotonicMs() >= deadline) return false;
    if (held > 0 && OsEventIsSet(stop) == 1) {
      OsEventReset(stop);
      repeated = true;
    }
    OsSleepMs(kPollMs);
  }
  // A repeated reset may have come after the shutdown set the event; the
  // state a shutdown leaves behind is "set".
  if (repeated && OsEventIsSet(stop) == 0) OsEventSet(stop);
  return true;
}

}  // namespace

int CtlStop(int argc, char** argv) {
  uint64_t seconds = 0;
  if (int status = ParseTimeout(argc, argv, &seconds)) return status;

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
  OsEvent stop;
  Reached reached = OpenStopEvent(deadline, &stop);
  if (reached != Reached::Event) {
    if (reached == Reached::Ended) printf("the instance has ended\n");
    return reached == Reached::Ended ? CTL_EXIT_OK : CTL_EXIT_FAILED;
  }
  err = OsEventReset(stop);
  if (err != 0) {
    CtlError(std::string("cannot reset ") + TORMEL_STOP_EVENT_NAME + ": " + CtlErrorText(err));
    OsEventClose(&stop);
    return CTL_EXIT_FAILED;
  }
  printf("stop requested, waiting up to %llu s for the instance to end\n", static_cast<unsigned long long>(seconds));
  fflush(stdout);
  bool ended = AwaitEnd(stop, deadline);
  OsEventClose(&stop);
  if (!ended) {
    printf("time-out: the instance still runs after %llu s\n", static_cast<unsigned long long>(seconds));
    return CTL_EXIT_FAILED;
  }
  printf("the instance has ended\n");
  return CTL_EXIT_OK;
}
