#include "platform/DeviceFile.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <thread>

#include "sim/DeviceServer.h"
#include "tests/support/TestSupport.h"

namespace tavik {
namespace {

// A small device: ioctl 0x10 adds one to every byte, reads return what was
// written, seek records its arguments, poll waits until data is written.
class EchoDevice : public sim::OpenDevice {
 public:
  int64_t ioctl(uint32_t request, std::vector<uint8_t>* buffer, int* error) override {
    if (request != 0x10) {
      *error = ENOTTY;
      return -1;
    }
    for (auto& b : *buffer) ++b;
    return static_cast<int64_t>(buffer->size());
  }
  int64_t read(uint32_t maxBytes, std::vector<uint8_t>* out, int*) override {
    std::lock_guard<std::mutex> lock(mutex_);
    size_t n = std::min<size_t>(maxBytes, data_.size());
    out->assign(data_.begin(), data_.begin() + static_cast<long>(n));
    data_.erase(data_.begin(), data_.begin() + static_cast<long>(n));
    return static_cast<int64_t>(n);
  }
  int64_t write(const std::vector<uint8_t>& data, int*) override {
    std::lock_guard<std::mutex> lock(mutex_);
    data_.insert(data_.end(), data.begin(), data.end());
    ready_.notify_all();
    return static_cast<int64_t>(data.size());
  }
  int64_t seek(int64_t offset, int whence, int*) override {
    lastWhence = whence;
    return offset * 2;
  }
  int64_t poll(uint32_t events, int32_t timeoutMs, int*) override {
    std::unique_lock<std::mutex> lock(mutex_);
    bool ready = ready_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                 [this] { return !data_.empty(); });
    return ready ? (events & POLLIN) : 0;
  }
  std::atomic<int> lastWhence{-1};

 private:
  std::mutex mutex_;
  std::condition_variable ready_;
  std::vector<uint8_t> data_;  // guarded by mutex_
};

class EchoModel : public sim::DeviceModel {
 public:
  std::shared_ptr<sim::OpenDevice> open(uint32_t flags, int* error) override {
    lastFlags = flags;
    if (unplugged) {
      *error = ENODEV;
      return nullptr;
    }
    auto d = std::make_shared<EchoDevice>();
    device = d;
    return d;
  }
  std::atomic<bool> unplugged{false};
  std::atomic<uint32_t> lastFlags{0};
  std::weak_ptr<EchoDevice> device;
};

class DeviceSocket : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server_.start()); }
  test::ScopedSysroot root_;
  EchoModel model_;
  sim::DeviceServer server_{root_.path("/dev/echo"), model_};
};

TEST_F(DeviceSocket, EveryOperationRoundTrips) {
  platform::DeviceFile dev;
  ASSERT_EQ(dev.open("/dev/echo", O_RDWR), 0);
  EXPECT_EQ(model_.lastFlags.load(), static_cast<uint32_t>(O_RDWR));

  uint8_t buf[3] = {1, 2, 3};
  EXPECT_EQ(dev.ioctl(0x10, buf, sizeof buf), 3);
  EXPECT_EQ(buf[0], 2);
  EXPECT_EQ(buf[2], 4);
  EXPECT_EQ(dev.ioctl(0x11), -1);
  EXPECT_EQ(errno, ENOTTY);

  EXPECT_EQ(dev.poll(POLLIN, 10), 0);  // nothing written yet: time-out
  EXPECT_EQ(dev.write("hello", 5), 5);
  EXPECT_EQ(dev.poll(POLLIN, 1000), POLLIN);
  char in[8] = {};
  EXPECT_EQ(dev.read(in, 3), 3);
  EXPECT_EQ(std::string(in, 3), "hel");
  EXPECT_EQ(dev.read(in, sizeof in), 2);

  EXPECT_EQ(dev.seek(21, SEEK_END), 42);
  EXPECT_EQ(model_.device.lock()->lastWhence.load(), SEEK_END);
  EXPECT_EQ(dev.close(), 0);
  EXPECT_FALSE(dev.isOpen());
}

TEST_F(DeviceSocket, OpenRefusedCarriesErrno) {
  model_.unplugged = true;
  platform::DeviceFile dev;
  EXPECT_EQ(dev.open("/dev/echo", O_RDWR), -1);
  EXPECT_EQ(errno, ENODEV);
  EXPECT_FALSE(dev.isOpen());
  EXPECT_EQ(dev.read(nullptr, 0), -1);
  EXPECT_EQ(errno, EBADF);
}

TEST_F(DeviceSocket, AttachLetsPollAndReadRunAtOnce) {
  platform::DeviceFile waiter;
  ASSERT_EQ(waiter.open("/dev/echo", O_RDWR), 0);
  platform::DeviceFile worker;
  ASSERT_EQ(worker.attach(waiter), 0);

  // The waiter blocks in a long poll; the attached worker writes and reads
  // meanwhile on its own connection without waiting behind it.
  std::atomic<int> polled{-2};
  std::thread t([&] { polled = waiter.poll(POLLIN, 5000); });
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(worker.write("abc", 3), 3);
  EXPECT_TRUE(test::waitFor([&] { return polled.load() != -2; }, std::chrono::seconds(4)));
  char in[3];
  EXPECT_EQ(worker.read(in, 3), 3);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
  t.join();
  EXPECT_EQ(polled.load(), POLLIN);
}

TEST_F(DeviceSocket, LastConnectionClosesTheFile) {
  platform::DeviceFile a;
  ASSERT_EQ(a.open("/dev/echo", O_RDWR), 0);
  platform::DeviceFile b;
  ASSERT_EQ(b.attach(a), 0);
  a.close();
  EXPECT_EQ(b.write("x", 1), 1);  // still open through b
  EXPECT_FALSE(model_.device.expired());
  b.close();
  EXPECT_TRUE(test::waitFor([&] { return model_.device.expired(); }));
}

TEST(DeviceDescriptor, RealFileUsesSystemCalls) {
  test::ScopedSysroot root;
  test::writeFile(root.path("/dev/mtd3"), "0123456789");
  platform::DeviceFile dev;
  ASSERT_EQ(dev.open("/dev/mtd3", O_RDWR), 0);
  EXPECT_EQ(dev.seek(4, SEEK_SET), 4);
  char in[3];
  EXPECT_EQ(dev.read(in, 3), 3);
  EXPECT_EQ(std::string(in, 3), "456");
  EXPECT_EQ(dev.poll(POLLIN, 0), POLLIN);
  platform::DeviceFile other;
  ASSERT_EQ(other.attach(dev), 0);
  EXPECT_EQ(other.write("X", 1), 1);  // shares the offset, like a dup
  EXPECT_EQ(test::readFile(root.path("/dev/mtd3")), "0123456X89");
}

TEST(DeviceDescriptor, MissingNodeFails) {
  test::ScopedSysroot root;
  platform::DeviceFile dev;
  EXPECT_EQ(dev.open("/dev/usblp0", O_RDWR), -1);
  EXPECT_EQ(errno, ENOENT);
}

}  // namespace
}  // namespace tavik
