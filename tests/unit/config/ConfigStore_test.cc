// The three settings records: first-start defaults, short and long files,
// failing writes, and the replace-by-rename that keeps a whole file.
#include "config/ConfigStore.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include "tests/support/TestSupport.h"

namespace tavik {
namespace {

using test::ScopedSysroot;

std::string le32(int32_t v) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[i] = static_cast<char>((static_cast<uint32_t>(v) >> (8 * i)) & 0xFF);
  return s;
}

std::string le32s(std::initializer_list<int32_t> values) {
  std::string s;
  for (int32_t v : values) s += le32(v);
  return s;
}

template <typename Record>
std::string bytesOf(const Record& r) {
  return std::string(reinterpret_cast<const char*>(&r), sizeof r);
}

const std::string kSystemDefaults = le32(1) + std::string("\xC0\xA8\x00\xDF\xFF\xFF\xFF\x00\xC0\xA8\x00\x01", 12);
const std::string kServiceDefaults =
    le32s({1, 1, 1, 9100, 300000, 1, 0, 1, 11110, 300000, 1});
const std::string kOcpDefaults = le32s({1, 1, 0, 0, 1, 23, 300000});

// One record kind seen generically: its file, its defaults and a read
// into a byte image of the record.
struct RecordKind {
  const char* name;
  const char* file;
  size_t size;
  const std::string* defaults;
  std::function<int(ConfigStore&, std::string*)> read;
  std::function<int(ConfigStore&, const std::string&)> write;
};

template <typename Record>
RecordKind kind(const char* name, const char* file, const std::string* defaults,
                int (ConfigStore::*read)(Record*), int (ConfigStore::*write)(const Record&)) {
  return RecordKind{
      name, file, sizeof(Record), defaults,
      [read](ConfigStore& s, std::string* image) {
        Record r;
        std::memcpy(&r, image->data(), sizeof r);
        int result = (s.*read)(&r);
        *image = bytesOf(r);
        return result;
      },
      [write](ConfigStore& s, const std::string& image) {
        Record r;
        std::memcpy(&r, image.data(), sizeof r);
        return (s.*write)(r);
      }};
}

std::vector<RecordKind> allKinds() {
  return {kind<SystemConfig>("system", ConfigStore::kSystemFile, &kSystemDefaults,
                             &ConfigStore::readSystem, &ConfigStore::writeSystem),
          kind<ServiceConfig>("service", ConfigStore::kServiceFile, &kServiceDefaults,
                              &ConfigStore::readService, &ConfigStore::writeService),
          kind<OcpConfig>("ocp", ConfigStore::kOcpFile, &kOcpDefaults, &ConfigStore::readOcp,
                          &ConfigStore::writeOcp)};
}

// Bytes 0x01, 0x02, ... so a partial read shows which bytes came from the file.
std::string pattern(size_t n) {
  std::string s;
  for (size_t i = 0; i < n; ++i) s.push_back(static_cast<char>(i + 1));
  return s;
}

TEST(ConfigRecords, DefaultsMatchTheFlashImages) {
  EXPECT_EQ(bytesOf(defaultSystemConfig()), kSystemDefaults);
  EXPECT_EQ(bytesOf(defaultServiceConfig()), kServiceDefaults);
  EXPECT_EQ(bytesOf(defaultOcpConfig()), kOcpDefaults);
}

TEST(ConfigStore, FirstLoadCreatesServiceAndOcpFilesWithDefaults) {
  ScopedSysroot root;
  ConfigStore store;
  EXPECT_EQ(store.load(), 0);
  EXPECT_EQ(test::readFile(root.path("/flash/tavik_service")), kServiceDefaults);
  EXPECT_EQ(test::readFile(root.path("/flash/tavik_ocp")), kOcpDefaults);
  EXPECT_EQ(test::readFile(root.path("/flash/tavik_service")).size(), 44u);
  EXPECT_EQ(test::readFile(root.path("/flash/tavik_ocp")).size(), 28u);
  EXPECT_FALSE(test::fileExists(root.path("/flash/tavik_system")));
  EXPECT_EQ(bytesOf(store.service()), kServiceDefaults);
  EXPECT_EQ(bytesOf(store.ocp()), kOcpDefaults);
}

TEST(ConfigStore, FirstReadOfEachRecordWritesItsDefaults) {
  for (const RecordKind& k : allKinds()) {
    SCOPED_TRACE(k.name);
    ScopedSysroot root;
    ConfigStore store;
    std::string image(k.size, '\x55');
    EXPECT_EQ(k.read(store, &image), 0);
    EXPECT_EQ(image, *k.defaults);
    EXPECT_EQ(test::readFile(root.path(k.file)), *k.defaults);
  }
}

TEST(ConfigStore, ShortAndLongFiles) {
  struct Case {
    long delta;  // file size minus record size
    int result;
  };
  const Case cases[] = {{-6, -1}, {-1, -1}, {0, 0}, {4, 0}};
  for (const RecordKind& k : allKinds()) {
    for (const Case& c : cases) {
      size_t fileSize = static_cast<size_t>(static_cast<long>(k.size) + c.delta);
      SCOPED_TRACE(std::string(k.name) + " file of " + std::to_string(fileSize) + " bytes");
      ScopedSysroot root;
      ConfigStore store;
      const std::string content = pattern(fileSize);
      ASSERT_TRUE(test::writeFile(root.path(k.file), content));
      std::string image(k.size, '\x55');
      EXPECT_EQ(k.read(store, &image), c.result);
      size_t got = std::min(fileSize, k.size);
      // What was read is in the record; the rest is as the caller left it.
      EXPECT_EQ(image.substr(0, got), content.substr(0, got));
      EXPECT_EQ(image.substr(got), std::string(k.size - got, '\x55'));
      // A short file is not repaired, a long one not cut.
      EXPECT_EQ(test::readFile(root.path(k.file)), content);
    }
  }
}

TEST(ConfigStore, TenByteSystemFileFailsTwentyByteOneReads) {
  ScopedSysroot root;
  ConfigStore store;
  SystemConfig c{};
  ASSERT_TRUE(test::writeFile(root.path("/flash/tavik_system"), pattern(10)));
  EXPECT_EQ(store.readSystem(&c), -1);
  ASSERT_TRUE(test::writeFile(root.path("/flash/tavik_system"), pattern(20)));
  EXPECT_EQ(store.readSystem(&c), 0);
  EXPECT_EQ(bytesOf(c), pattern(16));
}

TEST(ConfigStore, DefaultsStillReturnedWhenTheyCannotBeWritten) {
  for (const RecordKind& k : allKinds()) {
    SCOPED_TRACE(k.name);
    ScopedSysroot root;
    // A file where the flash directory should be: nothing can be created
    // below it, even by root.
    std::filesystem::remove_all(root.path("/flash"));
    ASSERT_TRUE(test::writeFile(root.path("/flash"), "not a directory"));
    ConfigStore store;
    std::string image(k.size, '\x55');
    EXPECT_EQ(k.read(store, &image), -1);
    EXPECT_EQ(image, *k.defaults);
  }
}

TEST(ConfigStore, LoadKeepsDefaultsWhenFlashIsUnwritable) {
  ScopedSysroot root;
  std::filesystem::remove_all(root.path("/flash"));
  ASSERT_TRUE(test::writeFile(root.path("/flash"), "x"));
  ConfigStore store;
  EXPECT_EQ(store.load(), -1);
  EXPECT_EQ(bytesOf(store.service()), kServiceDefaults);
  EXPECT_EQ(bytesOf(store.ocp()), kOcpDefaults);
}

TEST(ConfigStore, UnreadableFileIsReportedAndLeftAlone) {
  ScopedSysroot root;
  ASSERT_TRUE(std::filesystem::create_directory(root.path("/flash/tavik_ocp")));
  ConfigStore store;
  OcpConfig c{};
  EXPECT_EQ(store.readOcp(&c), -1);
  EXPECT_TRUE(std::filesystem::is_directory(root.path("/flash/tavik_ocp")));
}

TEST(ConfigStore, WriteThenReadRoundTripsAndLeavesNoTemporaryFile) {
  for (const RecordKind& k : allKinds()) {
    SCOPED_TRACE(k.name);
    ScopedSysroot root;
    ConfigStore store;
    ASSERT_TRUE(test::writeFile(root.path(k.file), std::string(k.size + 9, 'z')));
    const std::string image = pattern(k.size);
    EXPECT_EQ(k.write(store, image), 0);
    EXPECT_EQ(test::readFile(root.path(k.file)), image);  // the longer file is replaced whole
    std::string back(k.size, '\0');
    EXPECT_EQ(k.read(store, &back), 0);
    EXPECT_EQ(back, image);
    EXPECT_FALSE(test::fileExists(root.path(std::string(k.file) + ".new")));
  }
}

TEST(ConfigStore, WriteDefaultsOverwritesTheFile) {
  ScopedSysroot root;
  ConfigStore store;
  ASSERT_TRUE(test::writeFile(root.path("/flash/tavik_service"), pattern(44)));
  ServiceConfig c{};
  EXPECT_EQ(store.writeDefaultService(&c), 0);
  EXPECT_EQ(bytesOf(c), kServiceDefaults);
  EXPECT_EQ(test::readFile(root.path("/flash/tavik_service")), kServiceDefaults);
}

// Lowers the file-size limit so that writes stop part way, as on a full
// flash; restores it afterwards.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &saved_);
    oldHandler_ = ::signal(SIGXFSZ, SIG_IGN);
    rlimit lower = saved_;
    lower.rlim_cur = bytes;
    ok_ = ::setrlimit(RLIMIT_FSIZE, &lower) == 0;
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &saved_);
    ::signal(SIGXFSZ, oldHandler_);
  }
  bool ok() const { return ok_; }

 private:
  rlimit saved_{};
  sighandler_t oldHandler_;
  bool ok_ = false;
};

