// What starting and awaiting a child is alike on every system.
#include <atomic>
#include <filesystem>

#include "os_process.h"
#include "test_process.h"
#include "test_support.h"

std::string CapturePath(const std::string& cwd, const char* kind) {
  static std::atomic<int> counter{0};
  return cwd + "/." + kind + "-" + std::to_string(OsProcessId()) + "-" + std::to_string(++counter);
}

int RunProcess(const std::string& program, const std::vector<std::string>& args, const std::string& cwd,
               const std::map<std::string, std::string>& env, std::string* out, std::string* err,
               std::chrono::milliseconds deadline) {
  ChildProcess child = StartProcess(program, args, cwd, env);
  int status = WaitExit(child, deadline);
  // The C runtime writes a console program's lines with CR LF on Windows;
  // the suites compare the text.
  if (out) *out = ReadText(child.outPath);
  if (err) *err = ReadText(child.errPath);
  // Under Wine the ended child's handles may close a moment after its end,
  // and a file removed while open stays visible until then.
  std::error_code ec;
  std::filesystem::remove(child.outPath, ec);
  std::filesystem::remove(child.errPath, ec);
  WaitFor([&] { return !FileExists(child.outPath) && !FileExists(child.errPath); }, std::chrono::seconds(2));
  return status;
}
