// What monitoring makes of tormelctl's output, read by the real clients:
// status --json by python3's json module, metrics --textfile scraped by
// Prometheus's node exporter over HTTP and checked by promtool.
#include <csignal>
#include <filesystem>
#include <map>
#include <regex>

#include "ctl_fixture.h"
#include "os_net.h"

namespace {

constexpr const char* kPython = "/usr/bin/python3";
constexpr const char* kExporter = "/usr/bin/prometheus-node-exporter";
constexpr const char* kPromtool = "/usr/bin/promtool";

// Every leaf of a JSON document as "path type value", arrays as "path[]
// length"; python3 refuses what is no JSON.
constexpr const char* kFlatten = R"(import json, sys
def walk(path, v):
    if isinstance(v, dict):
        for k, x in v.items(): walk(path + "." + k if path else k, x)
    elif isinstance(v, list):
        print(path + "[]", "length", len(v))
        for i, x in enumerate(v): walk(path + "[" + str(i) + "]", x)
    else:
        kind = "null" if v is None else "bool" if isinstance(v, bool) else "number" if isinstance(v, (int, float)) else "string"
        print(path, kind, json.dumps(v))
walk("", json.load(open(sys.argv[1], encoding="utf-8")))
)";

using Clients = StateTest;

// The document as path -> "type value".
std::map<std::string, std::string> ParseJson(CtlTest& t, const std::string& json) {
  WriteFile(t.dir.Path("status.json"), json);
  std::string out, err;
  int rc = RunProcess(kPython, {"-c", kFlatten, t.dir.Path("status.json")}, t.dir.path, {}, &out, &err);
  EXPECT_EQ(rc, 0) << err << json;
  std::map<std::string, std::string> fields;
  for (const std::string& line : TextLines(out)) {
    size_t blank = line.find(' ');
    fields[line.substr(0, blank)] = line.substr(blank + 1);
  }
  return fields;
}

TEST_F(Clients, StatusJsonHasItsDocumentedFields) {
  if (!FileExists(kPython)) GTEST_SKIP() << kPython << " is missing (scripts/install-deps.sh installs python3)";
  Run();
  StateRecord r = Sample();
  Down(&r, Ago(700), Ago(5), now + 55000);
  Publish(r);
  WriteFile(dir.Path("TORMEL1.BUF"), BufferLine("a", '$', "10.9.9.9") + BufferLine("b", '*', "10.9.9.9"));
  CtlResult s = Ctl({"status", "--json", WriteParams(6665)});
  EXPECT_EQ(s.status, 0) << s.err;
  std::map<std::string, std::string> f = ParseJson(*this, s.out);

  const std::regex iso("string \"\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ\"");
  for (const char* key : {"time", "service.started", "service.updated", "service.oldest_pending",
                          "stations[0].last_success", "stations[0].oldest_pending", "stations[1].down_since",
                          "stations[1].next_try", "stations[1].last_failure.at"})
    EXPECT_TRUE(std::regex_match(f[key], iso)) << key << ": " << f[key];
  std::string state;
  ASSERT_EQ(StatePath(&state), 0);
  const std::map<std::string, std::string> expected = {
      {"format", "number 1"},
      {"instance", "string \"running\""},
      {"stop_event", "string \"absent\""},
      {"start_event", "string \"absent\""},
      {"state_file", "string \"" + state + "\""},
      {"state", "string \"current\""},
      {"current", "bool true"},
      {"reason", "null null"},
      {"service.pid", "number " + std::to_string(r.pid)},
      {"service.version", "string \"1.0\""},
      {"service.delivered", "number 120"},
      {"service.refused", "number 3"},
      {"service.failed", "number 5"},
      {"service.connections", "number 17"},
      {"service.files_removed", "number 11"},
      {"service.pending", "number 4"},
      {"service.stations_down", "number 1"},
      {"stations[]", "length 2"},
      {"stations[0].address", "string \"10.1.2.3:6665\""},
      {"stations[0].state", "string \"up\""},
      {"stations[0].up", "bool true"},
      {"stations[0].down_since", "null null"},
      {"stations[0].down_since_age_seconds", "null null"},
      {"stations[0].consecutive_failures", "number 0"},
      {"stations[0].next_try", "null null"},
      {"stations[0].next_try_in_seconds", "null null"},
      {"stations[0].last_failure", "null null"},
      {"stations[0].delivered", "number 100"},
      {"stations[0].files", "number 1"},
      {"stations[0].pending", "number 4"},
      {"stations[1].state", "string \"backoff\""},
      {"stations[1].up", "bool false"},
      {"stations[1].consecutive_failures", "number 5"},
      {"stations[1].last_failure.operation", "string \"CSocketClientOpen\""},
      {"stations[1].last_failure.code", "number 111"},
      {"stations[1].refused", "number 0"},
      {"stations[1].failed", "number 5"},
      {"stations[1].pending", "number 0"},
      {"stations[1].oldest_pending", "null null"},
      {"stations[1].oldest_pending_age_seconds", "null null"},
      {"buffer_files[]", "length 1"},
      {"buffer_files[0].path", "string \"TORMEL1.BUF\""},
      {"buffer_files[0].readable", "bool true"},
      {"buffer_files[0].receiver", "string \"10.9.9.9\""},
      {"buffer_files[0].pending", "number 1"},
      {"buffer_files[0].delivered", "number 1"},
      {"buffer_files[0].retired_from", "null null"},
      {"buffer_files[0].bytes_behind_ctrl_z", "number 0"},
  };
  for (const auto& [key, value] : expected) EXPECT_EQ(f[key], value) << key;
  // Ages are whole seconds, a moment late at most.
  for (const auto& [key, age] : std::map<std::string, int>{{"stations[0].oldest_pending_age_seconds", 30},
                                                          {"stations[1].down_since_age_seconds", 700},
                                                          {"stations[1].last_failure.at_age_seconds", 5},
                                                          {"service.started_age_seconds", 7200},
                                                          {"stations[1].next_try_in_seconds", 55}})
    EXPECT_TRUE(HasSoon(f[key] + "|", [&](int late) {
      return "number " + std::to_string(key.find("next_try") != std::string::npos ? age - late : age + late) + "|";
    })) << key << ": " << f[key];

  // Not current: the same fields, the service's empty.
  OsMutexRelease(&mutex);
  f = ParseJson(*this, Ctl({"status", "--json", WriteParams(6665)}).out);
  EXPECT_EQ(f["instance"], "string \"not_running\"");
  EXPECT_EQ(f["state"], "string \"not_running\"");
  EXPECT_EQ(f["current"], "bool false");
  EXPECT_EQ(f["reason"], "string \"not current: its service (pid " + std::to_string(r.pid) + ") no longer runs\"");
  EXPECT_EQ(f["service"], "null null");
  EXPECT_EQ(f["stations[]"], "length 0");
  EXPECT_EQ(f["buffer_files[]"], "length 1");
}

