// A command engine on the real printer port in front of the virtual
// printer, with the real log and settings store, all inside a private
// sysroot. Shared by the engine and handler tests.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "config/ConfigStore.h"
#include "net/CommandEngine.h"
#include "net/TvnpPacket.h"
#include "printer/PrinterPort.h"
#include "server/Logger.h"
#include "sim/printer/VirtualPrinter.h"
#include "tests/support/TestSupport.h"

namespace tavik::test {

class EngineFixture : public ::testing::Test {
 protected:
  // Settings the module starts with; tests change them before startModule().
  ServiceConfig service = defaultServiceConfig();

  void SetUp() override {
    writeFile(root_.path("/proc/bus/usb/devices"),
              "T:  Bus=01 Lev=01 Prnt=01 Port=00 Cnt=01 Dev#=  3 Spd=12  MxCh= 0\n"
              "P:  Vendor=0016 ProdID=0101 Rev= 1.00\n");
    sim::PrinterConfig pc;
    pc.timeScale = 0.01;
    printer_ = std::make_unique<sim::VirtualPrinter>(pc);
    ASSERT_TRUE(printer_->start(root_.root()));
  }

  // Builds the log, the settings store (with `service` written) and the port.
  void startModule() {
    logger_ = std::make_unique<Logger>();
    logger_->setThreshold(0);
    config_ = std::make_unique<ConfigStore>();
    ASSERT_EQ(config_->writeService(service), 0);
    config_->load();
    port_ = std::make_unique<PrinterPort>();
  }

  std::unique_ptr<CommandEngine> newEngine(const char* peer = "10.0.0.9") {
    if (!port_) startModule();
    auto e = std::make_unique<CommandEngine>();
    EXPECT_EQ(e->init(port_.get(), logger_.get(), config_.get(), peer), 1);
    return e;
  }

  static std::vector<uint8_t> request(uint16_t command, std::vector<std::vector<uint8_t>> args,
                                      uint32_t sequence = 7) {
    tvnp::Header h;
    h.sequence = sequence;
    h.command = command;
    h.flags = tvnp::kFlagRequest;
    return tvnp::buildPacket(h, args);
  }

  struct Reply {
    tvnp::Header header;
    std::vector<std::vector<uint8_t>> args;
    uint32_t result() const { return args.empty() ? 0xDEAD : tvnp::loadU32(args[0].data()); }
    std::string text(size_t i) const {
      std::string s;
      tvnp::decodeText(args.at(i).data(), args.at(i).size(), &s);
      return s;
    }
  };

  // Feeds a whole request in one chunk and returns the parsed reply; resets
  // the engine afterwards as the SDK service does.
  Reply exchange(CommandEngine& e, const std::vector<uint8_t>& packet) {
    Reply r;
    int got = e.receive(packet.data(), packet.size());
    EXPECT_EQ(got, CommandEngine::kReply);
    if (got != CommandEngine::kReply) return r;
    tvnp::PacketView v;
    EXPECT_TRUE(v.parse(e.reply(), size_t(e.replySize()), 4));
    r.header = v.header();
    for (uint32_t i = 0; i < v.count(); ++i) {
      const uint8_t* d;
      uint32_t n;
      v.arg(i, &d, &n);
      r.args.emplace_back(d, d + n);
    }
    e.reset();
    return r;
  }

  uint32_t openDevice(CommandEngine& e) {
    Reply r = exchange(e, request(1, {tvnp::encodeText(printerId())}));
    EXPECT_EQ(r.header.flags, 0x0002);
    return r.args.size() > 1 ? tvnp::loadU32(r.args[1].data()) : 0;
  }

  std::string printerId() {
    char id[PrinterPort::kPrinterIdSize] = {};
    port_->printerId(id);
    return id;
  }

  std::string logText() const {
    return readFile(root_.path("/var/log/tavik.log.0")) + readFile(root_.path("/var/log/tavik.log.1"));
  }
  std::string transcript() const { return readFile(root_.path("/sim/printer/transcript.log")); }

  ScopedSysroot root_;
  std::unique_ptr<sim::VirtualPrinter> printer_;
  std::unique_ptr<Logger> logger_;
  std::unique_ptr<ConfigStore> config_;
  std::unique_ptr<PrinterPort> port_;
};

}  // namespace tavik::test
