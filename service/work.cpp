// The forwarding loop: pass after pass, the files of the next number are
// opened, their pending records are sent to the receiver each names, each
// acknowledged record is marked "*", and a file with nothing left pending is
// retired.
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "buffile.h"
#include "records.h"
#include "os_error.h"
#include "os_service.h"
#include "os_time.h"
#include "sockio.h"
#include "tormel.h"

namespace {

constexpr const char* kFunction = "TormelWork()";
constexpr unsigned kProbeLimit = 9;       // numbers probed while no file exists
constexpr uint32_t kAbsentSleepMs = 500;
constexpr uint32_t kConnectSleepMs = 1000;

// The folder of the running loop, for the pauses that wait for producers.
BufFolder* pausingFolder = nullptr;
bool watchLossReported = false;

// An entry of the loop: the message formatted, at most 80 characters as
// every message of the service, with its codes and detail.
void LogV(int32_t severity, int32_t code, int32_t secondary, const char* detail, const char* format, va_list args) {
  char message[TORMEL_MESSAGE_SIZE];
  vsnprintf(message, sizeof message, format, args);
  CLogWrite(TORMEL_LOG_SOURCE, kFunction, severity, code, secondary, message, detail);
}

[[gnu::format(printf, 5, 6)]] void Log(int32_t severity, int32_t code, int32_t secondary, const char* detail,
                                       const char* format, ...) {
  va_list args;
  va_start(args, format);
  LogV(severity, code, secondary, detail, format, args);
  va_end(args);
}

// A failed read of a buffer file: its error number and the system's text.
[[gnu::format(printf, 2, 3)]] void LogReadError(int err, const char* format, ...) {
  char detail[80];
  OsErrorText(err, detail, sizeof detail);
  va_list args;
  va_start(args, format);
  LogV(1, 0, err, detail, format, args);
  va_end(args);
}

// Reads the receiver address, columns 38-52 of the first line, into destIp.
// A file too short to reach column 38 leaves destIp as it was. False on a
// read error.
bool ReadReceiverAddress(BufStream* s, char* destIp) {
  char field[TORMEL_ADDRESS_WIDTH + 1];
  BufSeek(s, TORMEL_ADDRESS_COLUMN);
  if (BufGets(s, field, sizeof field) > 0) {
    memcpy(destIp, field, sizeof field);
  } else if (BufError(s) != 0) {
    return false;
  }
  BufSeek(s, 0);
  return true;
}

void ReportStrays(BufFolder* folder, BufFile* f) {
  uint64_t behind = BufStraysToReport(folder, f);
  if (behind == 0) return;
  Log(1, 0, behind > 0x7fffffff ? 0x7fffffff : static_cast<int32_t>(behind), f->entry.path.c_str(),
      "Fehler: Text hinter CTRL-Z in Xfr-Bufferdatei Nr. %u!", f->entry.n);
}

// Sends the pending records one at a time, each after the answer to the one
// before. True when every record the file held was acknowledged.
bool SendRecords(TormelRecords* records, int32_t handle, const TormelConfig* config) {
  BufStream* s = &records->file->stream;
  char prefix[TORMEL_PREFIX_SIZE];
  TormelBuildPrefix(prefix, config->localIp, config->portText);
  char line[TORMEL_LINE_SIZE];
  char frame[TORMEL_FRAME_SIZE + 1];
  char reply[2];
  int length = 0;
  uint64_t lineStart = 0;
  while (TormelNextRecord(records, line, &length, &lineStart)) {
    // A file of many records may take longer than the watchdog's period.
    OsServiceKeepAlive(OsMonotonicMs());
    uint64_t lineEnd = BufTell(s);
    TormelBuildFrame(frame, line, static_cast<size_t>(length), prefix);
    reply[0] = reply[1] = '\0';
    int32_t r = SndWithReply(handle, frame, TORMEL_FRAME_SIZE, reply, 1, config->timeout);
    if (r != 0) {
      if (r != SOCKIO_ESTOPPED) {
        Log(1, r, 0, "", "Fehler: SndWithReply! ErrorCode: %ld", static_cast<long>(r));
      }
      // Bytes beyond the answer end the connection; the answer itself came whole.
      if (r == SOCKIO_EEXTRA && reply[0] == '1') BufWriteAt(s, lineStart, '*');
      return false;
    }
    if (reply[0] != '1') return false;
    // The mark is on disk before the next record leaves, so a crash repeats
    // at most the record whose acknowledgement was in flight.
    BufWriteAt(s, lineStart, '*');
    BufSeek(s, lineEnd);
  }
  return records->complete;
}

// True when the first line has no line end yet and its producer may still be
// writing it: then not even its receiver is known for sure.
bool FirstLineUnfinished(BufFolder* folder, BufFile* f) {
  char line[TORMEL_LINE_SIZE];
  BufSeek(&f->stream, 0);
  int length = BufGets(&f->stream, line, sizeof line);
  bool unfinished = length > 0 && TormelUnterminated(&f->stream, line, length) && !BufTailReady(folder, f);
  BufSeek(&f->stream, 0);
  return unfinished;
}

// Serves one buffer file; false when it could not be opened (absent) or had
// nothing new to look at.
bool ServeFile(BufFolder* folder, const BufEntry& entry, const TormelConfig* config, char* destIp) {
  BufFile f;
  if (BufFileOpen(&f, entry) != 0) return false;
  // A retired file that a producer still holds, unchanged: only whether it
  // may go now.
  if (BufFileUnchanged(folder, &f)) {
    uint64_t size = 0;
    if (OsFileSize(f.stream.file, &size) == 0) BufRetire(folder, &f, size);
    BufFileClose(folder, &f);
    return false;
  }

  if (FirstLineUnfinished(folder, &f)) {
    BufFileClose(folder, &f);
    return false;
  }

  if (!ReadReceiverAddress(&f.stream, destIp)) {
    // One unreadable file must not keep the others from being delivered.
    LogReadError(BufError(&f.stream), "Fehler: IP-String aus Xfr-Bufferdatei Nr. %u lesen (fgets)!", entry.n);
    BufFileClose(folder, &f);
    return true;
  }

  int32_t handle = 0;
  int32_t r = CSocketClientOpen(&handle, destIp, config->port, config->timeout);
  if (r != 0) {
    bool stopped = r == SOCKIO_ESTOPPED;  // asked to stop: no failure, no pause
    if (!stopped) {
      Log(100, 0, 0, "", "Fehler: CSocketClientOpen! ErrorCode: %d", static_cast<int>(r));
    }
    BufFileClose(folder, &f);
    CSocketClose(handle);
    // A receiver that is down is not tried again before its second is over,
    // whatever producers write meanwhile.
    if (!stopped) TormelPause(kConnectSleepMs, false);
    return true;
  }

  TormelRecords records{folder, &f, OsMonotonicMs()};
  bool delivered = config->window > 1 ? TormelSendWindow(&records, handle, config)
                                      : SendRecords(&records, handle, config);
  ReportStrays(folder, &f);
  if (delivered) BufRetire(folder, &f, BufTell(&f.stream));
  BufFileClose(folder, &f);

  r = CSocketClose(handle);
  if (r != 0) {
    Log(1, r, 0, "", "Fehler: CSocketClose! ErrorCode: %d", static_cast<int>(r));
  }
  return true;
}

// Says once that producers' changes no longer end the loop's pauses.
void ReportUnwatched(int err, const char* why) {
  if (watchLossReported) return;
  watchLossReported = true;
  char detail[80];
  if (err != 0) {
    OsErrorText(err, detail, sizeof detail);
  } else {
    snprintf(detail, sizeof detail, "%s", why);
  }
  Log(100, 0, err, detail, "Fehler: Keine Meldung von Aenderungen im Xfr-Buffer-Ordner!");
}

bool Pause(uint32_t ms, bool wakeable) {
  OsServiceKeepAlive(OsMonotonicMs());
  if (!wakeable || pausingFolder == nullptr) {
    OsSleepMs(ms);
    return false;
  }
  BufWait result = BufWaitForChange(pausingFolder, ms);
  if (result == BufWait::Lost) ReportUnwatched(0, "the folder was removed or replaced");
  return result == BufWait::Changed;
}

}  // namespace

