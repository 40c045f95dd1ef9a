// Buffer files no producer should write: the service neither crashes nor
// hangs on them, and the good file after them is delivered.
#include <gtest/gtest.h>

#include <random>

#include "soak_support.h"

namespace {

TEST(BadInput, MalformedFilesNeitherCrashNorHangAndTheNextFileIsDelivered) {
  TestReceiver receiver;
  SoakService service(receiver.port);
  std::mt19937 random(7);
  std::string noise(64 * 1024, '\0');
  for (char& c : noise) c = static_cast<char>(random());
  const std::string head = BufferLine("", '$', "127.0.0.1", "");

  WriteFile(service.Buffer(1), noise);
  WriteFile(service.Buffer(2), std::string(4096, '\0'));
  WriteFile(service.Buffer(3), "");
  WriteFile(service.Buffer(4), head + std::string(10000, 'x') + "\r\n" + head +
                                   std::string(9942, '$') + "\r\n");
  WriteFile(service.Buffer(5), head + "no line end at all");
  WriteFile(service.Buffer(6), head + "CR only\r" + head + "CR only again\r");
  WriteFile(service.Buffer(7), "$short\r\n" + BufferLine("after a short first line"));
  // An old-style producer ends its text with CTRL-Z; a second one appended
  // behind it before the service came. The second record must not be lost.
  WriteFile(service.Buffer(8), BufferLine("before CTRL-Z") + "\x1a" + BufferLine("behind CTRL-Z") + "\x1a");
  WriteFile(service.Buffer(9), BufferLine("good one") + BufferLine("good two"));

  service.Start();
  EXPECT_TRUE(WaitFor([&] { return !FileExists(service.Buffer(9)) || !IsRunning(service.child); },
                      std::chrono::seconds(40)));
  ASSERT_TRUE(IsRunning(service.child)) << "the service ended: " << ReadFile(service.child.errPath);
  EXPECT_FALSE(FileExists(service.Buffer(9)));
  std::vector<std::string> records = receiver.Records();
  EXPECT_NE(std::find(records.begin(), records.end(), "good one"), records.end());
  EXPECT_NE(std::find(records.begin(), records.end(), "good two"), records.end());
  // Files whose lines all went are gone (a last line without line end once
  // its file has been quiet for a while); files naming no receiver stay for
  // a later pass, which must not hang either.
  EXPECT_TRUE(WaitFor([&] { return !FileExists(service.Buffer(5)); }, std::chrono::seconds(20)));
  EXPECT_TRUE(FileExists(service.Buffer(1)));
  EXPECT_NE(std::find(records.begin(), records.end(), "before CTRL-Z"), records.end());
  EXPECT_NE(ReadFile(service.Buffer(8)).find(BufferLine("behind CTRL-Z")), std::string::npos)
      << "a record behind a CTRL-Z is kept in its file, not removed unsent";
  EXPECT_TRUE(WaitFor([&] { return service.Log().find("ErrorCode: 9003") != std::string::npos; }));
  EXPECT_NE(service.Log().find("Fehler: Text hinter CTRL-Z in Xfr-Bufferdatei Nr. 8!"), std::string::npos);
  EXPECT_EQ(service.Stop(), 0);
  EXPECT_EQ(ReadFile(service.child.errPath), "");
}

}  // namespace
