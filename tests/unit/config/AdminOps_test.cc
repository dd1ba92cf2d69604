// Administrator operations: the check, the account commands with 16-bit
// texts, and the record get/set commands with their port checks.
#include "config/AdminOps.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/TestSupport.h"

namespace tavik {
namespace {

using test::ScopedSysroot;

// A 16-bit text as a command packet carries it, ended by a 0 unit.
class Wide {
 public:
  Wide(const std::string& s) {  // NOLINT: implicit on purpose, for tables
    for (unsigned char c : s) units_.push_back(c);
    units_.push_back(0);
  }
  explicit Wide(std::vector<uint16_t> units) : units_(std::move(units)) {}
  operator WideText() const { return WideText{units_.data(), units_.size()}; }

 private:
  std::vector<uint16_t> units_;
};

const WideText kMissing{};

std::string narrowOut(const std::vector<uint16_t>& out) {
  std::string s;
  for (uint16_t u : out) {
    if (u == 0) break;
    s.push_back(static_cast<char>(u));
  }
  return s;
}

class AdminOpsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The factory administrator and one ordinary user.
    ASSERT_EQ(accounts_.verify("admin", "pelun"), 0);
    ASSERT_EQ(accounts_.add("bob", "Secret#1"), 0);
  }
  std::string file(const char* modulePath) const { return test::readFile(root_.path(modulePath)); }

  ScopedSysroot root_;
  ConfigStore store_;
  UserAccounts accounts_{store_};
  AdminOps ops_{store_};
  const Wide admin_{"admin"};
  const Wide pelun_{"pelun"};
};

