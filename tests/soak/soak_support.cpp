#include "soak_support.h"

#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
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

namespace {

// What each open descriptor of process pid refers to, as /proc shows it.
std::vector<std::string> DescriptorTargets(int pid) {
  const std::string folder = "/proc/" + std::to_string(pid) + "/fd/";
  std::vector<std::string> targets;
  DIR* d = opendir(folder.c_str());
  if (!d) return targets;
  while (dirent* e = readdir(d)) {
    if (e->d_name[0] == '.') continue;
    char target[256] = {};
    // One closed since the listing was read is no longer open.
    if (readlink((folder + e->d_name).c_str(), target, sizeof target - 1) > 0) targets.push_back(target);
  }
  closedir(d);
  return targets;
}

}  // namespace

int SoakService::OpenDescriptors() const { return static_cast<int>(DescriptorTargets(child.pid).size()); }

int SoakService::SettledDescriptors() const {
  // The folder watch open, and no state being written aside: the service
  // publishes its first state right after the watch opens.
  int count = -1;
  auto settled = [&] {
    auto targets = DescriptorTargets(child.pid);
    count = static_cast<int>(targets.size());
    return std::find(targets.begin(), targets.end(), "anon_inode:inotify") != targets.end() &&
           std::none_of(targets.begin(), targets.end(), [](const std::string& t) { return t.ends_with(".new"); });
  };
  return WaitFor(settled) ? count : -1;
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
