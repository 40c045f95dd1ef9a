// Between the files of the forwarding loop only: the loop's state, one
// record handed down explicitly to every step, as an event loop keeps it.
//
// The walk goes through the numbered buffer files as the loop always has
// (file 1, 2, ...; a missing number is a pause of 500 ms, and from 9 on the
// walk starts again at 1), but it no longer delivers a file itself: it reads
// the receiver the file names and hands the file to that station's queue.
// Up to config->stations files are in delivery at once, each for another
// station, each on a connection of its own that the loop serves without
// blocking; a station's files go one at a time, in the order the walk met
// them. A station whose connection failed is left alone until its backoff
// is over: its files wait, and nobody else waits for them.
#pragma once
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "buffile.h"
#include "state.h"
#include "tormel.h"

// What the loop knows of a buffer file's records, for what an operator is
// shown: counted when the loop opens the file, kept up as records are
// acknowledged, and counted again when a producer changes it.
struct TormelFileView {
  struct TormelStation* station = nullptr;
  uint64_t pending = 0;
  uint64_t oldest = 0;  // wall clock: since when its oldest pending record waits
};

// A file waiting for its station, and when the walk met it (walk order).
// A file for a station that is only busy is held open as the walk opened
// it (a few at most), so that its delivery need not open it again.
struct TormelQueued {
  BufEntry entry;
  uint64_t order = 0;
  std::shared_ptr<BufFile> open;
};

// One receiving station: the address files name, with the configured port.
struct TormelStation {
  std::string address;              // dotted IPv4, or the text a file named
  std::deque<TormelQueued> queue;   // its files, in the order the walk met them
  bool busy = false;                // one of its files is in delivery
  uint64_t retryAt = 0;             // loop clock: not tried before; 0 when it may be
  uint64_t namedAt = 0;             // loop clock: when a file last named it
  StateStation seen;                // what an operator is shown of it
};

// The frames of one connection between the file and their answers.
struct TormelWindow {
  std::vector<uint64_t> starts;  // line offsets of the frames queued, a ring, oldest first
  std::vector<char> out;         // the frames of the batch being sent
  int limit = 1;
  int oldest = 0;
  int count = 0;     // frames queued and not answered
  int batch = 0;     // frames in out
  size_t sent = 0;   // bytes of out sent
  bool sending = true;     // false after a refusal, a failure or a stop
  bool moreToRead = true;
  bool refused = false;
  bool marksFailed = false;  // a mark could not be written or synced: the file stops
  bool later = false;        // the last fill passed over many lines and stopped short
  int32_t failure = 0;     // the first failed call's code
  const char* failedCall = "";
  uint64_t lastProgress = 0;
};

// A file in delivery, one slot of config->stations.
struct TormelDelivery {
  bool active = false;
  TormelStation* station = nullptr;
  BufFile file;
  BufCursor records;
  uint64_t order = 0;     // when the walk met the file
  int32_t handle = 0;
  bool connecting = false;
  bool unpolled = false;  // begun since the loop last waited
  bool wantWrite = false;
  bool again = false;     // to be served at once, ready or not
  bool retiring = false;  // its connection is done with: the file goes in the loop's next turn
  uint64_t retireTurn = 0;
  uint64_t deadline = 0;  // loop clock: when the connection or the window times out
  TormelWindow window;
  uint64_t acknowledged = 0;  // records marked in this delivery
  uint64_t syncedAt = 0;      // loop clock: when its marks were last made durable
};

struct TormelWalk {
  unsigned n = 0;          // the number last looked at
  char destIp[16] = "";    // the receiver of the file met last: a file too short to name one keeps it
  // After a producer's change, missing numbers are passed without a pause
  // until every number has been looked at once: the change may be anywhere.
  unsigned passWithoutPause = 0;
  uint64_t pauseUntil = 0;  // loop clock; 0 when the walk goes on at once
  bool suspended = false;   // pausing until a station may be tried or a producer changes something
  // What the round (1 up to the wrap after 9) found: files to act on (new
  // to the walk, or in the hands of a station that is being served), and
  // files waiting for a station that rests.
  bool roundActive = false;
  bool roundWaiting = false;
};