bool (*TormelPause)(uint32_t ms, bool wakeable) = Pause;

int32_t TormelWork(const TormelConfig* config) {
  BufFolder folder;
  BufFolderStart(&folder, config->bufferFile);
  watchLossReported = false;
  if (int err = BufWatchStart(&folder); err != 0) ReportUnwatched(err, "");
  pausingFolder = &folder;
  // Each buffer file names its receiver; one too short to name any keeps the
  // one before.
  char destIp[sizeof config->destIp];
  memcpy(destIp, config->destIp, sizeof destIp);
  unsigned n = 0;
  // After a producer's change, absent numbers are passed without a pause
  // until every number has been looked at once: the change may be anywhere.
  unsigned unpaused = 0;
  for (;;) {
    // A termination signal that resets the event between the test and the
    // set below would be overwritten; its flag stays, so it is asked too.
    // Otherwise the loop would go on with every sleep cut short, spinning.
    if (OsStopRequested() || OsEventIsSet(TormelStopEvent) == 0) break;
    OsEventSet(TormelStopEvent);
    OsServiceKeepAlive(OsMonotonicMs());

    ++n;
    bool served = false;
    for (const BufEntry& entry : BufFilesOf(&folder, n)) {
      if (OsStopRequested()) break;
      if (ServeFile(&folder, entry, config, destIp)) served = true;
    }
    if (served) continue;
    if (n >= kProbeLimit) n = 0;
    if (unpaused > 0) {
      --unpaused;
      continue;
    }
    if (TormelPause(kAbsentSleepMs, true)) unpaused = kProbeLimit;
  }
  pausingFolder = nullptr;
  BufFolderStop(&folder);
  return 1;
}
