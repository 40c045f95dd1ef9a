// status, metrics and health on a published state that the test writes
// itself, with the instance mutex held by the test as a service holds it.
#include <filesystem>

#include "ctl_fixture.h"

namespace {

using Published = StateTest;

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST_F(Published, StatusShowsEveryStationBesideTheFiles) {
  StateRecord r = Sample();
  Down(&r, Ago(700), Ago(5), now + 55000);
  Publish(r);
  Run();
  WriteFile(dir.Path("TORMEL1.BUF"), BufferLine("a", '$', "10.9.9.9"));
  CtlResult s = Ctl({"status", WriteParams(6665)});
  EXPECT_EQ(s.status, 0) << s.err;
  EXPECT_EQ(s.out.rfind("instance: running\n", 0), 0u) << s.out;
  const std::string pid = std::to_string(r.pid);
  for (const auto& line : std::vector<std::function<std::string(int)>>{
           [&](int) { return "service: pid " + pid + ", version 1.0, started " + CtlTime(r.started) + " (2 h 0 min ago)"; },
           [&](int) { return "since start: 120 delivered, 3 refused, 5 failed, 17 connections, 11 buffer files removed\n"; },
           [&](int) { return "stations: 2, 1 down\n"; },
           [&](int) { return "station 10.1.2.3:6665: up\n  last failure: never\n  last success: " + CtlTime(Ago(2)); },
           [&](int late) {
             return "  since start: 100 delivered, 3 refused, 0 failed\n"
                    "  pending: 4 records in 1 buffer file, the oldest waiting " + std::to_string(30 + late) + " s\n";
           },
           [&](int late) {
             return "station 10.9.9.9:6665: in backoff, down since " + CtlTime(Ago(700)) + ", for 11 min " +
                    std::to_string(40 + late) + " s\n  consecutive failures: 5, next try " + CtlTime(now + 55000);
           },
           [&](int late) {
             return "  last failure: CSocketClientOpen, code 111, " + CtlTime(Ago(5)) + " (" + std::to_string(5 + late) +
                    " s ago)\n";
           },
           [&](int) { return "buffer files: 1\nTORMEL1.BUF: receiver 10.9.9.9, 1 pending, 0 delivered\n"; }})
    EXPECT_TRUE(HasSoon(s.out, line)) << line(0) << "\nin:\n" << s.out;

  // Due for its next try: down, no longer in backoff.
  Down(&r, Ago(700), Ago(60), Ago(1));
  Publish(r);
  s = Ctl({"status", WriteParams(6665)});
  EXPECT_TRUE(Has(s.out, "station 10.9.9.9:6665: DOWN since ")) << s.out;
  EXPECT_TRUE(Has(s.out, "  consecutive failures: 5, next try now\n")) << s.out;
}

// A state its service no longer stands behind: one line, then the files.
TEST_F(Published, StateThatIsNotCurrentIsSaidOnOneLine) {
  const std::string params = WriteParams(6665);
  const std::string files = "buffer files: 0\n";
  StateRecord r = Sample();
  Publish(r);
  CtlResult s = Ctl({"status", params});
  EXPECT_TRUE(Has(s.out, "state: not current: its service (pid " + std::to_string(r.pid) + ") no longer runs\n" +
                             files))
      << s.out;
  Run();
  r.ended = true;
  Publish(r);
  s = Ctl({"status", params});
  EXPECT_TRUE(HasSoon(s.out, [&](int late) {
    return "state: not current: its service (pid " + std::to_string(r.pid) + ") ended " + CtlTime(r.updated) + " (" +
           std::to_string(1 + late) + " s ago)\n" + files;
  })) << s.out;
  r.ended = false;
  r.pid = 999999999;
  Publish(r);
  s = Ctl({"status", params});
  EXPECT_TRUE(Has(s.out, "state: not current: written by pid 999999999, which is not the running instance\n" + files))
      << s.out;
  EXPECT_FALSE(Has(s.out, "station")) << s.out;
  EXPECT_EQ(s.status, 0);

  std::string path;
  ASSERT_EQ(StatePath(&path), 0);
  WriteFile(path, BufferLine("no state"));
  s = Ctl({"status", params});
  EXPECT_TRUE(Has(s.out, "state: unreadable: " + path + ": not a state file this version reads\n" + files)) << s.out;
  EXPECT_EQ(s.status, 1) << "what cannot be told is no answer";
}

TEST_F(Published, HealthOkWarningCriticalUnknown) {
  CtlResult h = Ctl({"health"});
  EXPECT_EQ(h.status, 2);
  EXPECT_EQ(h.out, "TORMEL CRITICAL - the service does not run\n");

  Run();
  StateRecord r = Sample();
  Publish(r);
  h = Ctl({"health"});
  EXPECT_EQ(h.status, 0) << h.out;
  EXPECT_TRUE(HasSoon(h.out, [](int late) {
    const std::string age = std::to_string(30 + late);
    return "TORMEL OK - 2 of 2 stations up, 4 pending, the oldest waiting " + age + " s | pending=4 oldest_age=" + age +
           "s;;3600;0 stations=2 stations_down=0 longest_down=0s;600;;0 delivered=120c refused=3c failed=5c\n";
  })) << h.out;

  Down(&r, Ago(700), Ago(5), now + 55000);
  Publish(r);
  h = Ctl({"health"});
  EXPECT_EQ(h.status, 1) << h.out;
  EXPECT_TRUE(HasSoon(h.out, [&](int late) {
    return "TORMEL WARNING - station 10.9.9.9:6665 is down since " + CtlTime(Ago(700)) + ", for 11 min " +
           std::to_string(40 + late) + " s (more than 600 s); 1 of 2 stations down | pending=4 ";
  })) << h.out;
  h = Ctl({"health", "--max-down", "800"});
  EXPECT_EQ(h.status, 0) << h.out;

  r.stations[0].oldestPending = Ago(4000);
  Publish(r);
  h = Ctl({"health"});
  EXPECT_EQ(h.status, 2) << h.out;
  EXPECT_TRUE(HasSoon(h.out, [](int late) {
    return "TORMEL CRITICAL - a record for 10.1.2.3:6665 has waited 1 h 6 min (more than 3600 s), 4 pending | "
           "pending=4 oldest_age=" + std::to_string(4000 + late) + "s;;3600;0 ";
  })) << h.out;
  EXPECT_EQ(Ctl({"health", "--max-age", "5000", "--max-down", "800"}).status, 0);

  r.ended = true;
  Publish(r);
  h = Ctl({"health"});
  EXPECT_EQ(h.status, 2);
  EXPECT_EQ(h.out.rfind("TORMEL CRITICAL - state not current: its service (pid ", 0), 0u) << h.out;

  std::string path;
  ASSERT_EQ(StatePath(&path), 0);
  WriteFile(path, "not a state\n");
  h = Ctl({"health"});
  EXPECT_EQ(h.status, 3);
  EXPECT_EQ(h.out.rfind("TORMEL UNKNOWN - state unreadable: ", 0), 0u) << h.out;
  for (const auto& bad : std::vector<std::vector<std::string>>{
           {"health", "--max-age"}, {"health", "--max-age", "0"}, {"health", "--max-down", "ten"}, {"health", "-v"}}) {
    h = Ctl(bad);
    EXPECT_EQ(h.status, 3) << bad.back();
    EXPECT_EQ(h.out.rfind("TORMEL UNKNOWN - ", 0), 0u) << h.out;
  }
}

TEST_F(Published, MetricsOnStandardOutputAndAsATextfile) {
  CtlResult m = Ctl({"metrics"});
  EXPECT_EQ(m.status, 0);
  EXPECT_EQ(m.out,
            "# HELP tormel_up 1 when the service runs and its published state is current.\n"
            "# TYPE tormel_up gauge\n"
            "tormel_up 0\n");
  Run();
  StateRecord r = Sample();
  Down(&r, Ago(700), Ago(5), now + 55000);
  r.started = 1700000000250;
  Publish(r);
  std::filesystem::create_directory(dir.Path("textfile"));
  m = Ctl({"metrics", "--textfile", dir.Path("textfile")});
  EXPECT_EQ(m.status, 0) << m.err;
  EXPECT_EQ(m.out, "");
  std::string text = ReadFile(dir.Path("textfile/tormel.prom"));
  for (const char* line :
       {"tormel_up 1\n", "# TYPE tormel_start_time_seconds gauge\ntormel_start_time_seconds 1700000000.250\n",
        "# TYPE tormel_delivered_total counter\ntormel_delivered_total 120\n", "tormel_refused_total 3\n",
        "tormel_failed_total 5\n", "tormel_pending_records 4\n",
        "tormel_station_up{station=\"10.1.2.3:6665\"} 1\ntormel_station_up{station=\"10.9.9.9:6665\"} 0\n",
        "tormel_station_consecutive_failures{station=\"10.9.9.9:6665\"} 5\n",
        "tormel_station_pending_records{station=\"10.1.2.3:6665\"} 4\n",
        "tormel_station_delivered_total{station=\"10.9.9.9:6665\"} 20\n",
        "tormel_station_failed_total{station=\"10.9.9.9:6665\"} 5\n"})
    EXPECT_TRUE(Has(text, line)) << line << "\nin:\n" << text;
  for (const char* age : {"tormel_oldest_pending_age_seconds ",
                          "tormel_station_oldest_pending_age_seconds{station=\"10.1.2.3:6665\"} "})
    EXPECT_TRUE(HasSoon(text, [&](int late) { return age + std::to_string(30 + late) + "\n"; })) << age << text;
  EXPECT_TRUE(Has(Ctl({"metrics"}).out, "tormel_station_delivered_total{station=\"10.9.9.9:6665\"} 20\n"))
      << "the same figures on standard output";
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path("textfile")), {}), 1) << "nothing left aside";

  EXPECT_EQ(Ctl({"metrics", "--textfile", dir.Path("none")}).status, 1);
  EXPECT_EQ(Ctl({"metrics", "--textfile"}).status, 2);
}

}  // namespace
