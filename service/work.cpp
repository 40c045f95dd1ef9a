// The forwarding loop: pass after pass, the next numbered buffer file is
// opened, its pending records are sent to the receiver it names, each
// acknowledged record is marked "*", and a file with nothing left pending is
// removed.
#include <cstdio>
#include <cstring>

#include "bufstream.h"
#include "os_error.h"
#include "os_time.h"
#include "sockio.h"
#include "tormel.h"

namespace {

constexpr const char* kFunction = "TormelWork()";
constexpr unsigned kProbeLimit = 9;       // numbers probed while no file exists
constexpr uint32_t kAbsentSleepMs = 500;
constexpr uint32_t kConnectSleepMs = 1000;

void Log(int32_t severity, int32_t code, int32_t secondary, const char* detail) {
  CLogWrite(TORMEL_LOG_SOURCE, kFunction, severity, code, secondary, TormelMessage, detail);
}

void LogReadError(int err) {
  char detail[80];
  OsErrorText(err, detail, sizeof detail);
  Log(1, 0, err, detail);
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

constexpr uint64_t kStopCheckMs = 100;

// A stop request ends a long file early; its unsent records wait for the
// next run. A signal is seen at once, the event within kStopCheckMs.
bool StopRequested(uint64_t* lastCheck) {
  if (OsStopRequested()) return true;
  uint64_t now = OsMonotonicMs();
  if (now - *lastCheck < kStopCheckMs) return false;
  *lastCheck = now;
  return OsEventIsSet(TormelStopEvent) == 0;
}

// Sends the pending records of an open file. True when every record the
// file held was acknowledged; *end receives where reading stopped.
bool SendRecords(BufStream* s, int32_t handle, const TormelConfig* config, uint64_t* end) {
  char prefix[TORMEL_PREFIX_SIZE];
  TormelBuildPrefix(prefix, config->localIp, config->portText);
  char line[TORMEL_LINE_SIZE];
  char frame[TORMEL_FRAME_SIZE + 1];
  char reply[2];
  bool delivered = true;
  uint64_t lastStopCheck = OsMonotonicMs();
  while (!BufEof(s)) {
    uint64_t lineStart = BufTell(s);
    int length = BufGets(s, line, sizeof line);
    if (length == 0) {
      if (BufError(s) != 0) {
        snprintf(TormelMessage, sizeof TormelMessage, "Fehler: Satz aus Xfr-Bufferdatei lesen (fgets)!");
        LogReadError(BufError(s));
        delivered = false;
      }
      break;
    }
    if (line[0] != '$') continue;
    if (StopRequested(&lastStopCheck)) {
      delivered = false;
      break;
    }
    uint64_t lineEnd = BufTell(s);
    TormelBuildFrame(frame, line, static_cast<size_t>(length), prefix);
    reply[0] = reply[1] = '\0';
    int32_t r = SndWithReply(handle, frame, TORMEL_FRAME_SIZE, reply, 1, config->timeout);
    if (r != 0) {
      if (r != SOCKIO_ESTOPPED) {
        snprintf(TormelMessage, sizeof TormelMessage, "Fehler: SndWithReply! ErrorCode: %ld", static_cast<long>(r));
        Log(1, r, 0, "");
      }
      // Bytes beyond the answer end the connection; the answer itself came whole.
      if (r == SOCKIO_EEXTRA && reply[0] == '1') BufWriteAt(s, lineStart, '*');
      delivered = false;
      break;
    }
    if (reply[0] != '1') {
      delivered = false;
      break;
    }
    // The mark is on disk before the next record leaves, so a crash repeats
    // at most the record whose acknowledgement was in flight.
    BufWriteAt(s, lineStart, '*');
    BufSeek(s, lineEnd);
  }
  *end = BufTell(s);
  return delivered;
}

// Removes a fully delivered file unless it holds a byte past where reading
// stopped: a record a producer appended since, or text behind a CTRL-Z that
// ended the reading early (one old-style producer's closing CTRL-Z with
// another's records behind it), which removal would lose unsent. Producers
// append under the same lock, so none can add a record between the check
// and the removal.
void RemoveIfUnchanged(BufStream* s, const char* name, uint64_t end) {
  if (OsFileLock(s->file) != 0) return;
  uint64_t size = 0;
  if (OsFileSize(s->file, &size) == 0 && size <= end) OsFileRemove(name);
  OsFileUnlock(s->file);
}

}  // namespace

void (*TormelPause)(uint32_t ms) = OsSleepMs;

int32_t TormelWork(TormelConfig* config) {
  TormelBufferBase(config->bufferFile);
  char name[sizeof config->bufferFile + 16];
  BufStream stream;
  unsigned n = 0;
  for (;;) {
    // A termination signal that resets the event between the test and the
    // set below would be overwritten; its flag stays, so it is asked too.
    // Otherwise the loop would go on with every sleep cut short, spinning.
    if (OsStopRequested() || OsEventIsSet(TormelStopEvent) == 0) return 1;
    OsEventSet(TormelStopEvent);

    ++n;
    TormelBufferName(name, sizeof name, config->bufferFile, n);
    if (BufOpen(&stream, name) != 0) {
      if (n >= kProbeLimit) n = 0;
      TormelPause(kAbsentSleepMs);
      continue;
    }

    if (!ReadReceiverAddress(&stream, config->destIp)) {
      snprintf(TormelMessage, sizeof TormelMessage, "Fehler: IP-String aus Xfr-Bufferdatei Nr. %u lesen (fgets)!", n);
      LogReadError(BufError(&stream));
      BufClose(&stream);
      return 0;
    }

    int32_t handle = 0;
    int32_t r = CSocketClientOpen(&handle, config->destIp, config->port, config->timeout);
    if (r != 0) {
      bool stopped = r == SOCKIO_ESTOPPED;  // asked to stop: no failure, no pause
      if (!stopped) {
        snprintf(TormelMessage, sizeof TormelMessage, "Fehler: CSocketClientOpen! ErrorCode: %d", static_cast<int>(r));
        Log(100, 0, 0, "");
      }
      BufClose(&stream);
      CSocketClose(handle);
      if (!stopped) TormelPause(kConnectSleepMs);
      continue;
    }

    uint64_t end = 0;
    if (SendRecords(&stream, handle, config, &end)) RemoveIfUnchanged(&stream, name, end);
    BufClose(&stream);

    r = CSocketClose(handle);
    if (r != 0) {
      snprintf(TormelMessage, sizeof TormelMessage, "Fehler: CSocketClose! ErrorCode: %d", static_cast<int>(r));
      Log(1, r, 0, "");
    }
  }
}
