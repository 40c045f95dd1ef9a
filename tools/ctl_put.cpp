// tormelctl put: appends one pending record to a numbered buffer file, under
// the same lock the service takes before it removes a finished file, and
// says it is done only once the record is on the disk.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "buffile.h"
#include "ctl.h"
#include "os_process.h"
#include "sockio.h"
#include "text.h"

namespace {

struct PutArgs {
  const char* config = nullptr;
  const char* number = nullptr;
  const char* to = nullptr;
  const char* record = nullptr;
};

// 0 when understood, otherwise the exit status of a usage error.
int ParseArgs(int argc, char** argv, PutArgs* args) {
  bool optionsEnded = false;
  for (int i = 0; i < argc; ++i) {
    const char* a = argv[i];
    const char** option = nullptr;
    if (!optionsEnded && strcmp(a, "--") == 0) {
      optionsEnded = true;
      continue;
    }
    if (!optionsEnded && strcmp(a, "--config") == 0) option = &args->config;
    if (!optionsEnded && strcmp(a, "--number") == 0) option = &args->number;
    if (!optionsEnded && strcmp(a, "--to") == 0) option = &args->to;
    if (option != nullptr) {
      if (i + 1 >= argc) return CtlUsageError(std::string(a) + " needs a value");
      *option = argv[++i];
    } else if (!optionsEnded && strncmp(a, "--", 2) == 0) {
      return CtlUsageError(std::string("put does not know the option \"") + a + "\"");
    } else if (args->record == nullptr) {
      args->record = a;
    } else {
      return CtlUsageError("put takes one record; quote a record that holds blanks");
    }
  }
  if (args->number == nullptr) return CtlUsageError("put needs --number N");
  if (args->to == nullptr) return CtlUsageError("put needs --to IP");
  if (args->record == nullptr) return CtlUsageError("put needs the record");
  return 0;
}

bool ValidAddress(const char* ip) {
  size_t length = strlen(ip);
  if (length == 0 || length > TORMEL_ADDRESS_WIDTH) return false;
  // Blanks would pass the library's parser but are no part of an address.
  if (std::any_of(ip, ip + length, TextIsSpace)) return false;
  uint32_t ignored = 0;
  return SockioParseIPv4(ip, TORMEL_ADDRESS_WIDTH, &ignored);
}

// Refuses what the service could not read back as one whole record.
bool ValidRecord(const std::string& record) {
  if (record.find_first_of("\r\n") != std::string::npos) {
    CtlError("the record holds a line end (CR or LF); a record is one line");
    return false;
  }
  if (record.find('\x1a') != std::string::npos) {
    CtlError("the record holds a CTRL-Z, which ends the readable text of a buffer file");
    return false;
  }
  if (record.size() > TORMEL_RECORD_MAX) {
    CtlError("the record is " + std::to_string(record.size()) + " characters long; at most " +
             std::to_string(TORMEL_RECORD_MAX) + " fit, since a buffer line holds at most " +
             std::to_string(TORMEL_LINE_MAX) + " characters with its line end");
    return false;
  }
  return true;
}

}  // namespace

int CtlPut(int argc, char** argv) {
  PutArgs args;
  if (int usage = ParseArgs(argc, argv, &args)) return usage;

  uint64_t number = 0;
  if (!TextIsNumberIn(args.number, 1, 0xffffffffu, &number)) {
    CtlError(std::string("the buffer file number \"") + args.number + "\" is not a positive number");
    return CTL_EXIT_FAILED;
  }
  if (!ValidAddress(args.to)) {
    CtlError(std::string("the receiver address \"") + args.to +
             "\" is not a dotted IPv4 address of at most 15 characters");
    return CTL_EXIT_FAILED;
  }
  std::string record = args.record;
  if (!ValidRecord(record)) return CTL_EXIT_FAILED;

  const char* path = args.config != nullptr ? args.config : OsDefaultParameterFile();
  CtlParams params;
  if (!CtlReadParams(path, &params)) {
    fprintf(stderr, "%s\n", TormelStartupFailure());
    return CTL_EXIT_FAILED;
  }
  std::string name = BufFileName(params.config.bufferFile, static_cast<unsigned>(number));

  // The first line of a file decides its receiver for every record in it,
  // so a record for another receiver would go astray.
  std::string receiver;
  if (BufReadReceiver(name.c_str(), &receiver) == 0 && !receiver.empty() && receiver != args.to) {
    CtlError(name + " is for the receiver " + receiver + "; a record for " + args.to + " would be sent there");
    return CTL_EXIT_FAILED;
  }

  std::string line = BufRecordLine(args.to, record);
  BufAppendStep failed = BufAppendStep::Write;
  int err = BufAppendLine(name.c_str(), line.data(), line.size(), &failed);
  if (err != 0) {
    CtlError(failed == BufAppendStep::Sync
                 ? "cannot sync " + name + ": " + CtlErrorText(err) + "; the record is not on disk and was taken out again"
                 : "cannot append to " + name + ": " + CtlErrorText(err));
    return CTL_EXIT_FAILED;
  }
  printf("appended to %s\n", name.c_str());
  return CTL_EXIT_OK;
}
