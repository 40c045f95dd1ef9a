// tormelctl metrics: the service's state in the Prometheus text exposition
// format, on standard output or as DIR/tormel.prom for the node exporter's
// textfile collector.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "ctl.h"
#include "os_file.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kTextfileName = "tormel.prom";

void Family(std::string& out, const char* name, const char* type, const char* help) {
  out += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
}

void Sample(std::string& out, const char* name, const std::string& value) {
  out += std::string(name) + " " + value + "\n";
}

std::string Label(const std::string& value) {
  std::string v;
  for (char c : value) {
    if (c == '\\' || c == '"') v += '\\';
    v += c == '\n' ? "\\n" : std::string(1, c);
  }
  return v;
}

// One family with a sample for every station.
template <typename Value>
void PerStation(std::string& out, const StateRecord& r, const char* name, const char* type, const char* help,
                Value value) {
  Family(out, name, type, help);
  for (const StateStation& s : r.stations)
    out += std::string(name) + "{station=\"" + Label(s.address) + "\"} " + std::to_string(value(s)) + "\n";
}

std::string Seconds(uint64_t ms) {
  char text[32];
  snprintf(text, sizeof text, "%llu.%03llu", static_cast<unsigned long long>(ms / 1000),
           static_cast<unsigned long long>(ms % 1000));
  return text;
}

std::string Exposition(const CtlView& v) {
  std::string out;
  const bool current = v.kind == CtlStateKind::Current;
  Family(out, "tormel_up", "gauge", "1 when the service runs and its published state is current.");
  Sample(out, "tormel_up", current ? "1" : "0");
  if (!current) return out;

  const StateRecord& r = v.state;
  const uint64_t now = v.now;
  CtlTotals t = CtlSum(r);
  Family(out, "tormel_start_time_seconds", "gauge", "When the service started, in seconds since 1970 (UTC).");
  Sample(out, "tormel_start_time_seconds", Seconds(r.started));
  struct Whole {
    const char* name;
    const char* type;
    const char* help;
    uint64_t value;
  };
  const Whole whole[] = {
      {"tormel_delivered_total", "counter", "Records the receivers acknowledged since the service started.",
       r.delivered},
      {"tormel_refused_total", "counter", "Records the receivers refused since the service started.", r.refused},
      {"tormel_failed_total", "counter", "Failed connections and exchanges since the service started.", r.failed},
      {"tormel_connections_total", "counter", "Connections opened since the service started.", r.connections},
      {"tormel_files_removed_total", "counter", "Delivered buffer files removed since the service started.",
       r.filesRemoved},
      {"tormel_pending_records", "gauge", "Records waiting in the buffer files.", t.pending},
      {"tormel_oldest_pending_age_seconds", "gauge", "How long the oldest pending record waits; 0 when none.",
       CtlAgeSeconds(t.oldestPending, now)},
  };
  for (const Whole& m : whole) {
    Family(out, m.name, m.type, m.help);
    Sample(out, m.name, std::to_string(m.value));
  }

  PerStation(out, r, "tormel_station_up", "gauge", "1 while the station takes connections, 0 while it is down.",
             [](const StateStation& s) { return s.up ? 1 : 0; });
  PerStation(out, r, "tormel_station_consecutive_failures", "gauge", "Failures since the station's last success.",
             [](const StateStation& s) { return s.failures; });
  PerStation(out, r, "tormel_station_pending_records", "gauge", "Records waiting for the station.",
             [](const StateStation& s) { return s.pending; });
  PerStation(out, r, "tormel_station_oldest_pending_age_seconds", "gauge",
             "How long the station's oldest pending record waits; 0 when none.",
             [now](const StateStation& s) { return CtlAgeSeconds(s.oldestPending, now); });
  PerStation(out, r, "tormel_station_delivered_total", "counter", "Records the station acknowledged.",
             [](const StateStation& s) { return s.delivered; });
  PerStation(out, r, "tormel_station_refused_total", "counter", "Records the station refused.",
             [](const StateStation& s) { return s.refused; });
  PerStation(out, r, "tormel_station_failed_total", "counter", "Failed connections and exchanges with the station.",
             [](const StateStation& s) { return s.failed; });
  return out;
}

// Written aside under a name the collector passes over (it reads *.prom
// only), then renamed over the old file, so that a scrape never sees half.
int WriteTextfile(const std::string& path, const std::string& text) {
  const std::string aside = path + ".new";
  errno = 0;
  std::ofstream out(aside, std::ios::binary | std::ios::trunc);
  if (!out) return errno != 0 ? errno : EIO;
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  out.close();
  std::error_code ec;
  if (!out) {
    int err = errno != 0 ? errno : EIO;
    fs::remove(aside, ec);
    return err;
  }
  // The collector runs as a user of its own: everybody may read the figures.
  fs::permissions(aside,
                  fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read,
                  fs::perm_options::replace, ec);
  int rc = OsFileRename(aside.c_str(), path.c_str());
  if (rc != 0) fs::remove(aside, ec);
  return rc;
}

}  // namespace

int CtlMetrics(int argc, char** argv) {
  const char* textfileDir = nullptr;
  for (int i = 0; i < argc; ++i) {
    if (strcmp(argv[i], "--textfile") != 0 || i + 1 >= argc || textfileDir != nullptr)
      return CtlUsageError(std::string("metrics does not take \"") + argv[i] + "\"");
    textfileDir = argv[++i];
  }
  CtlView view;
  CtlLook(false, &view);
  std::string text = Exposition(view);
  // A state that cannot be told is exported as a service that is not up,
  // so that a stale file never stands for it; it is said on standard error.
  int status = CTL_EXIT_OK;
  if (view.kind == CtlStateKind::Unknown || view.kind == CtlStateKind::Unreadable) {
    CtlError("state " + CtlNotCurrentText(view) + (view.held < 0 ? " (" + view.heldError + ")" : ""));
    status = CTL_EXIT_FAILED;
  }
  if (textfileDir == nullptr) {
    fputs(text.c_str(), stdout);
    return status;
  }
  const std::string path = (fs::path(textfileDir) / kTextfileName).string();
  int rc = WriteTextfile(path, text);
  if (rc != 0) {
    CtlError("cannot write " + path + ": " + CtlErrorText(rc));
    return CTL_EXIT_FAILED;
  }
  return status;
}
