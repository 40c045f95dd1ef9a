// Child processes on Windows: CreateProcess with standard output and error
// redirected to files, standard input from NUL.
#include <windows.h>

#include <cctype>
#include <csignal>
#include <cstdio>
#include <cstring>

#include <stdexcept>

#include "os_sync.h"
#include "test_process.h"
#include "test_support.h"

namespace {

// Quotes one argument so that the child's C runtime splits it back out as it
// was: backslashes are literal except before a quote.
std::string Quote(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) return arg;
  std::string q = "\"";
  size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') q.append(backslashes * 2 + 1, '\\');
    else q.append(backslashes, '\\');
    backslashes = 0;
    q += c;
  }
  q.append(backslashes * 2, '\\');
  return q + "\"";
}

std::string UpperName(const std::string& entry) {
  std::string name = entry.substr(0, entry.find('=', 1));
  for (char& c : name) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  return name;
}

// This process's environment with env's entries set or replaced, as a block.
std::string EnvironmentBlock(const std::map<std::string, std::string>& env) {
  std::map<std::string, std::string> entries;  // by upper-case name: names ignore case
  char* block = GetEnvironmentStringsA();
  for (const char* p = block; *p; p += strlen(p) + 1) entries[UpperName(p)] = p;
  FreeEnvironmentStringsA(block);
  for (const auto& [name, value] : env) entries[UpperName(name)] = name + "=" + value;
  std::string result;
  for (const auto& [name, entry] : entries) result += entry + '\0';
  return result + '\0';
}

BOOL WINAPI SwallowControlEvent(DWORD) { return TRUE; }

HANDLE OpenForChild(const std::string& path, DWORD access, DWORD disposition) {
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  return CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &sa, disposition,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

ChildProcess Start(const std::string& program, const std::vector<std::string>& args, const std::string& cwd,
                   const std::map<std::string, std::string>& env, bool console) {
  ChildProcess child;
  child.console = console;
  child.outPath = CapturePath(cwd, "out");
  child.errPath = CapturePath(cwd, "err");
  // The program's path is taken against this process's folder, before the
  // child gets its own.
  char full[MAX_PATH * 4];
  if (GetFullPathNameA(program.c_str(), sizeof full, full, nullptr) == 0) throw std::runtime_error("bad program path");
  std::string commandLine = Quote(full);
  for (const auto& a : args) commandLine += " " + Quote(a);
  std::string environment = EnvironmentBlock(env);

  HANDLE in = OpenForChild("NUL", GENERIC_READ, OPEN_EXISTING);
  HANDLE out = OpenForChild(child.outPath, GENERIC_WRITE, CREATE_ALWAYS);
  HANDLE err = OpenForChild(child.errPath, GENERIC_WRITE, CREATE_ALWAYS);
  STARTUPINFOA si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = in;
  si.hStdOutput = out;
  si.hStdError = err;
  PROCESS_INFORMATION pi{};
  BOOL ok = in != INVALID_HANDLE_VALUE && out != INVALID_HANDLE_VALUE && err != INVALID_HANDLE_VALUE &&
            CreateProcessA(full, commandLine.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, environment.data(),
                           cwd.c_str(), &si, &pi);
  DWORD error = GetLastError();
  for (HANDLE h : {in, out, err})
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  if (!ok) throw std::runtime_error("cannot start " + program + ": error " + std::to_string(error));
  CloseHandle(pi.hThread);
  child.pid = static_cast<int>(pi.dwProcessId);
  child.handle = pi.hProcess;
  return child;
}

}  // namespace

ChildProcess StartProcess(const std::string& program, const std::vector<std::string>& args, const std::string& cwd,
                          const std::map<std::string, std::string>& env) {
  return Start(program, args, cwd, env, false);
}

ChildProcess StartConsoleProcess(const std::string& program, const std::vector<std::string>& args,
                                 const std::string& cwd, const std::map<std::string, std::string>& env) {
  return Start(program, args, cwd, env, true);
}

int WaitExit(ChildProcess& child, std::chrono::milliseconds deadline, ChildUsage* usage) {
  if (usage != nullptr) *usage = ChildUsage{};
  HANDLE h = static_cast<HANDLE>(child.handle);
  if (h == nullptr) return -1;
  int status = -1;
  if (WaitForSingleObject(h, static_cast<DWORD>(deadline.count())) == WAIT_OBJECT_0) {
    DWORD code = 0;
    GetExitCodeProcess(h, &code);
    status = static_cast<int>(code);
  } else {
    TerminateProcess(h, 128 + 9);
    WaitForSingleObject(h, INFINITE);
  }
  CloseHandle(h);
  child.handle = nullptr;
  child.pid = -1;
  return status;
}

bool IsRunning(const ChildProcess& child) {
  return child.handle != nullptr && WaitForSingleObject(static_cast<HANDLE>(child.handle), 0) == WAIT_TIMEOUT;
}

void SendSignal(const ChildProcess& child, int signal) {
  if (child.handle == nullptr) return;
  if ((signal == SIGTERM || signal == SIGINT) && child.console) {
    // A control event goes to every process of a console: this one joins
    // the child's for the moment and swallows the event itself (not with
    // the ignore flag, which later children would inherit). A console it
    // had of its own is given up; a test process needs none.
    FreeConsole();
    if (AttachConsole(static_cast<DWORD>(child.pid))) {
      SetConsoleCtrlHandler(SwallowControlEvent, TRUE);
      GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
      FreeConsole();
    }
    return;
  }
  if (signal == SIGTERM || signal == SIGINT) {
    OsEvent stop;
    if (OsEventOpen("StopTormelEvent", &stop) != 0) return;
    OsEventReset(stop);
    // The service sets the event again right after each check that found it
    // set, so a reset between the two is undone: as tormelctl stop does, it
    // is repeated while the child runs, and the state the child's shutdown
    // leaves ("set") is put back after.
    bool repeated = false;
    for (int i = 0; i < 500 && WaitForSingleObject(static_cast<HANDLE>(child.handle), 20) == WAIT_TIMEOUT; ++i) {
      if (OsEventIsSet(stop) == 1) {
        OsEventReset(stop);
        repeated = true;
      }
    }
    if (repeated && OsEventIsSet(stop) == 0) OsEventSet(stop);
    OsEventClose(&stop);
    return;
  }
  TerminateProcess(static_cast<HANDLE>(child.handle), static_cast<UINT>(128 + signal));
}

// The children take their environment from this process's block, which
// SetEnvironmentVariable changes.
void TestSetEnv(const std::string& name, const std::string& value) {
  SetEnvironmentVariableA(name.c_str(), value.c_str());
}

void TestUnsetEnv(const std::string& name) { SetEnvironmentVariableA(name.c_str(), nullptr); }
bool TestOnWindows() { return true; }
bool TestUnderWine() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}
