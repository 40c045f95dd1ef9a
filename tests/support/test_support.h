// What the suites and the benchmarks share: temporary folders, files, the
// buffer line and parameter file the service reads, waiting with a
// deadline, and a look at the named events.
#pragma once
#include <chrono>
#include <cstdint>
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
void AppendFile(const std::string& path, const std::string& bytes);
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

// A buffer line as producers write it (buflayout.h): the mark, the receiver
// address in its column, the record content, the line end.
std::string BufferLine(const std::string& content, char mark = '$', const std::string& ip = "127.0.0.1",
                       const std::string& end = "\r\n");

// Writes the parameter file `name` into folder for a receiver on 127.0.0.1
// at port, with the buffer files TORMEL<n>.BUF and the log tormel.log in the
// programs' working folder; extra lines are appended to the section, where
// a later valid line of a key replaces an earlier one. Returns its path.
std::string WriteParams(const std::string& folder, uint16_t port, const std::string& extra = "TIMEOUT = 1\r\n",
                        const std::string& name = "SOCKIO.INI");

// Polls condition until it holds or the deadline passes; true if it held.
bool WaitFor(const std::function<bool()>& condition,
             std::chrono::milliseconds deadline = std::chrono::seconds(10));

// Whether folder holds a buffer file of the service's (TORMEL<n>.BUF) or
// one it retired under a private name (.TORMEL<n>.BUF.retired-<k>).
bool BufferFileLeft(const std::string& folder);
// Waits until folder holds neither; true if it came to that in time.
bool WaitNoBufferFileLeft(const std::string& folder, std::chrono::milliseconds deadline = std::chrono::seconds(10));

// State of a named event: 1 set, 0 reset, -1 absent or unreadable.
int TestEventState(const char* name);