// GET path from 127.0.0.1:port: the whole answer, "" when none came.
std::string HttpGet(uint16_t port, const std::string& path) {
  OsSocket s;
  if (OsTcpConnect(0x7f000001, port, 1000, &s) != 0) return "";
  std::string request = "GET " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
  size_t sent = 0;
  std::string answer;
  if (OsTcpSend(s, request.data(), request.size(), &sent, 2000) == 0) {
    char buf[4096];
    size_t got = 0;
    while (OsTcpRecvSome(s, buf, sizeof buf, &got, 5000) == 0 && got > 0) answer.append(buf, got);
  }
  OsSocketClose(&s);
  return answer;
}

TEST_F(Clients, NodeExporterScrapesTheTextfileAndPromtoolFindsItClean) {
  if (!FileExists(kExporter))
    GTEST_SKIP() << kExporter << " is missing (scripts/install-deps.sh installs prometheus-node-exporter)";
  Run();
  StateRecord r = Sample();
  Down(&r, Ago(700), Ago(5), now + 55000);
  Publish(r);
  const std::string textfiles = dir.Path("textfile");
  std::filesystem::create_directory(textfiles);
  CtlResult m = Ctl({"metrics", "--textfile", textfiles});
  ASSERT_EQ(m.status, 0) << m.err;

  ASSERT_EQ(OsNetStartup(), 0);
  OsSocket probe;
  uint16_t port = 0;
  ASSERT_EQ(OsTcpListen(0x7f000001, 0, &probe, &port), 0);
  OsSocketClose(&probe);
  ChildProcess exporter = StartProcess(kExporter,
                                       {"--web.listen-address=127.0.0.1:" + std::to_string(port),
                                        "--collector.disable-defaults", "--collector.textfile",
                                        "--collector.textfile.directory=" + textfiles},
                                       dir.path);
  std::string answer;
  EXPECT_TRUE(WaitFor([&] {
    answer = HttpGet(port, "/metrics");
    return !answer.empty() || !IsRunning(exporter);
  }));
  SendSignal(exporter, SIGTERM);
  WaitExit(exporter, std::chrono::seconds(10));
  ASSERT_EQ(answer.rfind("HTTP/1.", 0), 0u) << answer << ReadFile(exporter.errPath);
  EXPECT_NE(answer.find(" 200 OK\r\n"), std::string::npos) << answer.substr(0, 200);
  for (const char* line : {"\nnode_textfile_scrape_error 0\n", "\ntormel_up 1\n", "\n# TYPE tormel_delivered_total counter\n",
                           "\ntormel_delivered_total 120\n", "\ntormel_station_up{station=\"10.9.9.9:6665\"} 0\n",
                           "\ntormel_station_consecutive_failures{station=\"10.9.9.9:6665\"} 5\n",
                           "\ntormel_station_pending_records{station=\"10.1.2.3:6665\"} 4\n",
                           "\ntormel_start_time_seconds "})
    EXPECT_NE(answer.find(line), std::string::npos) << line << "\nin:\n" << answer;

  if (!FileExists(kPromtool)) GTEST_SKIP() << kPromtool << " is missing (scripts/install-deps.sh installs prometheus)";
  std::string out, err;
  int rc = RunProcess("/bin/sh", {"-c", std::string(kPromtool) + " check metrics < " + textfiles + "/tormel.prom"},
                      dir.path, {}, &out, &err);
  EXPECT_EQ(rc, 0) << out << err;
  EXPECT_EQ(out + err, "") << "no lint findings";
}

}  // namespace
