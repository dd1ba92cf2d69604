// Magnetic stripe encoder and printer lock of the virtual printer, driven
// through the device socket.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstring>

#include "tests/unit/sim_printer/PrinterLink.h"

namespace tavik {
namespace {

using test::VirtualPrinterTest;
using test::waitFor;

std::vector<uint8_t> frame(std::initializer_list<uint8_t> head, const std::string& data = "") {
  std::vector<uint8_t> f(head);
  f.insert(f.end(), data.begin(), data.end());
  return f;
}

std::string text(const std::vector<uint8_t>& v) { return std::string(v.begin(), v.end()); }

TEST_F(VirtualPrinterTest, MagneticWriteThenReadRoundTripInBothBufferForms) {
  ASSERT_EQ(ctl("load"), "OK");  // hopper: 5 blank cards, then this one
  link_.send({0x40, 0x01, 0x00});
  ASSERT_TRUE(link_.waitIdle());

  // One track at a time, then write tracks 1 and 2 onto the card.
  link_.send(frame({0x40, 0x41, 0x01}, "%B4111^DOE/JOHN^29?"));
  link_.send(frame({0x40, 0x41, 0x02}, ";4111=2912?"));
  link_.send({0x40, 0x40, 0x03});
  ASSERT_TRUE(link_.waitIdle());
  ASSERT_EQ(link_.wordB(), 0u);
  auto card = printer_.model().cardInside();
  ASSERT_TRUE(card.has_value());
  EXPECT_EQ(card->tracks[0], "%B4111^DOE/JOHN^29?");
  EXPECT_EQ(card->tracks[1], ";4111=2912?");

  // Spoil the buffer, then read the card back into it.
  link_.send(frame({0x40, 0x41, 0x80}, std::string("\x01\x01X\x02\x01Y", 6)));
  EXPECT_EQ(text(link_.ask({0x40, 0x31, 0x01}, 256)), "X");
  link_.send({0x40, 0x30, 0x07});
  ASSERT_TRUE(link_.waitIdle());
  // Track 3 is blank: a read fault of that track, not of the encoder.
  EXPECT_EQ(link_.wordB() & 0x8008, 0u);
  EXPECT_NE(link_.wordB() & (1u << 27), 0u);

  EXPECT_EQ(text(link_.ask({0x40, 0x31, 0x02}, 256)), ";4111=2912?");
  auto all = link_.ask({0x40, 0x31, 0x87}, 1024);
  std::string expected = std::string("\x01\x13") + "%B4111^DOE/JOHN^29?" + "\x02\x0B" +
                         ";4111=2912?" + std::string("\x04\x00\x00", 3);
  EXPECT_EQ(text(all), expected);
}

TEST_F(VirtualPrinterTest, CryptoBufferFormIsReversibleWithTheKey) {
  std::vector<uint8_t> key = frame({0x50, 0x09, 0x00});
  key.resize(11, 0);
  for (uint8_t i = 0; i < 16; ++i) key.push_back(static_cast<uint8_t>(0x30 + i));
  link_.send(key);
  link_.send(frame({0x40, 0x41, 0x01}, "HELLO"));
  std::string sealed = text(link_.ask({0x40, 0x32, 0x01}, 256));
  ASSERT_EQ(sealed.size(), 5u);
  EXPECT_NE(sealed, "HELLO");
  // Sealed data written back through the crypto form reads as plain text.
  link_.send(frame({0x40, 0x42, 0x02}, sealed));
  EXPECT_EQ(text(link_.ask({0x40, 0x31, 0x02}, 256)), "HELLO");
  // All-tracks crypto reply: an empty record takes two bytes.
  auto all = link_.ask({0x40, 0x32, 0x85}, 1024);
  ASSERT_EQ(all.size(), 2u + 5u + 2u);
  EXPECT_EQ(all[7], 0x04);
  EXPECT_EQ(all[8], 0x00);
}

TEST_F(VirtualPrinterTest, TrackTwoRefusesLettersInCharacterMode) {
  ctl("place magnetic");
  link_.send(frame({0x40, 0x41, 0x02}, "ABC"));
  link_.send({0x40, 0x40, 0x02});
  ASSERT_TRUE(link_.waitIdle());
  EXPECT_EQ(link_.wordB() & 0x8000, 0x8000u);
  // Bit data mode takes any bytes.
  link_.send({0x40, 0xF0, 0x00});
  link_.send({0x40, 0x40, 0x82, 76, 210, 210});
  ASSERT_TRUE(link_.waitIdle());
  EXPECT_EQ(link_.wordB(), 0u);
  EXPECT_EQ(printer_.model().cardInside()->tracks[1], "ABC");
}

TEST_F(VirtualPrinterTest, LoadedCardCarriesItsStripe) {
  ctl("hopper 0");
  ASSERT_EQ(ctl("load t1=%25ABC%20DEF? t2=;123?"), "OK");
  link_.send({0x40, 0x01, 0x00});
  link_.send({0x40, 0x30, 0x03});
  ASSERT_TRUE(link_.waitIdle());
  EXPECT_EQ(text(link_.ask({0x40, 0x31, 0x01}, 256)), "%ABC DEF?");
  EXPECT_EQ(text(link_.ask({0x40, 0x31, 0x02}, 256)), ";123?");
}

// ------------------------------------------------------------ lock

std::vector<uint8_t> lockDigest(const std::string& password, uint16_t ribbon) {
  uint8_t input[20] = {};
  std::memcpy(input, password.data(), std::min<size_t>(8, password.size()));
  input[8] = static_cast<uint8_t>(ribbon);
  input[9] = static_cast<uint8_t>(ribbon >> 8);
  std::memcpy(input + 10, "QOLBERVUNZ", 10);
  std::vector<uint8_t> md(EVP_MAX_MD_SIZE);
  unsigned int len = 0;
  EVP_Digest(input, sizeof input, md.data(), &len, EVP_md5(), nullptr);
  md.resize(len);
  return md;
}

std::vector<uint8_t> lockFrame(uint8_t code, const std::vector<uint8_t>& digest) {
  std::vector<uint8_t> f(3 + digest.size(), 0);
  f[0] = 0x50;
  f[1] = code;
  std::copy(digest.begin(), digest.end(), f.begin() + 3);
  return f;
}

TEST_F(VirtualPrinterTest, LockChangesOnlyWithTheRightDigest) {
  printer_.model().setRibbon(0x0123, -1);
  // Set the password: current one (empty), then the new one.
  std::vector<uint8_t> set(19, 0);
  set[0] = 0x50;
  set[1] = 0x05;
  std::memcpy(&set[11], "secret12", 8);
  link_.send(set);
  ASSERT_EQ(printer_.model().password(), "secret12");

  link_.send(lockFrame(0x19, lockDigest("wrong", 0x0123)));
  EXPECT_EQ(link_.wordB() & 0x10000000, 0u);
  link_.send(lockFrame(0x19, lockDigest("secret12", 0x0124)));  // stale ribbon count
  EXPECT_EQ(link_.wordB() & 0x10000000, 0u);
  link_.send(lockFrame(0x19, lockDigest("secret12", 0x0123)));
  EXPECT_NE(link_.wordB() & 0x10000000, 0u);

  // Locked: no card comes in, and clear status keeps the lock.
  link_.send({0x40, 0x01, 0x00});
  ASSERT_TRUE(link_.waitIdle());
  EXPECT_NE(link_.wordB() & 0x01, 0u);
  link_.send({0x40, 0xF0, 0x00});
  EXPECT_EQ(link_.wordB(), 0x10000000u);

  link_.send(lockFrame(0x18, lockDigest("secret1", 0x0123)));
  EXPECT_NE(link_.wordB() & 0x10000000, 0u);
  link_.send(lockFrame(0x18, lockDigest("secret12", 0x0123)));
  EXPECT_EQ(link_.wordB() & 0x10000000, 0u);
}

TEST_F(VirtualPrinterTest, TimedUnlockLocksAgainAfterItsTime) {
  printer_.model().setTimeScale(0.1);  // 2 s of printer time = 200 ms
  ctl("lock");
  auto f = lockFrame(0x1A, lockDigest("", 250));
  f.insert(f.end(), {2, 0, 0, 0});
  link_.send(f);
  EXPECT_EQ(link_.wordB() & 0x10000000, 0u);
  EXPECT_TRUE(waitFor([&] { return (link_.wordB() & 0x10000000) != 0; }));
}

TEST_F(VirtualPrinterTest, WrongOldPasswordIsRefusedWithAuthenticationFault) {
  printer_.model().setPassword("abc");
  std::vector<uint8_t> set(19, 0);
  set[0] = 0x50;
  set[1] = 0x17;
  std::memcpy(&set[3], "abd", 3);
  std::memcpy(&set[11], "new", 3);
  link_.send(set);
  EXPECT_EQ(printer_.model().password(), "abc");
  EXPECT_NE(link_.wordB() & (1u << 24), 0u);
  std::memcpy(&set[3], "abc", 3);
  link_.send(set);
  EXPECT_EQ(printer_.model().password(), "new");
}

}  // namespace
}  // namespace tavik
