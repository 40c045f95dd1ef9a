// The system's service manager: running under it, telling it how start-up
// and shutdown go, and registering the service with it. On Windows that is
// the Service Control Manager; on Linux systemd, which needs no registration
// here (the package brings the unit) but hears of readiness.
// Results are 0 for success or an error number (os_error.h), unless noted.
#pragma once
#include <cstdint>

// Returned by OsServiceInstall and OsServiceUninstall.
constexpr int OS_SERVICE_DENIED = -5;           // the caller may not change services (not elevated)
constexpr int OS_SERVICE_EXISTS = -1073;        // a service of that name is installed already
constexpr int OS_SERVICE_MISSING = -1060;       // no service of that name is installed
constexpr int OS_SERVICE_STILL_RUNNING = -1061; // it did not stop in time, so it was left installed
constexpr int OS_SERVICE_UNSUPPORTED = -50;     // this system installs services otherwise

// Runs programMain(commandLine) and returns its exit status. When the service
// manager started the program, it runs as the manager's service: reported as
// starting, then (OsServiceReportRunning) running, and at its end as stopped
// with the exit status; the manager's stop and shutdown controls are a
// termination request (os_stop.h). Started any other way, it simply runs.
int OsServiceRun(int (*programMain)(const char* commandLine), const char* commandLine);

// Start-up has succeeded: the service manager may count the service as
// running. Does nothing where no service manager waits for it.
void OsServiceReportRunning();
// The service has begun to stop.
void OsServiceReportStopping();

// The manager's watchdog: a service that asked for one (systemd's
// WatchdogSec=) must say it is alive within every period, or the manager
// takes it as wedged, kills it and restarts it. The forwarding loop calls
// OsServiceKeepAlive as it goes, with the monotonic time (os_time.h); the
// call is cheap, and tells the manager only once a quarter of the period has
// passed since it last did. Called at least every
// OsServiceKeepAliveIntervalMs(), the manager never waits more than half
// the period, and the other half is left for a machine under load. The
// interval is 0 when no watchdog was asked for; then the calls do nothing.
// The Service Control Manager has no watchdog: on Windows it is always 0.
void OsServiceKeepAlive(uint64_t nowMs);
uint32_t OsServiceKeepAliveIntervalMs();

// Registers the service `name` to start automatically with the system, as a
// process of its own running commandLine (the program's full path first),
// restarted 5 seconds after a failure.
int OsServiceInstall(const char* name, const char* displayName, const char* description, const char* commandLine);
// Stops the service (waiting up to timeoutSeconds for its end) and removes it.
int OsServiceUninstall(const char* name, unsigned timeoutSeconds);

// The full path of the program `program` in this program's own folder, with
// the system's suffix for programs.
int OsServiceSiblingProgram(const char* program, char* buf, unsigned size);
