// A long-running service holds no more descriptors after a thousand
// connections than before them.
#include <gtest/gtest.h>

#include "soak_support.h"

namespace {

TEST(Resources, ThousandConnectionCyclesLeakNoDescriptor) {
  const int files = 1000;
  TestReceiver receiver;
  SoakService service(receiver.port);
  service.Start();
  ASSERT_TRUE(service.WaitReady());
  const int before = service.SettledDescriptors();
  ASSERT_GT(before, 0);

  // Highest number first, so that the service, once it meets a file, finds
  // every following number present and goes through them without a pause.
  for (int n = files; n >= 1; --n) {
    PlaceFile(service.Buffer(n), BufferLine("file " + std::to_string(n)));
  }
  EXPECT_TRUE(WaitFor([&] { return receiver.FrameCount() >= files; }, std::chrono::seconds(60)));
  EXPECT_TRUE(WaitNoBufferFileLeft(service.dir.path));
  EXPECT_TRUE(WaitFor([&] { return service.OpenDescriptors() == before; }))
      << service.OpenDescriptors() << " descriptors open, " << before << " before";
  EXPECT_EQ(service.Stop(), 0);
  EXPECT_EQ(receiver.FrameCount(), files);
  EXPECT_EQ(service.Log(), "");
}

}  // namespace
