// Tormel, the forwarding service: its configuration record and its steps.
#pragma once
#include <cstddef>
#include <cstdint>

#include "buflayout.h"
#include "os_sync.h"

// The run-time configuration, filled once at start-up and only read after.
struct TormelConfig {
  char localIp[16];       // this machine's address, dotted text
  char destIp[16];        // receiver address; each buffer file supplies its own
  int32_t port;           // receiver's TCP port, the value of portText
  int32_t timeout;        // seconds, for connect and read (0: the library's default)
  int32_t errLevel;       // error log level
  int32_t maxLogSize;     // error log limit, KiB
  char portText[6];       // the port as written; copied into every frame
  char logFile[101];      // error log file name
  char bufferFile[101];   // the base of the buffer file names, derived from BUFFDATEI
  int32_t window;         // frames in flight on a connection, 1-256; 1 is one at a time
  int32_t stations;       // files in delivery at once, each for another station, 1-64
  int32_t retryMax;       // seconds: the longest wait before a failed station is tried again
};

// Error texts are formatted into TORMEL_MESSAGE_SIZE bytes (80 characters)
// before they are logged. The process-wide buffer of that size is cleared by
// every exchange and holds the texts start-up and the program's end report.
constexpr size_t TORMEL_MESSAGE_SIZE = 81;
extern char TormelMessage[TORMEL_MESSAGE_SIZE];

// The named events that start and stop the service, open while it runs.
inline constexpr const char* TORMEL_STOP_EVENT_NAME = "StopTormelEvent";
inline constexpr const char* TORMEL_START_EVENT_NAME = "StartTormelEvent";
inline constexpr const char* TORMEL_MUTEX_NAME = "TORMEL_MTX";
extern OsEvent TormelStopEvent;
extern OsEvent TormelStartEvent;

// Source name of every log entry the service writes.
inline constexpr const char* TORMEL_LOG_SOURCE = "tormel";

// Builds the 20-character sender prefix: localIp and portText, each
// left-aligned and blank-padded (15 and 5 characters). Not terminated.
void TormelBuildPrefix(char prefix[TORMEL_PREFIX_SIZE], const char* localIp, const char* portText);

// Builds the frame for one buffer line of `length` characters: the line from
// column 38 on, up to its first zero byte, with its first 20 characters
// replaced by the sender prefix. The frame is zeroed first, so nothing of an
// earlier record can reach it. frame holds TORMEL_FRAME_SIZE + 1 bytes.
void TormelBuildFrame(char* frame, const char* line, size_t length, const char prefix[TORMEL_PREFIX_SIZE]);

// Logs a failed call of the exchange ("Fehler: CSocketWrite! ErrorCode: N"
// as SndWithReply()) and returns its code; a call cut short by a stop
// request is no failure and logs nothing.
int32_t TormelExchangeFailed(const char* operation, int32_t code);
// Sends one frame and reads the receiver's reply; 0 or the library's error code.
int32_t SndWithReply(int32_t handle, const char* data, int32_t length, char* reply, int32_t replyLength,
                     int32_t timeout);

// The service's parameters: section "TORMEL", read with PARREAD; the last
// three are optional.
struct ParamEntry;
constexpr int TORMEL_PARAM_COUNT = 10;
enum TormelParam { PARAM_XFRIP, PARAM_XFRPORT, PARAM_BUFFDATEI, PARAM_LOGDATEI, PARAM_MAXLOGSIZE,
                   PARAM_ERRLEVEL, PARAM_TIMEOUT, PARAM_WINDOW, PARAM_STATIONS, PARAM_RETRYMAX };
// The largest window, and the most stations at once.
constexpr int32_t TORMEL_WINDOW_MAX = 256;
constexpr int32_t TORMEL_STATIONS_MAX = 64;
// What an optional key stands for when it is missing or invalid.
constexpr int32_t TORMEL_DEFAULT_WINDOW = 1;
constexpr int32_t TORMEL_DEFAULT_STATIONS = 8;
constexpr int32_t TORMEL_DEFAULT_RETRYMAX = 60;
// Fills table with the service's descriptions, all read state cleared.
void TormelParamTable(ParamEntry* table);
// Reads the parameter file path into table (TORMEL_PARAM_COUNT entries, filled
// afresh) and config as start-up does, without opening anything else. 1 on
// success; 0 with *code, *where and TormelStartupFailure() telling why.
int32_t TormelReadParams(const char* path, ParamEntry* table, TormelConfig* config, int32_t* code, int32_t* where);

// Start-up: reads the parameter file (the default one when paramPath is
// empty), claims the buffer folder, opens the error log, learns the local
// address and publishes the events. 1 on success; 0 with
// TormelStartupFailure() telling why.
int32_t TormelInit(const char* paramPath, TormelConfig* config);
const char* TormelStartupFailure();
// Sets the stop event again and closes both events; 1.
int32_t TormelExit();

// Exit statuses of the program.
constexpr int TORMEL_EXIT_STOPPED = 0;       // stopped because it was asked to
constexpr int TORMEL_EXIT_FAILED = 1;        // start-up or the forwarding loop failed
constexpr int TORMEL_EXIT_RUNNING = 2;       // another instance runs already

// The whole life of the program: single-instance guard, start-up, the
// forwarding loop, shutdown. commandLine is the parameter file path.
int TormelMain(const char* commandLine);

// What a test may put in the forwarding loop's way; every member may be
// left empty.
struct TormelHooks {
  void* context = nullptr;
  // The loop's clock, milliseconds that never go backwards (OsMonotonicMs
  // when empty).
  uint64_t (*clock)(void* context) = nullptr;
  // A number in [0, 1) for the spread of the delays before a failed
  // station is tried again (the loop's own generator when empty).
  double (*random)(void* context) = nullptr;
  // Called whenever the loop is about to wait with no connection in
  // progress, for up to ms (until its next timer). Returning true says the
  // hook has let the time pass: the loop goes on as if it had run out (with
  // no clock hook, its own clock is moved on by ms). False: the loop waits
  // itself, and a producer's change may end the wait early, which woken()
  // then hears of.
  bool (*pause)(void* context, uint32_t ms) = nullptr;
  void (*woken)(void* context) = nullptr;
};

// The forwarding loop; 1 when the stop event was found reset.
int32_t TormelWork(const TormelConfig* config, const TormelHooks* hooks = nullptr);