struct TormelRun {
  const TormelConfig* config = nullptr;
  TormelHooks hooks;
  BufFolder folder;
  TormelWalk walk;
  std::map<std::string, TormelStation> stations;  // by address
  std::vector<TormelDelivery> deliveries;         // config->stations slots
  std::unordered_map<std::string, TormelStation*> queued;  // the paths in a station's queue
  std::unordered_map<std::string, TormelFileView> ledger;  // the files the loop knows, by path
  uint64_t nextOrder = 1;
  uint64_t turn = 0;      // the loop's waits, counted
  uint64_t commitBy = 0;  // loop clock: when the removals since the last commit must be durable; 0 when none wait
  int heldOpen = 0;  // queued files held open
  std::minstd_rand random;
  uint64_t skippedMs = 0;          // time a pause hook let pass
  uint64_t lastStopCheck = 0;
  bool watchLossReported = false;
  bool stopping = false;
  char prefix[TORMEL_PREFIX_SIZE]; // this machine's address and port, for every frame
  StateRecord totals;              // what the whole service did
  // Publishing the state (publish.cpp).
  std::string statePath;           // empty when it cannot be published
  uint64_t publishedAt = 0;        // loop clock
  StateRecord published;           // as last written, its time left out
};

// The loop's clock.
uint64_t TormelNow(const TormelRun* run);
// An entry of the loop (function "TormelWork()"), its message formatted.
[[gnu::format(printf, 5, 6)]] void TormelLog(int32_t severity, int32_t code, int32_t secondary, const char* detail,
                                             const char* format, ...);
// A failed read or write of a buffer file: its error number and the
// system's text.
[[gnu::format(printf, 2, 3)]] void TormelLogFileError(int err, const char* format, ...);

// --- Stations (station.cpp)

// The station of address, made when new.
TormelStation* TormelStationOf(TormelRun* run, const std::string& address);
// True while a failed station is left alone.
bool TormelStationResting(const TormelRun* run, const TormelStation* station);
// A connection that opened: the end of a backoff.
void TormelStationUp(TormelRun* run, TormelStation* station);
// A failed connection or exchange: the station rests for its backoff.
void TormelStationFailed(TormelRun* run, TormelStation* station, const char* operation, int32_t code);
// The delay before the next try after `failures` failures in a row: 1 s,
// doubling up to retryMax seconds, spread by spread (in [0, 1)) over
// -20 % to +20 %, never under 1 s.
uint64_t TormelBackoffMs(uint32_t failures, int32_t retryMax, double spread);
// The earliest time a resting station with files waiting may be tried; 0
// when none.
uint64_t TormelNextRetry(const TormelRun* run);
// Forgets stations that no file has named for a while.
void TormelForgetStations(TormelRun* run);

// --- Deliveries (delivery.cpp)

// True when the file at path is waiting for its station or in delivery.
bool TormelFileInHand(const TormelRun* run, const std::string& path);
// Hands a file the walk met, open in f, to its station: into delivery at
// once when the station is free and a slot too, else (closed) into its
// queue.
void TormelEnqueue(TormelRun* run, TormelStation* station, BufFile* f);
// Starts deliveries while slots are free: of each station that may be
// tried and has no file in delivery, its first file, stations in the order
// their first files were met.
void TormelDispatch(TormelRun* run);
// Serves a delivery on what its connection is ready for.
void TormelServe(TormelRun* run, TormelDelivery* d, bool readable, bool writable);
// Serves a delivery whose deadline has passed.
void TormelExpire(TormelRun* run, TormelDelivery* d);
// True while some file is in delivery.
bool TormelDelivering(const TormelRun* run);
// Makes the marks of the files in delivery durable once a second: a power
// cut repeats at most what was acknowledged in the last second, and the
// frames in flight.
void TormelSyncMarks(TormelRun* run);
// When TormelSyncMarks has work next; 0 when none.
uint64_t TormelNextSync(const TormelRun* run);
// Retires the files whose connections ended in an earlier turn.
void TormelRetireFinished(TormelRun* run);
// Ends every delivery for a stop: unanswered records stay pending.
void TormelAbandonAll(TormelRun* run);

