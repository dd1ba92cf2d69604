#include "tools/client/StatusText.h"

namespace tavik::client {
namespace {

struct Bit {
  uint32_t mask;
  const char* text;
};

constexpr Bit kWordA[] = {
    {0x00000001, "taking a card in"},
    {0x00000002, "ejecting a card"},
    {0x00000004, "moving the card to the print position"},
    {0x00000008, "moving the card to the flipper"},
    {0x00000010, "moving the card to the printer"},
    {0x00000020, "moving the card to the contact encoding position"},
    {0x00000040, "moving the card to the contactless encoding position"},
    {0x00000080, "moving the card to the magnetic encoding position"},
    {0x00000100, "lifting the thermal head"},
    {0x00000200, "putting the thermal head down"},
    {0x00000400, "dis-contacting the smart-card reader"},
    {0x00000800, "contacting the smart-card reader"},
    {0x00001000, "printing"},
    {0x00002000, "reading or writing the magnetic stripe"},
    {0x00004000, "aligning the ribbon"},
    {0x00008000, "winding the ribbon"},
    {0x00010000, "flipping the card to the top side"},
    {0x00020000, "flipping the card to the bottom side"},
    {0x00040000, "card in the hopper"},
    {0x00080000, "thermal head lifted"},
    {0x00100000, "card in the printer"},
    {0x00200000, "no card in the printer"},
    {0x00400000, "flipper on its top side"},
    {0x00800000, "dual-side printer"},
    {0x01000000, "receiving print data"},
    {0x02000000, "print data present"},
    {0x04000000, "step-by-step command running"},
    {0x08000000, "step-by-step mode on"},
    {0x10000000, "top cover open"},
    {0x20000000, "printer initialising"},
    {0x40000000, "bit 30"},
    {0x80000000, "test mode on"},
};

constexpr Bit kWordB[] = {
    {0x00000001, "card-in fault"},
    {0x00000002, "fault moving to the print position"},
    {0x00000004, "eject fault"},
    {0x00000008, "fault moving to the magnetic position"},
    {0x00000010, "fault moving to the contact position"},
    {0x00000020, "fault moving to the contactless position"},
    {0x00000040, "fault moving to the flipper"},
    {0x00000080, "fault moving to the printer"},
    {0x00000100, "thermal head lift fault"},
    {0x00000200, "thermal head lower fault"},
    {0x00000400, "smart-card reader dis-contact fault"},
    {0x00000800, "smart-card reader contact fault"},
    {0x00001000, "fault flipping to the top side"},
    {0x00002000, "fault flipping to the bottom side"},
    {0x00004000, "printing fault"},
    {0x00008000, "magnetic read or write fault"},
    {0x00010000, "ribbon alignment fault"},
    {0x00020000, "ribbon winding fault"},
    {0x00040000, "no thermal head"},
    {0x00080000, "thermal head overheated"},
    {0x00100000, "ribbon empty"},
    {0x00200000, "data fault"},
    {0x00400000, "fault ejecting to the back side"},
    {0x00800000, "erase fault"},
    {0x01000000, "authentication fault"},
    {0x02000000, "magnetic track 1 read fault"},
    {0x04000000, "magnetic track 2 read fault"},
    {0x08000000, "magnetic track 3 read fault"},
    {0x10000000, "printer locked"},
    {0x20000000, "bit 29"},
    {0x40000000, "bit 30"},
    {0x80000000, "bit 31"},
};

template <size_t N>
std::vector<std::string> describe(const Bit (&table)[N], uint32_t word) {
  std::vector<std::string> out;
  for (const Bit& b : table)
    if (word & b.mask) out.push_back(b.text);
  return out;
}

}  // namespace

std::vector<std::string> describeStatusA(uint32_t a) { return describe(kWordA, a); }
std::vector<std::string> describeStatusB(uint32_t b) { return describe(kWordB, b); }

}  // namespace tavik::client
