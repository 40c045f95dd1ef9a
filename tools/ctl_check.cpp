// tormelctl check: reads a parameter file exactly as the service's start-up
// does and says whether the service would start with it.
#include <cstdio>
#include <filesystem>
#include <random>

#include "ctl.h"
#include "os_file.h"
#include "os_process.h"

namespace fs = std::filesystem;

namespace {

std::string Bounds(const ParamEntry& e) {
  char text[96];
  snprintf(text, sizeof text, e.type == TYPSTRING ? "%.0f to %.0f characters" : "a number from %.0f to %.0f",
           e.minValue, e.maxValue);
  return text;
}

std::string ValueText(const ParamEntry& e) {
  return e.type == TYPSTRING ? std::string(e.value.text) : std::to_string(e.value.number);
}

// What the service takes for a key that is missing or not valid.
const char* EmptyValue(const ParamEntry& e) {
  if (e.optional) return e.defaultValue;
  return e.type == TYPSTRING ? "an empty text" : "0";
}

// One line per key, then the warnings about what the service will make of it.
void PrintEntries(const CtlParams& params) {
  std::string warnings;
  for (const ParamEntry& e : params.table) {
    if (!e.found && e.optional) {
      // Missing on purpose, most often: the default is what the service does.
      printf("%-10s   (not found, the service uses %s)\n", e.paramToken, e.defaultValue);
    } else if (!e.found) {
      printf("%-10s   (not found)\n", e.paramToken);
      warnings += "warning: " + std::string(e.paramToken) + " is missing; the service uses " + EmptyValue(e) + "\n";
    } else if (!e.valid) {
      printf("%-10s = %s   (found, invalid)\n", e.paramToken, e.content);
      warnings += "warning: " + std::string(e.paramToken) + " \"" + e.content + "\" is not " + Bounds(e) +
                  "; the service uses " + EmptyValue(e) + "\n";
    } else {
      printf("%-10s = %s   (found, valid)\n", e.paramToken, ValueText(e).c_str());
    }
  }
  const ParamEntry& ip = params.table[PARAM_XFRIP];
  if (ip.valid && params.config.destIp[0] == '\0') {
    warnings += "warning: XFRIP \"" + std::string(ip.value.text) +
                "\" is longer than 15 characters; the service does not use it\n";
  }
  const ParamEntry& port = params.table[PARAM_XFRPORT];
  if (port.valid && params.config.port == 0)
    warnings += "warning: XFRPORT \"" + std::string(port.value.text) + "\" holds no port; the service uses 0\n";
  fputs(warnings.c_str(), stdout);
}

// A name in the folder that nobody uses, for a probe file.
fs::path ProbeName(const fs::path& folder) {
  std::random_device random;
  for (;;) {
    char name[48];
    snprintf(name, sizeof name, ".tormelctl-probe-%08x%08x", random(), random());
    fs::path probe = folder / name;
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(probe, ec))) return probe;
  }
}

// Whether the service's log could be opened for appending, as start-up
// opens it, without creating it: a missing log is judged by a probe file of
// our own in its folder, removed at once, since permission bits alone cannot
// tell what this user may do there.
bool LogCanOpen(const char* logFile, std::string* verdict) {
  if (logFile[0] == '\0') {
    *verdict = "LOGDATEI names no file; the service cannot open its log";
    return false;
  }
  std::string name = std::string("\"") + logFile + "\"";
  std::error_code ec;
  // The service never follows a symbolic link to its log.
  fs::file_status status = fs::symlink_status(logFile, ec);
  if (fs::exists(status)) {
    if (fs::is_directory(status)) {
      *verdict = name + " is a folder; the service cannot open its log";
      return false;
    }
    OsFile f;
    int err = OsFileOpenLog(logFile, &f);
    if (err != 0) {
      *verdict = name + " cannot be opened for appending: " + CtlErrorText(err);
      return false;
    }
    OsFileClose(&f);
    *verdict = name + " exists and can be opened for appending";
    return true;
  }
  fs::path folder = fs::path(logFile).parent_path();
  if (folder.empty()) folder = ".";
  if (!fs::is_directory(folder, ec)) {
    *verdict = name + " cannot be created: the folder \"" + folder.string() + "\" does not exist";
    return false;
  }
  fs::path probe = ProbeName(folder);
  OsFile f;
  int err = OsFileOpenAppend(probe.string().c_str(), &f);
  if (err != 0) {
    *verdict = name + " cannot be created: " + CtlErrorText(err);
    return false;
  }
  OsFileClose(&f);
  OsFileRemove(probe.string().c_str());
  *verdict = name + " does not exist yet and can be created";
  return true;
}

}  // namespace

int CtlCheck(int argc, char** argv) {
  if (argc > 1) return CtlUsageError("check takes at most one parameter file");
  const char* path = argc == 1 ? argv[0] : OsDefaultParameterFile();
  printf("parameter file: %s\n", path);

  CtlParams params;
  if (!CtlReadParams(path, &params)) {
    printf("%s\nthe service would not start with this file\n", TormelStartupFailure());
    return CTL_EXIT_FAILED;
  }
  PrintEntries(params);
  std::string verdict;
  bool logOk = LogCanOpen(params.config.logFile, &verdict);
  printf("log file: %s\nthe service would %s with this file\n", verdict.c_str(), logOk ? "start" : "not start");
  return logOk ? CTL_EXIT_OK : CTL_EXIT_FAILED;
}