TEST(WideText, ReducesUnitsToTheirLowByte) {
  struct Case {
    std::vector<uint16_t> units;
    size_t capacity;
    std::string text;
  } const cases[] = {
      {{'a', 'd', 0}, 3, "ad"},
      {{0x0141, 0xFF62, 0}, 3, "A\x62"},
      {{'a', 'b', 'c'}, 2, "ab"},        // unterminated: stops at the bound
      {{'a', 0x0100, 'b', 0}, 4, "a"},   // low byte 0 ends the 8-bit text
      {{'a', 0}, 0, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ((WideText{c.units.data(), c.capacity}.narrow()), c.text);
  }
  EXPECT_EQ(kMissing.narrow(), "");
  EXPECT_FALSE(kMissing.present());
}

TEST_F(AdminOpsTest, AdministratorCheck) {
  struct Case {
    WideText name;
    WideText password;
    ResultCode result;
  };
  const Wide upperAdmin("Admin"), wrongCase("PELUN"), bob("bob"), bobPw("Secret#1"),
      long17("admin" + std::string(12, ' ')), pw33(std::string(33, 'p'));
  const Case cases[] = {
      {admin_, pelun_, rc::kSuccess},
      {upperAdmin, pelun_, rc::kErrAuthentication},
      {admin_, wrongCase, rc::kErrAuthentication},
      {bob, bobPw, rc::kErrAuthentication},  // a valid account, but not the administrator
      {kMissing, pelun_, rc::kErrAuthentication},
      {admin_, kMissing, rc::kErrAuthentication},
      {long17, pelun_, rc::kErrAuthentication},
      {admin_, pw33, rc::kErrAuthentication},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(ops_.checkAdministrator(cases[i].name, cases[i].password), cases[i].result);
  }
  // The high byte of each unit does not matter.
  Wide highBytes(std::vector<uint16_t>{0x4161, 0x0164, 0x016D, 0x0169, 0xFF6E, 0});
  EXPECT_EQ(ops_.checkAdministrator(highBytes, pelun_), rc::kSuccess);
}

TEST_F(AdminOpsTest, ListUsers) {
  std::vector<uint16_t> out(64, 0xAAAA);
  EXPECT_EQ(ops_.listUsers(admin_, pelun_, out.data(), out.size()), rc::kSuccess);
  EXPECT_EQ(narrowOut(out), "admin\nbob\n");
  EXPECT_EQ(out[10], 0);

  std::vector<uint16_t> small(8, 0xAAAA);
  EXPECT_EQ(ops_.listUsers(admin_, pelun_, small.data(), 7), rc::kSuccess);
  EXPECT_EQ(narrowOut(small), "");
  EXPECT_EQ(ops_.listUsers(admin_, pelun_, small.data(), 8), rc::kSuccess);
  EXPECT_EQ(narrowOut(small), "admin\n");

  EXPECT_EQ(ops_.listUsers(Wide("bob"), Wide("Secret#1"), out.data(), out.size()),
            rc::kErrAuthentication);
  EXPECT_EQ(ops_.listUsers(admin_, pelun_, nullptr, 64), rc::kErrListUser);
  EXPECT_EQ(ops_.listUsers(admin_, pelun_, out.data(), 0), rc::kErrListUser);
}

TEST_F(AdminOpsTest, AddAndDeleteUsers) {
  EXPECT_EQ(ops_.addUser(admin_, pelun_, Wide("carol"), Wide("pw")), rc::kSuccess);
  EXPECT_EQ(accounts_.verify("carol", "pw"), 0);
  EXPECT_EQ(ops_.addUser(admin_, pelun_, Wide("carol"), Wide("pw")), rc::kErrAddUser);
  EXPECT_EQ(ops_.addUser(admin_, pelun_, Wide("da:ve"), Wide("pw")), rc::kErrAddUser);
  EXPECT_EQ(ops_.addUser(admin_, pelun_, Wide(std::string(17, 'd')), Wide("pw")), rc::kErrAddUser);
  EXPECT_EQ(ops_.addUser(admin_, pelun_, kMissing, Wide("pw")), rc::kErrAddUser);
  EXPECT_EQ(ops_.addUser(Wide("bob"), Wide("Secret#1"), Wide("eve"), Wide("pw")),
            rc::kErrAuthentication);
  EXPECT_EQ(accounts_.verify("eve", "pw"), -4);

  EXPECT_EQ(ops_.deleteUser(Wide("bob"), Wide("Secret#1"), Wide("carol")), rc::kErrAuthentication);
  EXPECT_EQ(ops_.deleteUser(admin_, pelun_, Wide("carol")), rc::kSuccess);
  EXPECT_EQ(ops_.deleteUser(admin_, pelun_, Wide("carol")), rc::kErrDeleteUser);
  EXPECT_EQ(file("/flash/tavik_user").find("carol"), std::string::npos);
}

TEST_F(AdminOpsTest, ChangePasswordRules) {
  ASSERT_EQ(accounts_.add("carol", "c-pw"), 0);
  const std::string pw33(33, 'p');
  struct Case {
    const char* who;
    const char* password;
    const char* target;
    const char* newPassword;
    ResultCode result;
  } const cases[] = {
      {"bob", "Secret#1", "bob", "b2", rc::kSuccess},             // own password
      {"bob", "wrong", "bob", "b3", rc::kErrAuthentication},      // own, wrong current one
      {"bob", "b2", "carol", "x", rc::kErrAuthentication},        // someone else's
      {"Bob", "b2", "bob", "x", rc::kErrAuthentication},          // names are exact
      {"admin", "pelun", "carol", "c2", rc::kSuccess},            // the administrator may
      {"admin", "pelun", "nobody", "x", rc::kErrPasswordUser},
      {"admin", "pelun", "carol", pw33.c_str(), rc::kErrPasswordUser},
      {"carol", "c2", "carol", "c3", rc::kSuccess},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.who) + " -> " + c.target);
    EXPECT_EQ(ops_.changePassword(Wide(c.who), Wide(c.password), Wide(c.target), Wide(c.newPassword)),
              c.result);
  }
  EXPECT_EQ(accounts_.verify("bob", "b2"), 0);
  EXPECT_EQ(accounts_.verify("carol", "c3"), 0);
  EXPECT_EQ(ops_.changePassword(kMissing, kMissing, Wide("bob"), Wide("x")), rc::kErrAuthentication);
}

