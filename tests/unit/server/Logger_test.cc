#include "server/Logger.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/TestSupport.h"

namespace tavik {
namespace {

std::string logFile(const test::ScopedSysroot& root, int index) {
  return root.path("/var/log/tavik.log." + std::to_string(index));
}

// The text of a line after its "%08ld.%03ld - " time stamp; "" when the
// stamp is malformed.
std::string body(const std::string& line) {
  static const std::regex stamp("^[0-9]{8,}\\.[0-9]{3} - ");
  std::smatch m;
  if (!std::regex_search(line, m, stamp)) return "<bad stamp: " + line + ">";
  return m.suffix().str();
}

TEST(Logger, StartRemovesThePreviousRunsFiles) {
  test::ScopedSysroot root;
  for (int i : {0, 1, 7}) test::writeFile(logFile(root, i), "old\n");
  test::writeFile(root.path("/var/log/tavik.log"), "not a rotated file\n");
  test::writeFile(root.path("/var/log/other.log"), "keep\n");

  Logger logger;
  for (int i : {0, 1, 7}) EXPECT_FALSE(test::fileExists(logFile(root, i))) << i;
  EXPECT_TRUE(test::fileExists(root.path("/var/log/tavik.log")));
  EXPECT_TRUE(test::fileExists(root.path("/var/log/other.log")));
  EXPECT_EQ(logger.lineCount(), 0);
}

TEST(Logger, LineFormat) {
  test::ScopedSysroot root;
  Logger logger;
  logger.log(1, "hello %s %d", "module", 42);
  std::vector<std::string> lines = test::readLines(logFile(root, 0));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(body(lines[0]), "hello module 42");
  EXPECT_EQ(test::readFile(logFile(root, 0)).back(), '\n');
}

TEST(Logger, LongLinesAreWrittenWhole) {
  test::ScopedSysroot root;
  Logger logger;
  std::string text(5000, 'x');
  text += "end";
  logger.log(1, "%s", text.c_str());
  std::vector<std::string> lines = test::readLines(logFile(root, 0));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(body(lines[0]), text);
}

TEST(Logger, RotatesEvery5000LinesAndKeepsTwoFiles) {
  test::ScopedSysroot root;
  Logger logger;
  auto logUpTo = [&](int count) {
    for (int n = logger.lineCount(); n < count; ++n) logger.log(1, "line %d", n);
    ASSERT_EQ(logger.lineCount(), count);
  };

  logUpTo(5000);  // lines 0..4999
  EXPECT_EQ(test::readLines(logFile(root, 0)).size(), 5000u);
  EXPECT_EQ(body(test::readLines(logFile(root, 0)).back()), "line 4999");
  EXPECT_FALSE(test::fileExists(logFile(root, 1)));

  logUpTo(5001);  // line 5000 starts .1, nothing is removed
  EXPECT_TRUE(test::fileExists(logFile(root, 0)));
  ASSERT_EQ(test::readLines(logFile(root, 1)).size(), 1u);
  EXPECT_EQ(body(test::readLines(logFile(root, 1))[0]), "line 5000");

  logUpTo(10000);
  EXPECT_TRUE(test::fileExists(logFile(root, 0)));
  EXPECT_EQ(test::readLines(logFile(root, 1)).size(), 5000u);

  logUpTo(10001);  // line 10000 starts .2 and removes .0
  EXPECT_FALSE(test::fileExists(logFile(root, 0)));
  EXPECT_EQ(test::readLines(logFile(root, 1)).size(), 5000u);
  ASSERT_EQ(test::readLines(logFile(root, 2)).size(), 1u);
  EXPECT_EQ(body(test::readLines(logFile(root, 2))[0]), "line 10000");

  logUpTo(15001);  // line 15000 starts .3 and removes .1
  EXPECT_FALSE(test::fileExists(logFile(root, 1)));
  EXPECT_EQ(test::readLines(logFile(root, 2)).size(), 5000u);
  EXPECT_EQ(test::readLines(logFile(root, 3)).size(), 1u);
}

struct ThresholdCase {
  int threshold;
  int level;
  bool written;
};

class LoggerThreshold : public ::testing::TestWithParam<ThresholdCase> {};

TEST_P(LoggerThreshold, DropsLinesBelowTheThreshold) {
  test::ScopedSysroot root;
  Logger logger;
  logger.setThreshold(GetParam().threshold);
  logger.log(GetParam().level, "x");
  logger.dump(GetParam().level, "d", "ab", 2);
  int expected = GetParam().written ? 3 : 0;  // the line, and the dump's header and row
  EXPECT_EQ(logger.lineCount(), expected);
  EXPECT_EQ(test::readLines(logFile(root, 0)).size(), static_cast<size_t>(expected));
}

INSTANTIATE_TEST_SUITE_P(Levels, LoggerThreshold,
                         ::testing::Values(ThresholdCase{1, 0, false}, ThresholdCase{1, 1, true},
                                           ThresholdCase{1, 3, true}, ThresholdCase{0, 0, true},
                                           ThresholdCase{3, 2, false}, ThresholdCase{3, 3, true},
                                           ThresholdCase{2, -1, false}),
                         [](const ::testing::TestParamInfo<ThresholdCase>& info) {
                           return "Threshold" + std::to_string(info.param.threshold) + "Level" +
                                  (info.param.level < 0 ? std::string("Minus1")
                                                        : std::to_string(info.param.level));
                         });

TEST(Logger, ConsoleModeWritesToStandardOutputOnly) {
  test::ScopedSysroot root;
  Logger logger;
  logger.setConsoleMode();
  ::testing::internal::CaptureStdout();
  logger.log(2, "console %d", 1);
  logger.log(2, "console %d", 2);
  std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_TRUE(std::regex_match(out, std::regex("[0-9]{8,}\\.[0-9]{3} - console 1\n"
                                               "[0-9]{8,}\\.[0-9]{3} - console 2\n")))
      << out;
  EXPECT_EQ(logger.lineCount(), 0);
  EXPECT_TRUE(std::filesystem::is_empty(root.path("/var/log")));
}

TEST(Logger, DumpOfTwentyBytes) {
  test::ScopedSysroot root;
  Logger logger;
  const unsigned char data[20] = {'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J',
                                  'K', 'L', 'M', 'N', 'O', 'P', 0x00, 0x7F, 'z', '\n'};
  logger.dump(1, "packet", data, sizeof data);
  std::vector<std::string> lines = test::readLines(logFile(root, 0));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(body(lines[0]), "[        ][               ] packet(20)");
  EXPECT_EQ(body(lines[1]),
            "[        ][               ] 00000000: 41 42 43 44 45 46 47 48 49 4A 4B 4C 4D 4E "
            "4F 50 : ABCDEFGHIJKLMNOP");
  // Twelve missing bytes: twelve blank triples, then twelve blanks.
  EXPECT_EQ(body(lines[2]), "[        ][               ] 00000010: 00 7F 7A 0A" +
                                std::string(36, ' ') + " : " + "  z " + std::string(12, ' '));
}

TEST(Logger, DumpRowsCountOffsetsInHex) {
  test::ScopedSysroot root;
  Logger logger;
  std::vector<unsigned char> data(300, 0x80);
  logger.dump(1, "big", data.data(), static_cast<int>(data.size()));
  std::vector<std::string> lines = test::readLines(logFile(root, 0));
  ASSERT_EQ(lines.size(), 1u + 19u);  // header, 18 full rows and a row of 12
  EXPECT_EQ(body(lines[17]).substr(0, 37), "[        ][               ] 00000100:");
  EXPECT_EQ(body(lines[19]).substr(0, 37), "[        ][               ] 00000120:");
  // Bytes that are not printable show as blanks.
  EXPECT_EQ(body(lines[1]).substr(body(lines[1]).size() - 19), " : " + std::string(16, ' '));
}

struct EmptyDumpCase {
  const void* data;
  int length;
};

class LoggerEmptyDump : public ::testing::TestWithParam<EmptyDumpCase> {};

TEST_P(LoggerEmptyDump, WritesNothing) {
  test::ScopedSysroot root;
  Logger logger;
  logger.dump(3, "nothing", GetParam().data, GetParam().length);
  EXPECT_EQ(logger.lineCount(), 0);
  EXPECT_FALSE(test::fileExists(logFile(root, 0)));
}

const char kSomeBytes[] = "abc";
INSTANTIATE_TEST_SUITE_P(Buffers, LoggerEmptyDump,
                         ::testing::Values(EmptyDumpCase{kSomeBytes, 0},
                                           EmptyDumpCase{kSomeBytes, -5},
                                           EmptyDumpCase{nullptr, 3},
                                           EmptyDumpCase{nullptr, 0}),
                         [](const ::testing::TestParamInfo<EmptyDumpCase>& info) {
                           return std::string(info.param.data ? "Buffer" : "Null") + "Length" +
                                  (info.param.length < 0 ? "Negative"
                                                         : std::to_string(info.param.length));
                         });

TEST(Logger, LineThatCannotBeStoredIsDroppedAndNotCounted) {
  test::ScopedSysroot root;
  Logger logger;
  std::filesystem::remove_all(root.path("/var/log"));
  logger.log(1, "lost");
  EXPECT_EQ(logger.lineCount(), 0);
  std::filesystem::create_directories(root.path("/var/log"));
  logger.log(1, "kept");
  EXPECT_EQ(logger.lineCount(), 1);
  std::vector<std::string> lines = test::readLines(logFile(root, 0));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(body(lines[0]), "kept");
}

TEST(Logger, LinesFromManyThreadsNeverInterleave) {
  test::ScopedSysroot root;
  Logger logger;
  constexpr int kThreads = 4;
  constexpr int kLines = 1500;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&logger, t] {
      for (int i = 0; i < kLines; ++i) logger.log(1, "thread %d line %d %s", t, i, "payload");
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(logger.lineCount(), kThreads * kLines);
  std::vector<std::string> lines = test::readLines(logFile(root, 0));
  std::vector<std::string> more = test::readLines(logFile(root, 1));
  ASSERT_EQ(lines.size(), 5000u);
  ASSERT_EQ(more.size(), static_cast<size_t>(kThreads * kLines - 5000));
  lines.insert(lines.end(), more.begin(), more.end());
  std::vector<int> next(kThreads, 0);
  static const std::regex shape("thread ([0-9]) line ([0-9]+) payload");
  for (const std::string& line : lines) {
    std::smatch m;
    std::string text = body(line);
    ASSERT_TRUE(std::regex_match(text, m, shape)) << line;
    int t = std::stoi(m[1]);
    // Each thread's lines arrive whole and in its own order.
    EXPECT_EQ(std::stoi(m[2]), next[t]++);
  }
}

}  // namespace
}  // namespace tavik
