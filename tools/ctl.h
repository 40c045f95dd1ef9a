// The control tool's commands and the pieces they share. Each command takes
// the arguments after its name and returns the program's exit status.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>

#include "paramfile.h"
#include "tormel.h"

// Exit statuses of the control tool.
constexpr int CTL_EXIT_OK = 0;
constexpr int CTL_EXIT_FAILED = 1;  // the command was understood and did not succeed
constexpr int CTL_EXIT_USAGE = 2;   // the command line was not understood

int CtlStop(int argc, char** argv);
int CtlStatus(int argc, char** argv);
int CtlCheck(int argc, char** argv);
int CtlPut(int argc, char** argv);
int CtlInstall(int argc, char** argv);
int CtlUninstall(int argc, char** argv);

// Prints "tormelctl: TEXT" on standard error.
void CtlError(const std::string& text);
// Prints the usage text on standard error and returns CTL_EXIT_USAGE.
int CtlUsageError(const std::string& text);
void CtlPrintUsage(FILE* out);
// The system's text for an error number.
std::string CtlErrorText(int err);

// Reads a parameter file with the service's own table, as start-up does.
struct CtlParams {
  ParamEntry table[TORMEL_PARAM_COUNT];
  TormelConfig config;
  int32_t code;
  int32_t where;
};
// True when the file reads; otherwise TormelStartupFailure() tells why.
bool CtlReadParams(const char* path, CtlParams* params);

// A decimal number of digits only, within [min, max].
bool CtlParseNumber(const char* text, uint64_t min, uint64_t max, uint64_t* value);