TEST(ConfigStore, WriteStoppedPartWayLeavesTheOldRecordWhole) {
  ScopedSysroot root;
  ConfigStore store;
  ASSERT_TRUE(test::writeFile(root.path("/flash/tavik_service"), kServiceDefaults));
  ServiceConfig changed = defaultServiceConfig();
  changed.spool_port = 9200;
  {
    FileSizeLimit limit(20);
    ASSERT_TRUE(limit.ok());
    EXPECT_EQ(store.writeService(changed), -1);
  }
  EXPECT_EQ(test::readFile(root.path("/flash/tavik_service")), kServiceDefaults);
  EXPECT_FALSE(test::fileExists(root.path("/flash/tavik_service.new")));
  ServiceConfig back{};
  EXPECT_EQ(store.readService(&back), 0);
  EXPECT_EQ(back.spool_port, 9100);
}

TEST(ConfigStore, WriteThatCannotCreateItsNewFileLeavesTheOldOne) {
  ScopedSysroot root;
  ConfigStore store;
  ASSERT_TRUE(test::writeFile(root.path("/flash/tavik_system"), kSystemDefaults));
  ASSERT_TRUE(std::filesystem::create_directory(root.path("/flash/tavik_system.new")));
  SystemConfig changed = defaultSystemConfig();
  changed.dhcp = 0;
  EXPECT_EQ(store.writeSystem(changed), -1);
  EXPECT_EQ(test::readFile(root.path("/flash/tavik_system")), kSystemDefaults);
}

// Another process (ifsetup, a PC tool's get) may read the file without the
// store's lock: it must only ever see one whole record or the other.
TEST(ConfigStore, ReaderWithoutTheLockSeesOnlyWholeRecords) {
  ScopedSysroot root;
  ConfigStore store;
  OcpConfig a = defaultOcpConfig();
  OcpConfig b = defaultOcpConfig();
  b.port = 2323;
  b.ssl = 1;
  ASSERT_EQ(store.writeOcp(a), 0);
  std::atomic<bool> done{false};
  std::atomic<int> torn{0};
  std::thread reader([&] {
    const std::string path = root.path("/flash/tavik_ocp");
    while (!done) {
      std::string seen = test::readFile(path);
      if (seen != bytesOf(a) && seen != bytesOf(b)) ++torn;
    }
  });
  for (int i = 0; i < 100; ++i) ASSERT_EQ(store.writeOcp(i % 2 ? a : b), 0);
  done = true;
  reader.join();
  EXPECT_EQ(torn.load(), 0);
}

}  // namespace
}  // namespace tavik
