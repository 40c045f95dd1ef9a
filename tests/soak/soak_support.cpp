#include "soak_support.h"

#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <regex>
#include <sstream>

SoakService::SoakService(uint16_t port, int timeoutSeconds, int window) {
  params = WriteParams(port, "MAXLOGSIZE = 10000\r\nTIMEOUT = " + std::to_string(timeoutSeconds) +
                                 "\r\nWINDOW = " + std::to_string(window) + "\r\n");
}

SoakService::~SoakService() {
  if (child.pid > 0) Kill();
}

void SoakService::Kill() {
  SendSignal(child, SIGKILL);
  WaitExit(child);
}

int SoakService::OpenDescriptors() const {
  DIR* d = opendir(("/proc/" + std::to_string(child.pid) + "/fd").c_str());
  if (!d) return -1;
  int n = 0;
  while (dirent* e = readdir(d)) n += e->d_name[0] != '.';
  closedir(d);
  return n;
}

int SoakService::SettledDescriptors() const {
  const std::string folder = "/proc/" + std::to_string(child.pid) + "/fd/";
  auto watching = [&] {
    DIR* d = opendir(folder.c_str());
    if (!d) return false;
    bool found = false;
    while (dirent* e = readdir(d)) {
      char target[64] = {};
      if (readlink((folder + e->d_name).c_str(), target, sizeof target - 1) > 0 &&
          std::string(target) == "anon_inode:inotify")
        found = true;
    }
    closedir(d);
    return found;
  };
  return WaitFor(watching) ? OpenDescriptors() : -1;
}

std::vector<std::string> LogEntries(const std::string& log) {
  static const std::regex entry(R"re((function=\S+ severity=\d+ code=-?\d+ secondary=-?\d+ message=".*") detail=)re");
  std::vector<std::string> entries;
  std::istringstream lines(log);
  std::string line;
  std::smatch m;
  while (std::getline(lines, line)) {
    entries.push_back(std::regex_search(line, m, entry) ? m[1].str() : "unreadable: " + line);
  }
  return entries;
}
