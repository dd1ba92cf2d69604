#include "printer/PrinterPort.h"

#include <gtest/gtest.h>

#include <ostream>

#include <cstring>
#include <thread>

#include "tests/unit/printer/FakePrinter.h"

namespace tavik::test {
namespace {

const uint8_t kStatusReq[3] = {0x00, 0x00, 0x00};
const uint8_t kExtReq[3] = {0x02, 0x00, 0x00};
const uint8_t kParamReq[3] = {0x50, 0x03, 0x00};

class PortTest : public ::testing::Test {
 protected:
  PortTest() : port(clock) {}
  void SetUp() override { ASSERT_TRUE(rig.started()); }

  PrinterRig rig;
  ManualClock clock;
  PrinterPort port;
  FakePrinter& printer() { return rig.printer(); }
};

TEST_F(PortTest, OpenIdentifiesThePrinterAndReadsItsProductId) {
  EXPECT_TRUE(port.isOpen());
  char id[PrinterPort::kPrinterIdSize];
  ASSERT_EQ(port.printerId(id), 0);
  EXPECT_STREQ(id, "TAVIK CP-2000");
  int product = -1;
  ASSERT_EQ(port.productId(&product), 0);
  EXPECT_EQ(product, 0x2A0F);
  // One identification request: a command read of 32 bytes with 50 06 00.
  auto ex = printer().exchanges();
  ASSERT_EQ(ex.size(), 1u);
  EXPECT_EQ(ex[0].request, 0x8020500Fu);
  EXPECT_EQ(ex[0].head(3), (Bytes{0x50, 0x06, 0x00}));
  EXPECT_EQ(port.printerId(nullptr), -1);
  EXPECT_EQ(port.productId(nullptr), -1);
}

TEST_F(PortTest, IdentificationIsCutTo31Characters) {
  printer().setIdentity(std::string(40, 'X'));
  EXPECT_EQ(port.open(), 0);
  char id[PrinterPort::kPrinterIdSize];
  port.printerId(id);
  EXPECT_EQ(std::string(id), std::string(31, 'X'));
}

TEST_F(PortTest, CloseForgetsTheIdentity) {
  EXPECT_EQ(port.close(), 0);
  EXPECT_FALSE(port.isOpen());
  char id[PrinterPort::kPrinterIdSize];
  port.printerId(id);
  EXPECT_STREQ(id, "");
  int product = -1;
  port.productId(&product);
  EXPECT_EQ(product, 0);
  EXPECT_EQ(port.close(), -1);
}

TEST_F(PortTest, PrinterThatDoesNotIdentifyItselfLeavesThePortClosed) {
  printer().setIdentity("");
  EXPECT_EQ(port.open(), -1);
  EXPECT_FALSE(port.isOpen());
}

struct ListCase {
  const char* name;
  std::string list;
  int openResult;
  int product;
};
void PrintTo(const ListCase& c, std::ostream* os) { *os << c.name; }

class DeviceListTest : public ::testing::TestWithParam<ListCase> {};

TEST_P(DeviceListTest, ProductIdFromTheUsbDeviceList) {
  PrinterRig rig(GetParam().list);
  ASSERT_TRUE(rig.started());
  ManualClock clock;
  PrinterPort port(clock);
  EXPECT_EQ(port.open(), GetParam().openResult);
  // The printer opens either way; only the product ID depends on the list.
  EXPECT_TRUE(port.isOpen());
  int product = -1;
  port.productId(&product);
  EXPECT_EQ(product, GetParam().product);
}

INSTANTIATE_TEST_SUITE_P(
    Lists, DeviceListTest,
    ::testing::Values(ListCase{"WithVendorLine", kDeviceList, 0, 0x2A0F},
                      ListCase{"WithoutVendorLine",
                               "T:  Bus=01 Lev=00 Prnt=00 Port=00 Cnt=00 Dev#=  1\n"
                               "P:  Vendor=1d6b ProdID=0002 Rev= 3.10\n",
                               -1, 0},
                      ListCase{"OtherVendorOnly", "P:  Vendor=0017 ProdID=2A0F Rev= 1.00\n", -1, 0},
                      ListCase{"Empty", "", -1, 0},
                      ListCase{"LowerCaseHex", "P:  Vendor=0016 ProdID=00ff Rev= 1.00\n", 0, 0xFF}),
    [](const auto& info) { return info.param.name; });

TEST_F(PortTest, MissingDeviceListStillOpens) {
  std::remove(rig.sysroot().path("/proc/bus/usb/devices").c_str());
  EXPECT_EQ(port.open(), -1);
  EXPECT_TRUE(port.isOpen());
}

// ---- status caches ----

struct CacheCase {
  const char* name;
  const uint8_t* request;
  int length;
  int (FakePrinter::*reads)() const;
};
void PrintTo(const CacheCase& c, std::ostream* os) { *os << c.name; }

class StatusCacheTest : public PortTest, public ::testing::WithParamInterface<CacheCase> {};

TEST_P(StatusCacheTest, AnswersWithin50MsComeFromTheCache) {
  const CacheCase& c = GetParam();
  uint8_t first[32] = {};
  uint8_t second[32] = {};
  ASSERT_EQ(port.commandRead(c.request, 3, first, sizeof first), c.length);
  EXPECT_EQ((printer().*c.reads)(), 1);

  clock.advanceMs(20);
  printer().setIdle(0x11223344, 0x55667788);
  printer().setExtended(Bytes(16, 0xAB));
  ASSERT_EQ(port.commandRead(c.request, 3, second, sizeof second), c.length);
  EXPECT_EQ((printer().*c.reads)(), 1) << "20 ms later the printer is not asked";
  EXPECT_EQ(0, std::memcmp(first, second, c.length));

  clock.advanceMs(40);  // 60 ms after the first answer
  ASSERT_EQ(port.commandRead(c.request, 3, second, sizeof second), c.length);
  EXPECT_EQ((printer().*c.reads)(), 2) << "60 ms later the printer is asked again";
  EXPECT_NE(0, std::memcmp(first, second, c.length));
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, StatusCacheTest,
    ::testing::Values(CacheCase{"Status", kStatusReq, 12, &FakePrinter::statusReads},
                      CacheCase{"Extended", kExtReq, 16, &FakePrinter::extendedReads}),
    [](const auto& info) { return info.param.name; });

TEST_F(PortTest, ManyPollersShareOneAnswer) {
  // The clock stands still: every poll after the first is within 50 ms.
  std::vector<std::thread> pollers;
  std::atomic<int> good{0};
  for (int t = 0; t < 8; ++t) {
    pollers.emplace_back([&] {
      for (int i = 0; i < 200; ++i) {
        uint8_t buf[32];
        if (port.commandRead(i % 2 ? kStatusReq : kExtReq, 3, buf, sizeof buf) == (i % 2 ? 12 : 16)) {
          ++good;
        }
      }
    });
  }
  for (auto& p : pollers) p.join();
  EXPECT_EQ(good.load(), 1600);
  EXPECT_EQ(printer().statusReads(), 1);
  EXPECT_EQ(printer().extendedReads(), 1);
}

TEST_F(PortTest, TheTwoStatusCachesAreSeparate) {
  uint8_t buf[32];
  ASSERT_EQ(port.commandRead(kStatusReq, 3, buf, sizeof buf), 12);
  ASSERT_EQ(port.commandRead(kExtReq, 3, buf, sizeof buf), 16);
  EXPECT_EQ(printer().statusReads(), 1);
  EXPECT_EQ(printer().extendedReads(), 1);
  EXPECT_EQ(buf[10], 0x34);
}

TEST_F(PortTest, CacheAtExactly50MsIsStillFresh) {
  uint8_t buf[32];
  port.commandRead(kStatusReq, 3, buf, sizeof buf);
  clock.advanceMs(50);
  port.commandRead(kStatusReq, 3, buf, sizeof buf);
  EXPECT_EQ(printer().statusReads(), 1);
  clock.advanceMs(1);
  port.commandRead(kStatusReq, 3, buf, sizeof buf);
  EXPECT_EQ(printer().statusReads(), 2);
}

TEST_F(PortTest, ClockGoingBackDoesNotKeepAStaleAnswer) {
  uint8_t buf[32];
  port.commandRead(kStatusReq, 3, buf, sizeof buf);
  clock.advanceUs(-10000000);  // ten seconds back
  port.commandRead(kStatusReq, 3, buf, sizeof buf);
  EXPECT_EQ(printer().statusReads(), 2);
}

TEST_F(PortTest, CachedAnswerNeverOverrunsASmallBuffer) {
  uint8_t buf[32];
  ASSERT_EQ(port.commandRead(kStatusReq, 3, buf, sizeof buf), 12);
  uint8_t small[8 + 8];
  std::memset(small, 0xEE, sizeof small);
  EXPECT_EQ(port.commandRead(kStatusReq, 3, small, 8), 8);
  for (size_t i = 8; i < sizeof small; ++i) EXPECT_EQ(small[i], 0xEE) << i;
}

TEST_F(PortTest, ElevenByteStatusIsRetriedTenTimesThenThePortCloses) {
  int attempts = 0;
  printer().setHook([&](const Exchange& ex, Bytes* buffer, int*) -> std::optional<int64_t> {
    if (!ex.isRead() || ex.head(3) != Bytes{0, 0, 0}) return std::nullopt;
    ++attempts;
    std::fill(buffer->begin(), buffer->end(), 0x5A);
    return 11;
  });
  int64_t before = clock.sleptMs();
  uint8_t buf[32];
  EXPECT_EQ(port.commandRead(kStatusReq, 3, buf, sizeof buf), 11);
  EXPECT_EQ(attempts, 10);
  EXPECT_EQ(clock.sleptMs() - before, 1000);
  EXPECT_FALSE(port.isOpen());
  // Nothing was cached: the next query asks the printer (and reopens).
  printer().setHook(nullptr);
  EXPECT_EQ(port.commandRead(kStatusReq, 3, buf, sizeof buf), 12);
  EXPECT_TRUE(port.isOpen());
}

TEST_F(PortTest, StatusRetrySucceedsOnALaterAttempt) {
  int attempts = 0;
  printer().setHook([&](const Exchange& ex, Bytes*, int* error) -> std::optional<int64_t> {
    if (!ex.isRead() || ex.head(3) != Bytes{0, 0, 0}) return std::nullopt;
    if (++attempts < 4) {
      *error = EIO;
      return -1;
    }
    return std::nullopt;
  });
  uint8_t buf[32];
  EXPECT_EQ(port.commandRead(kStatusReq, 3, buf, sizeof buf), 12);
  EXPECT_EQ(attempts, 4);
  EXPECT_TRUE(port.isOpen());
}

// ---- command write and read retries ----

struct RetryCase {
  const char* name;
  int failures;        // failed attempts before the printer answers
  int attempts;        // attempts the port makes
  bool ok;             // the call succeeds
};
void PrintTo(const RetryCase& c, std::ostream* os) { *os << c.name; }

class CommandWriteRetry : public PortTest, public ::testing::WithParamInterface<RetryCase> {};

TEST_P(CommandWriteRetry, RetriesFiveTimesThenCloses) {
  const RetryCase& c = GetParam();
  int attempts = 0;
  printer().setHook([&](const Exchange& ex, Bytes*, int* error) -> std::optional<int64_t> {
    if (!ex.isWrite()) return std::nullopt;
    if (attempts++ < c.failures) {
      *error = EIO;
      return -1;
    }
    return std::nullopt;
  });
  const uint8_t frame[3] = {0x40, 0x21, 0x00};
  int64_t before = clock.sleptMs();
  int r = port.commandWrite(frame, 3);
  EXPECT_EQ(attempts, c.attempts);
  EXPECT_EQ(r >= 0, c.ok);
  EXPECT_EQ(port.isOpen(), c.ok);
  EXPECT_EQ(clock.sleptMs() - before, 100 * std::min(c.failures, 5));
  auto ex = printer().exchanges();
  ASSERT_FALSE(ex.empty());
  EXPECT_EQ(ex.back().request, 0x4003500Eu);
}

INSTANTIATE_TEST_SUITE_P(Counts, CommandWriteRetry,
                         ::testing::Values(RetryCase{"FirstTime", 0, 1, true},
                                           RetryCase{"AfterFour", 4, 5, true},
                                           RetryCase{"Never", 99, 5, false}),
                         [](const auto& info) { return info.param.name; });

class CommandReadRetry : public PortTest, public ::testing::WithParamInterface<RetryCase> {};

TEST_P(CommandReadRetry, EmptyOrFailedRepliesAreRetriedFiveTimes) {
  const RetryCase& c = GetParam();
  printer().setReply({0x50, 0x03, 0x00}, {1, 2, 3, 4, 5});
  int attempts = 0;
  bool requestResent = true;
  printer().setHook([&](const Exchange& ex, Bytes* buffer, int* error) -> std::optional<int64_t> {
    if (!ex.isRead() || ex.data[0] == 0x00 || ex.data[0] == 0x02) return std::nullopt;
    if (ex.head(3) != Bytes{0x50, 0x03, 0x00}) requestResent = false;
    if (attempts++ < c.failures) {
      // Alternate an empty reply that leaves junk behind and a driver error.
      if (attempts % 2 == 1) {
        std::fill(buffer->begin(), buffer->end(), 0xCC);
        return 0;
      }
      *error = EIO;
      return -1;
    }
    return std::nullopt;
  });
  uint8_t buf[64];
  int r = port.commandRead(kParamReq, 3, buf, sizeof buf);
  EXPECT_EQ(attempts, c.attempts);
  EXPECT_TRUE(requestResent) << "every attempt carries the request";
  EXPECT_EQ(port.isOpen(), c.ok);
  if (c.ok) {
    EXPECT_EQ(r, 5);
    EXPECT_EQ(buf[4], 5);
  } else {
    EXPECT_LE(r, 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Counts, CommandReadRetry,
                         ::testing::Values(RetryCase{"FirstTime", 0, 1, true},
                                           RetryCase{"AfterFour", 4, 5, true},
                                           RetryCase{"Never", 99, 5, false}),
                         [](const auto& info) { return info.param.name; });

struct BadArgsCase {
  const char* name;
  bool nullRequest;
  size_t requestLength;
  bool nullBuffer;
  size_t bufferSize;
};
void PrintTo(const BadArgsCase& c, std::ostream* os) { *os << c.name; }

class CommandReadArguments : public PortTest, public ::testing::WithParamInterface<BadArgsCase> {};

TEST_P(CommandReadArguments, AreRefusedWithoutTalkingToThePrinter) {
  const BadArgsCase& c = GetParam();
  printer().clearLog();
  uint8_t buf[8];
  const uint8_t req[4] = {0x50, 0x03, 0x00, 0x00};
  EXPECT_EQ(port.commandRead(c.nullRequest ? nullptr : req, c.requestLength,
                             c.nullBuffer ? nullptr : buf, c.bufferSize),
            -1);
  EXPECT_TRUE(printer().exchanges().empty());
}

INSTANTIATE_TEST_SUITE_P(Cases, CommandReadArguments,
                         ::testing::Values(BadArgsCase{"NullRequest", true, 3, false, 8},
                                           BadArgsCase{"EmptyRequest", false, 0, false, 8},
                                           BadArgsCase{"NullBuffer", false, 3, true, 8},
                                           BadArgsCase{"EmptyBuffer", false, 3, false, 0},
                                           BadArgsCase{"RequestLongerThanBuffer", false, 4, false, 3},
                                           BadArgsCase{"TooLargeForTheDriver", false, 3, false,
                                                       0x4000}),
                         [](const auto& info) { return info.param.name; });

TEST_F(PortTest, CommandWriteRefusesEmptyAndOversizedFrames) {
  printer().clearLog();
  const uint8_t frame[3] = {0x40, 0x21, 0x00};
  EXPECT_EQ(port.commandWrite(nullptr, 3), -1);
  EXPECT_EQ(port.commandWrite(frame, 0), -1);
  std::vector<uint8_t> big(0x4000, 0);
  EXPECT_EQ(port.commandWrite(big.data(), big.size()), -1);
  EXPECT_TRUE(printer().exchanges().empty());
}

// ---- print data ----

TEST_F(PortTest, WriteGoesOutIn4096BytePieces) {
  std::vector<uint8_t> data(10000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
  EXPECT_EQ(port.write(data.data(), data.size()), 10000);
  EXPECT_EQ(printer().writeSizes(), (std::vector<size_t>{4096, 4096, 1808}));
  EXPECT_EQ(printer().printData(), data);
}

TEST_F(PortTest, ShortDriverWritesAreContinued) {
  // The driver takes at most 1000 bytes a call.
  printer().setWriteHook([](size_t size, int*) -> std::optional<int64_t> {
    return static_cast<int64_t>(std::min<size_t>(size, 1000));
  });
  std::vector<uint8_t> data(5000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i);
  EXPECT_EQ(port.write(data.data(), data.size()), 5000);
  EXPECT_EQ(printer().printData(), data);
  EXPECT_EQ(printer().writeSizes().front(), 4096u);
}

TEST_F(PortTest, FailedWriteClosesThePort) {
  int pieces = 0;
  printer().setWriteHook([&](size_t, int* error) -> std::optional<int64_t> {
    if (++pieces == 2) {
      *error = EIO;
      return -1;
    }
    return std::nullopt;
  });
  std::vector<uint8_t> data(10000, 1);
  EXPECT_EQ(port.write(data.data(), data.size()), -1);
  EXPECT_FALSE(port.isOpen());
  EXPECT_EQ(port.write(nullptr, 10), -1);
  uint8_t one = 0;
  EXPECT_EQ(port.write(&one, 0), 0);
}

// ---- owner slot ----

TEST_F(PortTest, SessionNumbersStartAtTenAndCountUp) {
  EXPECT_EQ(port.nextSessionId(), 10);
  EXPECT_EQ(port.nextSessionId(), 11);
  EXPECT_EQ(port.nextSessionId(), 12);
}

TEST_F(PortTest, AcquireAndRelease) {
  EXPECT_EQ(port.owner(), 0);
  int64_t t0 = clock.nowMs();
  EXPECT_EQ(port.acquire(10, 0), 10);
  EXPECT_EQ(clock.nowMs(), t0) << "a free printer is taken without a pause";
  EXPECT_EQ(port.acquire(10, 0), 10) << "the owner may take it again";

  t0 = clock.nowMs();
  EXPECT_EQ(port.acquire(11, 0), 0);
  EXPECT_EQ(clock.nowMs() - t0, 100) << "one attempt and one pause";

  t0 = clock.nowMs();
  EXPECT_EQ(port.acquire(11, 3), 0);
  EXPECT_GE(clock.nowMs() - t0, 3000);
  EXPECT_LE(clock.nowMs() - t0, 3100);

  port.release(11);  // not the owner: nothing changes
  EXPECT_EQ(port.owner(), 10);
  port.release(10);
  EXPECT_EQ(port.owner(), 0);
  EXPECT_EQ(port.acquire(11, 0), 11);
}

TEST_F(PortTest, AcquireOfSessionZeroChangesNothing) {
  int64_t t0 = clock.nowMs();
  EXPECT_EQ(port.acquire(0, 5), 0);
  EXPECT_EQ(clock.nowMs(), t0) << "at once when the printer is free";
  EXPECT_EQ(port.owner(), 0);

  ASSERT_EQ(port.acquire(10, 0), 10);
  t0 = clock.nowMs();
  EXPECT_EQ(port.acquire(0, 5), 0);
  EXPECT_GE(clock.nowMs() - t0, 5000) << "after the wait when another session owns it";
  EXPECT_EQ(port.owner(), 10);
}

TEST(PortOwnerWait, AcquireWaitsForTheOwnersRelease) {
  PrinterRig rig;
  ASSERT_TRUE(rig.started());
  ManualClock clock(100);  // each 100 ms pause really takes 1 ms
  PrinterPort port(clock);
  ASSERT_EQ(port.acquire(10, 0), 10);
  std::atomic<int> got{-1};
  std::thread waiter([&] { got = port.acquire(PrinterPort::kUsbBridgeSession, 600); });
  // The waiter keeps polling while session 10 holds the printer.
  ASSERT_TRUE(waitFor([&] { return clock.sleeps() > 20; }));
  EXPECT_EQ(got.load(), -1);
  port.release(10);
  waiter.join();
  EXPECT_EQ(got.load(), 2);
  EXPECT_EQ(port.owner(), 2);
}

TEST(PortOwnerWait, AcquireGivesUpAfterItsWait) {
  PrinterRig rig;
  ASSERT_TRUE(rig.started());
  ManualClock clock;
  PrinterPort port(clock);
  ASSERT_EQ(port.acquire(10, 0), 10);
  int64_t t0 = clock.nowMs();
  EXPECT_EQ(port.acquire(2, 600), 0);
  EXPECT_GE(clock.nowMs() - t0, 600000);
  EXPECT_LE(clock.nowMs() - t0, 600100);
  EXPECT_EQ(port.owner(), 10);
}

// ---- reopening ----

TEST_F(PortTest, UnpluggedPrinterIsReopenedByTheNextUse) {
  uint8_t buf[32];
  ASSERT_EQ(port.commandRead(kStatusReq, 3, buf, sizeof buf), 12);
  printer().unplug();
  clock.advanceMs(100);
  EXPECT_LT(port.commandRead(kStatusReq, 3, buf, sizeof buf), 0);
  EXPECT_FALSE(port.isOpen());
  EXPECT_FALSE(port.ensureOpen()) << "still unplugged";
  int opensBefore = printer().opens();

  printer().plug();
  clock.advanceMs(100);
  EXPECT_EQ(port.commandRead(kStatusReq, 3, buf, sizeof buf), 12);
  EXPECT_TRUE(port.isOpen());
  EXPECT_EQ(printer().opens(), opensBefore + 1);
  char id[PrinterPort::kPrinterIdSize];
  port.printerId(id);
  EXPECT_STREQ(id, "TAVIK CP-2000");
}

TEST_F(PortTest, PowerCycledPrinterIsReopenedAfterTheFailedExchange) {
  // Unplugged and back before the port noticed: the old handle is dead.
  printer().unplug();
  printer().plug();
  const uint8_t frame[3] = {0x40, 0x21, 0x00};
  EXPECT_LT(port.commandWrite(frame, 3), 0);
  EXPECT_FALSE(port.isOpen());
  EXPECT_GE(port.commandWrite(frame, 3), 0);
  EXPECT_TRUE(port.isOpen());
}

// ---- identification and registers ----

TEST_F(PortTest, DeviceIdUsesTheStandardRequest) {
  uint8_t buf[256];
  std::memset(buf, 0xFF, sizeof buf);
  EXPECT_EQ(port.deviceId(buf, sizeof buf), 256);
  EXPECT_EQ(printer().exchanges().back().request, 0x81005001u);
  EXPECT_EQ(printer().exchanges().back().data[0], 0) << "the first byte is cleared";
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf) + 2), "MFG:Tavik;CMD:CP;MDL:TAVIK CP-2000;");
  EXPECT_EQ(port.deviceId(nullptr, 10), -1);
  EXPECT_EQ(port.deviceId(buf, 0), -1);
}

TEST_F(PortTest, DescribeFillsTheGadgetBlock) {
  char block[PrinterPort::kDescribeSize];
  ASSERT_EQ(port.describe(block), 1);
  auto slot = [&](int i) { return std::string(block + i * 64); };
  EXPECT_EQ(slot(0), "0x0016");
  EXPECT_EQ(slot(1), "0x2A0F");
  EXPECT_EQ(slot(2), "1.05");
  EXPECT_EQ(slot(3), "Tavik Systems");
  EXPECT_EQ(slot(4), "Tavik CP-2000 Card Printer");
  EXPECT_EQ(slot(5), "TV0012345");
  EXPECT_EQ(slot(6), "MFG:Tavik;CMD:CP;MDL:TAVIK CP-2000;");
}

TEST_F(PortTest, DescribeWithoutThePrinterLineOrItsStringsFails) {
  char block[PrinterPort::kDescribeSize];
  writeFile(rig.sysroot().path("/proc/bus/usb/devices"), "P:  Vendor=1d6b ProdID=0002 Rev= 3.10\n");
  EXPECT_EQ(port.describe(block), -1);
  writeFile(rig.sysroot().path("/proc/bus/usb/devices"),
            "P:  Vendor=0016 ProdID=2A0F Rev= 1.05\nS:  Manufacturer=Tavik\n");
  EXPECT_EQ(port.describe(block), -1);
}

TEST_F(PortTest, DataBankFrames) {
  printer().setReply({0x50, 0x22, 0x00}, {0xDE, 0xAD, 0xBE, 0xEF});
  const uint8_t selector[4] = {1, 2, 3, 4};
  uint8_t value[4] = {};
  printer().clearLog();
  EXPECT_EQ(port.getDataBank(selector, value), 4);
  EXPECT_EQ(Bytes(value, value + 4), (Bytes{0xDE, 0xAD, 0xBE, 0xEF}));
  auto ex = printer().exchanges();
  ASSERT_EQ(ex.size(), 2u);
  EXPECT_EQ(ex[0].request, 0x4007500Eu);
  EXPECT_EQ(ex[0].data, (Bytes{0x50, 0x21, 0x00, 1, 2, 3, 4}));
  EXPECT_EQ(ex[1].request, 0x8004500Fu);
  EXPECT_EQ(ex[1].head(3), (Bytes{0x50, 0x22, 0x00}));

  printer().clearLog();
  const uint8_t put[4] = {9, 8, 7, 6};
  EXPECT_EQ(port.setDataBank(selector, put), 7);
  ex = printer().exchanges();
  ASSERT_EQ(ex.size(), 2u);
  EXPECT_EQ(ex[1].data, (Bytes{0x50, 0x22, 0x00, 9, 8, 7, 6}));

  printer().setReply({0x50, 0x22, 0x00}, {1, 2});
  EXPECT_EQ(port.getDataBank(selector, value), -1) << "a short reply is no value";
  EXPECT_EQ(port.getDataBank(nullptr, value), -1);
}

}  // namespace
}  // namespace tavik::test