// --- The window (window.cpp)

void TormelWindowStart(TormelWindow* w, int limit, uint64_t now);
enum class TormelExchange { Busy, Again, Done };
// Sends what the window and the connection allow and takes the answers
// that have come, marking each acknowledged record; Done once the file's
// records are all answered, or the exchange failed or was refused (w says
// which), Again when it should be called again at once, Busy when it waits
// for the connection (*wantWrite: to take more frames).
// Answers are taken only when readable says some have come.
TormelExchange TormelWindowStep(TormelRun* run, TormelDelivery* d, bool readable, bool* wantWrite);
// The file's marks could not be written or synced (err, logged once per
// file): no further frame leaves for it, and it is kept.
void TormelWindowMarksFailed(TormelRun* run, TormelDelivery* d, int err, bool syncing);
// The window's time-out ran out: a failure of the call it waited for.
void TormelWindowTimeOut(TormelDelivery* d);
// True when every record the file held was acknowledged.
bool TormelWindowDelivered(const TormelDelivery* d);

// --- What operators are shown (ledger.cpp, publish.cpp)

// Notes the records of the file open in f, which names station, counted
// from its start; the stream is left at its start.
void TormelLedgerCount(TormelRun* run, BufFile* f, TormelStation* station);
// One record of the file at path was acknowledged.
void TormelLedgerDelivered(TormelRun* run, const std::string& path);
void TormelLedgerForget(TormelRun* run, const std::string& path);
// Counts again the files that producers changed and the loop does not hold.
void TormelLedgerRecount(TormelRun* run);
// True while some file the loop knows names station.
bool TormelLedgerNames(const TormelRun* run, const TormelStation* station);

// Finds where the state goes, and what it says of the service itself.
void TormelPublishStart(TormelRun* run);
// Writes the state when something changed, at most once a second; final:
// at once, saying that the service has ended.
void TormelPublish(TormelRun* run, bool final);
// When TormelPublish has work next; 0 when never.
uint64_t TormelNextPublish(const TormelRun* run);

// --- The walk (walk.cpp)

// A file opened that has not changed since all in it was delivered (a
// producer still holds it): tries to remove it, and closes it; true then.
// False, the file still open, for any other.
bool TormelOnlyToRemove(TormelRun* run, BufFile* f);
// Reads the receiver address, columns 38-52 of the first line, into destIp;
// a file too short to reach column 38 leaves destIp as it was. False, and
// logged, on a read error.
bool TormelReadReceiver(BufFile* f, char* destIp);
// The station an address text names: its dotted IPv4 address, or the text
// itself, trimmed, when it is none.
std::string TormelStationAddress(const char* destIp);
// True when the first line has no line end yet and its producer may still
// be writing it: then not even its receiver is known for sure.
bool TormelFirstLineUnfinished(TormelRun* run, BufFile* f);
// Takes the walk's next steps, if it is not pausing, until it pauses or has
// taken a handful of steps.
void TormelWalkOn(TormelRun* run);
// A producer changed a buffer file: the walk goes on at once.
void TormelWalkWake(TormelRun* run);
// Files of busy stations held open while they wait, at most: well within
// the descriptors a process has. With as many, the walk waits for one of
// them to go, rather than open files it must close and open again.
constexpr int TORMEL_HELD_OPEN_MAX = 256;
bool TormelWalkHeldBack(const TormelRun* run);

// --- The loop (work.cpp)

// Says once that producers' changes no longer end the loop's pauses.
void TormelReportUnwatched(TormelRun* run, int err, const char* why);
