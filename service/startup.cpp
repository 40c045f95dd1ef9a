// Start-up and shutdown of the service.
#include <cstdio>
#include <cstring>

#include "buffile.h"
#include "os_error.h"
#include "os_process.h"
#include "os_service.h"
#include "os_stop.h"
#include "paramfile.h"
#include "sockio.h"
#include "text.h"
#include "tormel.h"

namespace {

char startupFailure[512];
int startupStatus = TORMEL_EXIT_FAILED;
// Held for the whole run: one service at a time on a buffer folder, whatever
// runtime folder (and so instance mutex) each one sees.
OsFile folderLock;

// The leading decimal number of text; 0 when it holds none, or one past
// 32 bits.
int32_t DecimalValue(const char* text) {
  uint64_t value = 0;
  TextReadDigits(text, &value);
  return value > INT32_MAX ? 0 : static_cast<int32_t>(value);
}

void FillConfig(const ParamEntry* table, TormelConfig* config) {
  // An address longer than the field is no address; it is never cut into another.
  const char* ip = table[PARAM_XFRIP].value.text;
  TextCopy(config->destIp, sizeof config->destIp, strlen(ip) < sizeof config->destIp ? ip : "");
  TextCopy(config->bufferFile, sizeof config->bufferFile, table[PARAM_BUFFDATEI].value.text);
  BufBaseName(config->bufferFile);
  TextCopy(config->logFile, sizeof config->logFile, table[PARAM_LOGDATEI].value.text);
  TextCopy(config->portText, sizeof config->portText, table[PARAM_XFRPORT].value.text);
  config->errLevel = table[PARAM_ERRLEVEL].value.number;
  config->maxLogSize = table[PARAM_MAXLOGSIZE].value.number;
  config->timeout = table[PARAM_TIMEOUT].value.number;
  config->port = DecimalValue(config->portText);
  // Optional keys that are missing or out of range take their defaults.
  auto optional = [&](TormelParam key, int32_t fallback) {
    return table[key].valid ? table[key].value.number : fallback;
  };
  config->window = optional(PARAM_WINDOW, TORMEL_DEFAULT_WINDOW);
  config->stations = optional(PARAM_STATIONS, TORMEL_DEFAULT_STATIONS);
  config->retryMax = optional(PARAM_RETRYMAX, TORMEL_DEFAULT_RETRYMAX);
}

void ReportParamFailure(const char* path, int32_t code, int32_t where) {
  // The parser's codes come with the line where it stopped.
  const std::string line = code <= PAREOF ? " line " + std::to_string(where) : "";
  snprintf(startupFailure, sizeof startupFailure, "tormel: %s%s: %s (%d)", path, line.c_str(), ParamErrorText(code),
           static_cast<int>(code));
}

bool CreateEvent(const char* name, bool initiallySet, OsEvent* ev) {
  int err = OsEventCreate(name, initiallySet, ev);
  if (err == 0) return true;
  char text[128];
  OsErrorText(err, text, sizeof text);
  snprintf(startupFailure, sizeof startupFailure, "tormel: cannot create the event %s: %s", name, text);
  return false;
}

bool ClaimBufferFolder(const char* base) {
  std::string path;
  int err = BufFolderLock(base, &folderLock, &path);
  if (err == 0) return true;
  if (err == OS_FILE_LOCKED) {
    snprintf(startupFailure, sizeof startupFailure, "tormel: another instance is running on the buffer files of %s (%s)",
             base[0] ? base : "this folder", path.c_str());
    startupStatus = TORMEL_EXIT_RUNNING;
    return false;
  }
  char text[128];
  OsErrorText(err, text, sizeof text);
  snprintf(startupFailure, sizeof startupFailure, "tormel: cannot open the lock file %s of the buffer folder: %s",
           path.c_str(), text);
  return false;
}

}  // namespace

const char* TormelStartupFailure() { return startupFailure; }

