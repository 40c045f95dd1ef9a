// Small helpers for the test suites.
#pragma once
#include <chrono>
#include <functional>
#include <string>
#include <vector>

// A fresh folder under the system's temporary folder, removed with everything
// in it when the object goes.
struct TempDir {
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::string Path(const std::string& name) const { return path + "/" + name; }
  std::string path;
};

void WriteFile(const std::string& path, const std::string& bytes);
// Writes a file under a temporary name and gives it its name in one step, so
// the service never sees it half written.
void PlaceFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);
// A text file as the program wrote it, its CR LF line ends (Windows text
// output) read as LF.
std::string ReadText(const std::string& path);
bool FileExists(const std::string& path);
// The lines of a text, without their line ends.
std::vector<std::string> TextLines(const std::string& text);

// Polls condition until it holds or the deadline passes; true if it held.
bool WaitFor(const std::function<bool()>& condition,
             std::chrono::milliseconds deadline = std::chrono::seconds(10));

// State of a named event: 1 set, 0 reset, -1 absent or unreadable.
int TestEventState(const char* name);
