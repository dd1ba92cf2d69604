// User accounts: the password digest, the file and its damaged lines, and
// the results of every list operation including the order of errors.
#include "config/UserAccounts.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>
#include <filesystem>
#include <memory>
#include <string>

#include "tests/support/TestSupport.h"

namespace tavik {
namespace {

using test::ScopedSysroot;

// Digests worked out with the openssl command line over the 128-byte
// phrase buffer (text, then zeros up to 128 bytes).
const char kPelun[] = "75AD40FED999FC840B53BB736717FB59";
const char kSecret1[] = "09F91A829B3CE3C293244A9E5855CE2A";
const char kEmpty[] = "4BA835218B9F1374D7604F81A50FBF85";

const std::string kName16(16, 'n');
const std::string kName17(17, 'n');
const std::string kPass32(32, 'p');
const std::string kPass33(33, 'p');

// The digest as the openssl tool computes it from a file holding the
// 128-byte buffer.
std::string opensslDigest(const std::string& password, const std::string& dir) {
  std::string phrase = password + " QuIlL gAtEs KeYpHrAsE 5173926480157392648015739264801573";
  phrase.resize(128, '\0');
  const std::string file = dir + "/phrase.bin";
  if (!test::writeFile(file, phrase)) return "write failed";
  std::string out;
  FILE* p = ::popen(("openssl md5 -r " + file).c_str(), "r");
  if (p == nullptr) return "popen failed";
  char buf[128] = {};
  if (std::fgets(buf, sizeof buf, p) != nullptr) out = buf;
  ::pclose(p);
  out = out.substr(0, out.find(' '));
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

class UserAccountsTest : public ::testing::Test {
 protected:
  std::string userFile() const { return root_.path("/flash/tavik_user"); }
  void writeUsers(const std::string& text) { ASSERT_TRUE(test::writeFile(userFile(), text)); }
  std::string users() const { return test::readFile(userFile()); }
  // Makes the user file unreadable: a directory in its place.
  void breakUserFile() { ASSERT_TRUE(std::filesystem::create_directory(userFile())); }
  std::unique_ptr<UserList> list() {
    auto l = std::make_unique<UserList>();
    EXPECT_EQ(accounts_.readList(l.get()), 0);
    return l;
  }

  ScopedSysroot root_;
  ConfigStore store_;
  UserAccounts accounts_{store_};
};

TEST(PasswordDigest, KnownPasswords) {
  EXPECT_EQ(UserAccounts::passwordDigest("pelun"), kPelun);
  EXPECT_EQ(UserAccounts::passwordDigest("Secret#1"), kSecret1);
  EXPECT_EQ(UserAccounts::passwordDigest(""), kEmpty);
}

TEST(PasswordDigest, AgreesWithTheOpensslTool) {
  ScopedSysroot root;
  for (const std::string& pw : {std::string("pelun"), std::string("a b:c"), kPass32}) {
    SCOPED_TRACE(pw);
    EXPECT_EQ(UserAccounts::passwordDigest(pw.c_str()), opensslDigest(pw, root.root()));
  }
}

TEST_F(UserAccountsTest, MissingFileGivesTheFactoryAdministrator) {
  EXPECT_EQ(accounts_.verify("admin", "pelun"), 0);
  EXPECT_EQ(users(), std::string("admin:") + kPelun + "\n");
}

TEST_F(UserAccountsTest, VerifyResults) {
  writeUsers(std::string("admin:") + kPelun + "\nbob:" + kSecret1 + "\n" + kName16 + ":" + kEmpty +
             "\n");
  struct Case {
    const char* name;
    const char* password;
    int result;
  } const cases[] = {
      {"admin", "pelun", 0},
      {"bob", "Secret#1", 0},
      {kName16.c_str(), "", 0},
      {"admin", "PELUN", -1},       // passwords are case sensitive
      {"admin", "Pelun", -1},
      {"Admin", "pelun", -4},       // so are names
      {"bob", "pelun", -1},
      {"carol", "pelun", -4},
      {nullptr, "pelun", -1},
      {"admin", nullptr, -1},
      {kName17.c_str(), "pelun", -2},
      {"admin", kPass33.c_str(), -2},
      {"admin", kPass32.c_str(), -1},
      // The first error wins: missing, then length, then name, then password.
      {kName17.c_str(), nullptr, -1},
      {"carol", kPass33.c_str(), -2},
      {"carol", "wrong", -4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name ? c.name : "(null)") + "/" + (c.password ? c.password : "(null)"));
    EXPECT_EQ(accounts_.verify(c.name, c.password), c.result);
  }
}

TEST_F(UserAccountsTest, UnreadableListComesAfterLengthChecks) {
  breakUserFile();
  EXPECT_EQ(accounts_.verify(nullptr, "pelun"), -1);
  EXPECT_EQ(accounts_.verify(kName17.c_str(), "pelun"), -2);
  EXPECT_EQ(accounts_.verify("admin", "pelun"), -3);
  EXPECT_EQ(accounts_.add("bob", kPass33.c_str()), -2);
  EXPECT_EQ(accounts_.add("bob", "x"), -3);
  EXPECT_EQ(accounts_.remove(kName17.c_str()), -2);
  EXPECT_EQ(accounts_.remove("admin"), -3);
  EXPECT_EQ(accounts_.changePassword("admin", kPass33.c_str()), -2);
  EXPECT_EQ(accounts_.changePassword("admin", "x"), -3);
  char buf[64];
  EXPECT_EQ(accounts_.listNames(buf, sizeof buf), -2);
}

TEST_F(UserAccountsTest, MissingFileThatCannotBeCreatedIsUnreadable) {
  std::filesystem::remove_all(root_.path("/flash"));
  ASSERT_TRUE(test::writeFile(root_.path("/flash"), "x"));
  EXPECT_EQ(accounts_.verify("admin", "pelun"), -3);
}

TEST_F(UserAccountsTest, AddResults) {
  writeUsers(std::string("admin:") + kPelun + "\n");
  struct Case {
    const char* name;
    const char* password;
    int result;
  } const cases[] = {
      {"bob", "Secret#1", 0},
      {kName16.c_str(), kPass32.c_str(), 0},
      {"bob", "other", -4},
      {"admin", "x", -4},
      {nullptr, "x", -1},
      {"carol", nullptr, -1},
      {"", "x", -1},
      {kName17.c_str(), "x", -2},
      {"carol", kPass33.c_str(), -2},
      {"ca:rol", "x", -1},  // would read back as "ca" with a wrong digest
      {"carol\n", "x", -1},
      {"car\rol", "x", -1},
      {kName17.c_str(), nullptr, -1},
      {"bob", kPass33.c_str(), -2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name ? c.name : "(null)") + "/" + (c.password ? c.password : "(null)"));
    EXPECT_EQ(accounts_.add(c.name, c.password), c.result);
  }
  EXPECT_EQ(users(), std::string("admin:") + kPelun + "\nbob:" + kSecret1 + "\n" + kName16 + ":" +
                         UserAccounts::passwordDigest(kPass32.c_str()) + "\n");
  EXPECT_EQ(accounts_.verify("bob", "Secret#1"), 0);
}

TEST_F(UserAccountsTest, TwoHundredFiftySeventhAccountIsRefused) {
  std::string text;
  for (int i = 0; i < 256; ++i) text += "user" + std::to_string(i) + ":" + kPelun + "\n";
  writeUsers(text);
  EXPECT_EQ(list()->count, 256);
  EXPECT_EQ(accounts_.add("one-more", "x"), -2);
  EXPECT_EQ(users(), text);
  EXPECT_EQ(accounts_.add("user7", "x"), -4);  // an existing name is found first
  EXPECT_EQ(accounts_.remove("user0"), 0);
  EXPECT_EQ(accounts_.add("one-more", "x"), 0);
  EXPECT_EQ(list()->count, 256);
}

TEST_F(UserAccountsTest, RemoveKeepsTheOrderOfTheRest) {
  writeUsers(std::string("admin:") + kPelun + "\na:" + kEmpty + "\nb:" + kSecret1 + "\nc:" + kEmpty +
             "\n");
  EXPECT_EQ(accounts_.remove(nullptr), -1);
  EXPECT_EQ(accounts_.remove(kName17.c_str()), -2);
  EXPECT_EQ(accounts_.remove("A"), -4);
  EXPECT_EQ(accounts_.remove("a"), 0);
  EXPECT_EQ(users(), std::string("admin:") + kPelun + "\nb:" + kSecret1 + "\nc:" + kEmpty + "\n");
  EXPECT_EQ(accounts_.remove("a"), -4);
  // Removing the administrator is allowed.
  EXPECT_EQ(accounts_.remove("admin"), 0);
  EXPECT_EQ(accounts_.verify("admin", "pelun"), -4);
}

TEST_F(UserAccountsTest, ChangePasswordResults) {
  writeUsers(std::string("admin:") + kPelun + "\nbob:" + kSecret1 + "\n");
  EXPECT_EQ(accounts_.changePassword(nullptr, "x"), -1);
  EXPECT_EQ(accounts_.changePassword("bob", nullptr), -1);
  EXPECT_EQ(accounts_.changePassword(kName17.c_str(), "x"), -2);
  EXPECT_EQ(accounts_.changePassword("bob", kPass33.c_str()), -2);
  EXPECT_EQ(accounts_.changePassword("carol", "x"), -4);
  EXPECT_EQ(accounts_.changePassword("bob", "pelun"), 0);
  EXPECT_EQ(accounts_.verify("bob", "Secret#1"), -1);
  EXPECT_EQ(accounts_.verify("bob", "pelun"), 0);
  EXPECT_EQ(users(), std::string("admin:") + kPelun + "\nbob:" + kPelun + "\n");
}

TEST_F(UserAccountsTest, DamagedLinesAreSkipped) {
  const std::string longLine = std::string(200, 'x') + ":" + std::string(60, 'y') + "tail:ABC\n";
  writeUsers(std::string(":") + kPelun + "\n"      // no name
             + "nocolon\n"                         // no colon
             + "\n"                                // empty
             + "bob:" + kSecret1 + "\n"            // good
             + longLine                            // over 255 characters: no entry, no tail entry
             + std::string(20, 'l') + ":" + kEmpty + "\n"  // name does not fit
             + std::string(19, 'm') + ":" + kEmpty + "\n"  // name just fits
             + "dig40:" + std::string(40, 'D') + "\n"      // digest does not fit
             + "dig39:" + std::string(39, 'D') + "\n"      // digest just fits
             + "empty:\n"                                  // empty digest
             + "last:a:b");                                // last line without line feed
  auto l = list();
  ASSERT_EQ(l->count, 5);
  EXPECT_STREQ(l->entries[0].name, "bob");
  EXPECT_STREQ(l->entries[0].digest, kSecret1);
  EXPECT_EQ(std::string(l->entries[1].name), std::string(19, 'm'));
  EXPECT_STREQ(l->entries[2].name, "dig39");
  EXPECT_EQ(std::string(l->entries[2].digest), std::string(39, 'D'));
  EXPECT_STREQ(l->entries[3].name, "empty");
  EXPECT_STREQ(l->entries[3].digest, "");
  EXPECT_STREQ(l->entries[4].name, "last");
  EXPECT_STREQ(l->entries[4].digest, "a:b");
  // An empty stored digest never matches.
  EXPECT_EQ(accounts_.verify("empty", ""), -1);
}

TEST_F(UserAccountsTest, OverLongLineCountsAsOneLine) {
  // 600 characters: one damaged line, not three pieces.
  std::string text = std::string(300, 'x') + ":" + std::string(299, 'y') + "\n";
  for (int i = 0; i < 254; ++i) text += "damaged line\n";
  text += std::string("in:") + kPelun + "\n";  // line 256
  writeUsers(text);
  auto l = list();
  ASSERT_EQ(l->count, 1);
  EXPECT_STREQ(l->entries[0].name, "in");
}

TEST_F(UserAccountsTest, OnlyTheFirst256LinesAreExamined) {
  std::string text;
  for (int i = 0; i < 255; ++i) text += "damaged line\n";
  text += std::string("in:") + kPelun + "\n";
  text += std::string("out:") + kPelun + "\n";
  writeUsers(text);
  auto l = list();
  ASSERT_EQ(l->count, 1);
  EXPECT_STREQ(l->entries[0].name, "in");
  EXPECT_EQ(accounts_.verify("out", "pelun"), -4);
}

TEST_F(UserAccountsTest, ReadListRewritesNothing) {
  const std::string text = std::string("nocolon\nadmin:") + kPelun + "\n";
  writeUsers(text);
  list();
  EXPECT_EQ(users(), text);
}

TEST_F(UserAccountsTest, ListNames) {
  writeUsers(std::string("admin:") + kPelun + "\neightchr:" + kEmpty + "\n");
  struct Case {
    int size;
    const char* text;
  } const cases[] = {
      {10, "admin\n"},  // 6 + 8 + 2 is not below 10
      {16, "admin\n"},
      {17, "admin\neightchr\n"},
      {7, ""},          // 0 + 5 + 2 is not below 7
      {8, "admin\n"},
      {1, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    std::string buf(static_cast<size_t>(c.size) + 4, '#');
    EXPECT_EQ(accounts_.listNames(buf.data(), c.size), 0);
    EXPECT_STREQ(buf.c_str(), c.text);
    // Nothing written past the given size.
    EXPECT_EQ(buf.substr(static_cast<size_t>(c.size)), "####");
  }
  char buf[8];
  EXPECT_EQ(accounts_.listNames(nullptr, 8), -1);
  EXPECT_EQ(accounts_.listNames(buf, 0), -1);
  EXPECT_EQ(accounts_.listNames(buf, -5), -1);
}

TEST_F(UserAccountsTest, FailedWriteKeepsEveryAccount) {
  const std::string text = std::string("admin:") + kPelun + "\nbob:" + kSecret1 + "\n";
  writeUsers(text);
  ASSERT_TRUE(std::filesystem::create_directory(userFile() + ".new"));
  EXPECT_EQ(accounts_.add("carol", "x"), -1);
  EXPECT_EQ(users(), text);
  std::filesystem::remove(userFile() + ".new");

  rlimit saved{};
  ::getrlimit(RLIMIT_FSIZE, &saved);
  auto oldHandler = ::signal(SIGXFSZ, SIG_IGN);
  rlimit lower = saved;
  lower.rlim_cur = 40;  // the write stops in the second line
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &lower), 0);
  int result = accounts_.changePassword("admin", "new");
  ::setrlimit(RLIMIT_FSIZE, &saved);
  ::signal(SIGXFSZ, oldHandler);
  EXPECT_EQ(result, -1);
  EXPECT_EQ(users(), text);
  EXPECT_FALSE(test::fileExists(userFile() + ".new"));
}