TEST_F(AdminOpsTest, GetAndSetRoundTrip) {
  SystemConfig sys = defaultSystemConfig();
  sys.dhcp = 0;
  sys.ip[3] = 10;
  EXPECT_EQ(ops_.setSystemConfig(admin_, pelun_, sys), rc::kSuccess);
  SystemConfig sysBack{};
  EXPECT_EQ(ops_.getSystemConfig(admin_, pelun_, &sysBack), rc::kSuccess);
  EXPECT_EQ(std::memcmp(&sys, &sysBack, sizeof sys), 0);

  ServiceConfig svc{};
  EXPECT_EQ(ops_.getServiceConfig(admin_, pelun_, &svc), rc::kSuccess);  // first get: defaults
  EXPECT_EQ(svc.sdk_port, 11110);
  svc.sdk_auth = 1;
  EXPECT_EQ(ops_.setServiceConfig(admin_, pelun_, svc), rc::kSuccess);
  ServiceConfig svcBack{};
  EXPECT_EQ(ops_.getServiceConfig(admin_, pelun_, &svcBack), rc::kSuccess);
  EXPECT_EQ(svcBack.sdk_auth, 1);

  OcpConfig ocp{};
  EXPECT_EQ(ops_.getOcpConfig(admin_, pelun_, &ocp), rc::kSuccess);
  ocp.login = 1;
  EXPECT_EQ(ops_.setOcpConfig(admin_, pelun_, ocp), rc::kSuccess);
  OcpConfig ocpBack{};
  EXPECT_EQ(ops_.getOcpConfig(admin_, pelun_, &ocpBack), rc::kSuccess);
  EXPECT_EQ(ocpBack.login, 1);

  // The loaded copies stay as they were until the next start.
  EXPECT_EQ(store_.service().sdk_auth, 0);
}

TEST_F(AdminOpsTest, WrongCaseAdministratorTouchesNoFile) {
  const Wide upper("Admin");
  SystemConfig sys = defaultSystemConfig();
  ServiceConfig svc = defaultServiceConfig();
  OcpConfig ocp = defaultOcpConfig();
  EXPECT_EQ(ops_.getSystemConfig(upper, pelun_, &sys), rc::kErrAuthentication);
  EXPECT_EQ(ops_.setSystemConfig(upper, pelun_, sys), rc::kErrAuthentication);
  EXPECT_EQ(ops_.getServiceConfig(upper, pelun_, &svc), rc::kErrAuthentication);
  EXPECT_EQ(ops_.setServiceConfig(upper, pelun_, svc), rc::kErrAuthentication);
  EXPECT_EQ(ops_.getOcpConfig(upper, pelun_, &ocp), rc::kErrAuthentication);
  EXPECT_EQ(ops_.setOcpConfig(upper, pelun_, ocp), rc::kErrAuthentication);
  for (const char* f : {"/flash/tavik_system", "/flash/tavik_service", "/flash/tavik_ocp"}) {
    EXPECT_FALSE(test::fileExists(root_.path(f))) << f;
  }
}

TEST_F(AdminOpsTest, ShortFilesFailTheirGets) {
  ASSERT_TRUE(test::writeFile(root_.path("/flash/tavik_system"), std::string(10, '\1')));
  ASSERT_TRUE(test::writeFile(root_.path("/flash/tavik_service"), std::string(43, '\1')));
  ASSERT_TRUE(test::writeFile(root_.path("/flash/tavik_ocp"), std::string(27, '\1')));
  SystemConfig sys{};
  ServiceConfig svc{};
  OcpConfig ocp{};
  EXPECT_EQ(ops_.getSystemConfig(admin_, pelun_, &sys), 0x80000305u);
  EXPECT_EQ(ops_.getServiceConfig(admin_, pelun_, &svc), 0x80000307u);
  EXPECT_EQ(ops_.getOcpConfig(admin_, pelun_, &ocp), 0x8000030Fu);
  EXPECT_EQ(ops_.getSystemConfig(admin_, pelun_, nullptr), 0x80000305u);
}

TEST_F(AdminOpsTest, FailedWritesGiveTheirSetCodes) {
  // Let the service and OCP records exist, then block each replacement.
  ServiceConfig svc{};
  OcpConfig ocp{};
  ASSERT_EQ(store_.readService(&svc), 0);
  ASSERT_EQ(store_.readOcp(&ocp), 0);
  for (const char* f : {"/flash/tavik_system.new", "/flash/tavik_service.new", "/flash/tavik_ocp.new"}) {
    ASSERT_TRUE(std::filesystem::create_directory(root_.path(f)));
  }
  EXPECT_EQ(ops_.setSystemConfig(admin_, pelun_, defaultSystemConfig()), 0x80000306u);
  EXPECT_EQ(ops_.setServiceConfig(admin_, pelun_, svc), 0x80000308u);
  EXPECT_EQ(ops_.setOcpConfig(admin_, pelun_, ocp), 0x80000310u);
}

struct ServiceCase {
  const char* what;
  int net_spool, net_sdk, spool_port, sdk_port;
  int ocp_enabled, ocp_port;
  ResultCode result;
};

