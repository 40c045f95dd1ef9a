#include "test_support.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "buffile.h"
#include "os_sync.h"

TempDir::TempDir() {
  namespace fs = std::filesystem;
  static unsigned counter = 0;
  auto base = fs::temp_directory_path();
  for (;;) {
    auto candidate = base / ("tormel-test-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) +
                             "-" + std::to_string(++counter));
    if (fs::create_directory(candidate)) {
      path = candidate.string();
      return;
    }
  }
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::permissions(path, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
  std::filesystem::remove_all(path, ec);
}

namespace {

void Write(const std::string& path, const std::string& bytes, std::ios::openmode mode) {
  std::ofstream out(path, std::ios::binary | mode);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

}  // namespace

void WriteFile(const std::string& path, const std::string& bytes) { Write(path, bytes, std::ios::trunc); }

void AppendFile(const std::string& path, const std::string& bytes) { Write(path, bytes, std::ios::app); }

void PlaceFile(const std::string& path, const std::string& bytes) {
  std::string temp = path + ".new";
  WriteFile(temp, bytes);
  std::filesystem::rename(temp, path);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string ReadText(const std::string& path) {
  std::string bytes = ReadFile(path), text;
  for (size_t i = 0; i < bytes.size(); ++i)
    if (!(bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')) text += bytes[i];
  return text;
}

bool FileExists(const std::string& path) { return std::filesystem::exists(path); }

std::vector<std::string> TextLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string BufferLine(const std::string& content, char mark, const std::string& ip, const std::string& end) {
  std::string line = BufRecordLine(ip, content);
  line[0] = mark;
  line.resize(line.size() - 2);  // its CR LF
  return line + end;
}

std::string WriteParams(const std::string& folder, uint16_t port, const std::string& extra, const std::string& name) {
  std::string path = folder + "/" + name;
  WriteFile(path, "KEYINI\r\n// written by the test\r\n[TORMEL]\r\nXFRIP = 127.0.0.1\r\nXFRPORT = " +
                      std::to_string(port) +
                      "\r\nBUFFDATEI = tormel.buf\r\nLOGDATEI = tormel.log\r\nMAXLOGSIZE = 100\r\nERRLEVEL = 1000\r\n" +
                      extra);
  return path;
}

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds deadline) {
  auto end = std::chrono::steady_clock::now() + deadline;
  for (;;) {
    if (condition()) return true;
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

bool BufferFileLeft(const std::string& folder) {
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    std::string name = entry.path().filename().string();
    if (name.starts_with('.')) name.erase(0, 1);
    if (name.starts_with("TORMEL") && name.find(".BUF") != std::string::npos) return true;
  }
  return false;
}

bool WaitNoBufferFileLeft(const std::string& folder, std::chrono::milliseconds deadline) {
  return WaitFor([&] { return !BufferFileLeft(folder); }, deadline);
}

int TestEventState(const char* name) {
  OsEvent ev;
  if (OsEventOpen(name, &ev) != 0) return -1;
  int state = OsEventIsSet(ev);
  OsEventClose(&ev);
  return state;
}