// Two PC tools changing accounts at the same moment: every change lands.
TEST_F(UserAccountsTest, ConcurrentChangesAreNotLost) {
  writeUsers(std::string("admin:") + kPelun + "\n");
  constexpr int kThreads = 4;
  constexpr int kEach = 8;
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) {
        std::string name = "u" + std::to_string(t) + "_" + std::to_string(i);
        if (accounts_.add(name.c_str(), name.c_str()) != 0) ++failures;
        if (accounts_.changePassword("admin", "pelun") != 0) ++failures;
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(list()->count, 1 + kThreads * kEach);
  EXPECT_EQ(accounts_.verify("u3_7", "u3_7"), 0);
}

TEST_F(UserAccountsTest, Administrator) {
  writeUsers(std::string("admin:") + kPelun + "\nbob:" + kSecret1 + "\n");
  EXPECT_TRUE(accounts_.isAdministrator("admin", "pelun"));
  EXPECT_FALSE(accounts_.isAdministrator("Admin", "pelun"));
  EXPECT_FALSE(accounts_.isAdministrator("admin", "Secret#1"));
  EXPECT_FALSE(accounts_.isAdministrator("bob", "Secret#1"));
  EXPECT_FALSE(accounts_.isAdministrator(nullptr, "pelun"));
}

}  // namespace
}  // namespace tavik
