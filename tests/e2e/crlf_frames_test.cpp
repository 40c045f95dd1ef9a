// Line ends on the wire: the same buffer files give the same frames, byte for
// byte, in every build. The frames expected are checked in (crlf_frames.golden);
// TORMEL_WRITE_GOLDEN=1 writes them anew from the build at hand.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "test_receiver.h"
#include "test_service.h"
#include "tormel.h"

namespace {

std::string Head() { return BufferLine("", '$', "127.0.0.1", ""); }

// The buffer files: every kind of line end and CTRL-Z the stream knows.
std::vector<std::string> BufferFiles() {
  std::string longContent(600, 'L');
  longContent[TORMEL_LINE_MAX - TORMEL_CONTENT_COLUMN] = '$';  // the second piece of the long line is a record too
  return {
      Head() + "crlf one\r\n" + Head() + "crlf two\r\n",
      Head() + "lf only\n" + Head() + "lone\rcr inside\r\n" + Head() + "cr cr lf\r\r\n",
      Head() + "before ctrl-z last\r\n\x1a",
      Head() + "kept\r\n" + Head() + "cut\x1a" + "after\r\n" + Head() + "never\r\n",
      Head() + longContent + "\r\n" + "*" + Head().substr(1) + "marked, not sent\r\n" + "\r\n" + Head() +
          "last without line end",
  };
}

// One line per frame: the record part (from byte 20) with every byte that is
// not printable ASCII as \xHH, and how many zero bytes fill the frame.
std::string Describe(const std::string& frame) {
  size_t end = frame.size();
  while (end > TORMEL_PREFIX_SIZE && frame[end - 1] == '\0') --end;
  std::string text;
  for (size_t i = TORMEL_PREFIX_SIZE; i < end; ++i) {
    unsigned char c = static_cast<unsigned char>(frame[i]);
    if (c >= 0x20 && c < 0x7f && c != '\\') {
      text += static_cast<char>(c);
    } else {
      char hex[8];
      snprintf(hex, sizeof hex, "\\x%02X", c);
      text += hex;
    }
  }
  return text + " | " + std::to_string(frame.size() - end) + " zero bytes\n";
}

TEST(CrLfFrames, SameBufferFilesGiveTheGoldenFrames) {
  ServiceFolder folder;
  TestReceiver receiver;
  std::vector<std::string> files = BufferFiles();
  for (size_t i = 0; i < files.size(); ++i) WriteFile(folder.Buffer(static_cast<int>(i + 1)), files[i]);
  ChildProcess service = folder.StartProgram(TORMEL_BIN, {folder.WriteParams(receiver.port)});
  // File 4 stays: the text behind its CTRL-Z is never read, and removing the
  // file would lose it.
  const size_t keptBehindCtrlZ = 3;
  EXPECT_TRUE(WaitFor(
      [&] {
        for (size_t i = 0; i < files.size(); ++i)
          if (i != keptBehindCtrlZ && FileExists(folder.Buffer(static_cast<int>(i + 1)))) return false;
        return true;
      },
      std::chrono::seconds(30)));
  EXPECT_TRUE(FileExists(folder.Buffer(4)));
  EXPECT_EQ(folder.RunProgram(TORMELCTL_BIN, {"stop"}), 0);
  EXPECT_EQ(WaitExit(service, std::chrono::seconds(10)), 0);

  std::string frames;
  for (const std::string& frame : receiver.Frames()) frames += Describe(frame);
  const char* write = getenv("TORMEL_WRITE_GOLDEN");
  if (write != nullptr && std::string(write) == "1") WriteFile(TORMEL_GOLDEN, frames);
  EXPECT_EQ(frames, ReadFile(TORMEL_GOLDEN));
}

}  // namespace