TEST_F(AdminOpsTest, ServicePortChecks) {
  const ServiceCase cases[] = {
      {"spool on the command port", 1, 1, 11110, 11110, 1, 23, rc::kFail},
      {"same, command service off", 1, 0, 11110, 11110, 1, 23, rc::kSuccess},
      {"same, spool service off", 0, 1, 11110, 11110, 1, 23, rc::kSuccess},
      {"spool on the OCP port", 1, 1, 23, 11110, 1, 23, rc::kFail},
      {"spool on the OCP port, OCP off", 1, 1, 23, 11110, 0, 23, rc::kSuccess},
      {"command service on the OCP port", 1, 1, 9100, 2300, 1, 2300, rc::kFail},
      {"same, command service off", 1, 0, 9100, 2300, 1, 2300, rc::kSuccess},
      {"same, OCP off", 1, 1, 9100, 2300, 0, 2300, rc::kSuccess},
      {"all apart", 1, 1, 9100, 11110, 1, 23, rc::kSuccess},
      {"admin port is not checked", 1, 1, 11111, 11110, 1, 23, rc::kSuccess},
  };
  for (const ServiceCase& c : cases) {
    SCOPED_TRACE(c.what);
    OcpConfig ocp = defaultOcpConfig();
    ocp.enabled = c.ocp_enabled;
    ocp.port = c.ocp_port;
    ASSERT_EQ(store_.writeOcp(ocp), 0);
    const ServiceConfig before = defaultServiceConfig();
    ASSERT_EQ(store_.writeService(before), 0);
    ServiceConfig s = defaultServiceConfig();
    s.net_spool = c.net_spool;
    s.net_sdk = c.net_sdk;
    s.spool_port = c.spool_port;
    s.sdk_port = c.sdk_port;
    EXPECT_EQ(ops_.setServiceConfig(admin_, pelun_, s), c.result);
    const ServiceConfig& expected = c.result == rc::kSuccess ? s : before;
    EXPECT_EQ(file("/flash/tavik_service"),
              std::string(reinterpret_cast<const char*>(&expected), sizeof expected));
  }
}

struct OcpCase {
  const char* what;
  int enabled, port;
  int net_spool, net_sdk;
  ResultCode result;
};

TEST_F(AdminOpsTest, OcpPortChecks) {
  // The stored services: spool on 9100, commands on 11110.
  const OcpCase cases[] = {
      {"OCP on the spool port", 1, 9100, 1, 1, rc::kFail},
      {"same, OCP off", 0, 9100, 1, 1, rc::kSuccess},
      {"same, spool off", 1, 9100, 0, 1, rc::kSuccess},
      {"OCP on the command port", 1, 11110, 1, 1, rc::kFail},
      {"same, command service off", 1, 11110, 1, 0, rc::kSuccess},
      {"own port", 1, 2323, 1, 1, rc::kSuccess},
  };
  for (const OcpCase& c : cases) {
    SCOPED_TRACE(c.what);
    ServiceConfig svc = defaultServiceConfig();
    svc.net_spool = c.net_spool;
    svc.net_sdk = c.net_sdk;
    ASSERT_EQ(store_.writeService(svc), 0);
    const OcpConfig before = defaultOcpConfig();
    ASSERT_EQ(store_.writeOcp(before), 0);
    OcpConfig o = defaultOcpConfig();
    o.enabled = c.enabled;
    o.port = c.port;
    EXPECT_EQ(ops_.setOcpConfig(admin_, pelun_, o), c.result);
    const OcpConfig& expected = c.result == rc::kSuccess ? o : before;
    EXPECT_EQ(file("/flash/tavik_ocp"),
              std::string(reinterpret_cast<const char*>(&expected), sizeof expected));
  }
}

TEST_F(AdminOpsTest, UnreadableOtherRecordRefusesTheSet) {
  ASSERT_TRUE(test::writeFile(root_.path("/flash/tavik_ocp"), std::string(10, '\0')));
  EXPECT_EQ(ops_.setServiceConfig(admin_, pelun_, defaultServiceConfig()), rc::kFail);
  EXPECT_FALSE(test::fileExists(root_.path("/flash/tavik_service")));
  ASSERT_TRUE(test::writeFile(root_.path("/flash/tavik_service"), std::string(10, '\0')));
  OcpConfig o = defaultOcpConfig();
  o.enabled = 0;
  EXPECT_EQ(ops_.setOcpConfig(admin_, pelun_, o), rc::kFail);
  EXPECT_EQ(test::readFile(root_.path("/flash/tavik_ocp")), std::string(10, '\0'));
}

}  // namespace
}  // namespace tavik