int32_t TormelReadParams(const char* path, ParamEntry* table, TormelConfig* config, int32_t* code, int32_t* where) {
  TormelParamTable(table);
  *code = 0;
  *where = 0;
  if (!ParamFileRead(path, PARREAD, table, TORMEL_PARAM_COUNT, code, where)) {
    ReportParamFailure(path, *code, *where);
    return 0;
  }
  memset(config, 0, sizeof *config);
  FillConfig(table, config);
  return 1;
}

int32_t TormelInit(const char* paramPath, TormelConfig* config) {
  startupFailure[0] = '\0';
  startupStatus = TORMEL_EXIT_FAILED;
  const char* path = paramPath && *paramPath ? paramPath : OsDefaultParameterFile();

  ParamEntry table[TORMEL_PARAM_COUNT];
  int32_t code = 0, where = 0;
  if (!TormelReadParams(path, table, config, &code, &where)) return 0;
  if (!ClaimBufferFolder(config->bufferFile)) return 0;

  if (!CLogOpen(config->logFile, config->errLevel, config->maxLogSize)) {
    char text[80];
    CGetErrorInfo(nullptr, text, sizeof text);
    snprintf(startupFailure, sizeof startupFailure, "tormel: cannot open the error log \"%s\": %s", config->logFile,
             text);
    return 0;
  }

  int32_t r = CGetLocalIPString(config->localIp, sizeof config->localIp);
  if (r != 0) {
    config->localIp[0] = '\0';
    int32_t code = 0;
    CGetErrorInfo(&code, TormelMessage, 80);
    CLogWrite(TORMEL_LOG_SOURCE, "TormelInit()", 1, r, code, "Fehler: Fkt. CGetLocalIPString()!", TormelMessage);
  }

  if (!CreateEvent(TORMEL_STOP_EVENT_NAME, true, &TormelStopEvent)) return 0;
  OsStopOnSignals(TormelStopEvent);
  if (!CreateEvent(TORMEL_START_EVENT_NAME, false, &TormelStartEvent)) return 0;
  OsEventSet(TormelStartEvent);
  OsServiceReportRunning();
  return 1;
}

int32_t TormelExit() {
  OsEventSet(TormelStopEvent);
  OsEventClose(&TormelStopEvent);
  OsEventClose(&TormelStartEvent);
  return 1;
}

int TormelMain(const char* commandLine) {
  // From the start, so that no signal ends the program abruptly (a write
  // past the file size limit fails instead); a request during start-up ends
  // the run at the loop's first check.
  OsStopOnSignals(OsEvent{});
  OsMutex mutex;
  int err = OsMutexClaim(TORMEL_MUTEX_NAME, &mutex);
  if (err == OS_ALREADY_EXISTS) {
    OsPrintDiagnostic("tormel: another instance is running");
    return TORMEL_EXIT_RUNNING;
  }
  if (err != 0) {
    char text[128], line[256];
    OsErrorText(err, text, sizeof text);
    snprintf(line, sizeof line, "tormel: cannot claim the instance mutex %s: %s", TORMEL_MUTEX_NAME, text);
    OsPrintDiagnostic(line);
    return TORMEL_EXIT_FAILED;
  }

  TormelConfig config;
  if (!TormelInit(commandLine, &config)) {
    OsPrintDiagnostic(startupFailure);
    OsFileClose(&folderLock);
    OsMutexRelease(&mutex);
    return startupStatus;
  }

  int status = TORMEL_EXIT_STOPPED;
  if (!TormelWork(&config)) {
    snprintf(TormelMessage, sizeof TormelMessage, "Fehler: Funktion TormelWork()");
    CLogWrite(TORMEL_LOG_SOURCE, "WinMain()", 1, 0, 0, TormelMessage, "");
    status = TORMEL_EXIT_FAILED;
  }
  OsServiceReportStopping();
  TormelExit();
  OsFileClose(&folderLock);
  OsMutexRelease(&mutex);
  return status;
}
