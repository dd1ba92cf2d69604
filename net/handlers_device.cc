// Device session: whether the printer is open, open it for this connection
// (optionally with an account), close it.
#include <string>

#include "config/ConfigStore.h"
#include "config/UserAccounts.h"
#include "net/CommandTable.h"
#include "printer/PrinterApi.h"
#include "printer/PrinterPort.h"

namespace tavik {
namespace {

// The longest user name and password (16 and 32 characters) with their 0
// units.
constexpr uint32_t kMaxUserBytes = 34;
constexpr uint32_t kMaxPasswordBytes = 66;

bool deviceNameMatches(CommandEngine& e, const std::u16string& name) {
  char id[PrinterPort::kPrinterIdSize] = {};
  e.port().printerId(id);
  id[sizeof id - 1] = '\0';
  return CommandEngine::sameText(id, name);
}

std::string narrow(const std::u16string& s) {
  std::string out;
  for (char16_t c : s) out.push_back(char(uint8_t(c)));
  return out;
}

}  // namespace

void handleIsOpenDevice(CommandEngine& e, const char* name) {
  std::u16string device;
  if (!handler::begin(e, name, 1, false) || !handler::textArg(e, name, 0, &device)) return;
  if (!deviceNameMatches(e, device)) return handler::fail(e, name, tvnp::kFlagExecution);
  if (e.port().owner() != 0) return handler::fail(e, name, tvnp::kFlagBusy);
  handler::finish(e, name, rc::kSuccess);
}

void handleOpenDevice(CommandEngine& e, const char* name) {
  const bool auth = e.config().service().sdk_auth != 0;
  if (!handler::begin(e, name, auth ? 3 : 1, false)) return;
  std::u16string device, user, password;
  if (!handler::textArg(e, name, 0, &device)) return;
  if (auth) {
    const uint8_t* d;
    uint32_t userLen = 0, passwordLen = 0;
    e.argBytes(1, &d, &userLen);
    e.argBytes(2, &d, &passwordLen);
    if (userLen > kMaxUserBytes || passwordLen > kMaxPasswordBytes)
      return handler::fail(e, name, tvnp::kFlagArgument);
    if (!handler::textArg(e, name, 1, &user) || !handler::textArg(e, name, 2, &password)) return;
  }
  if (!deviceNameMatches(e, device)) return handler::fail(e, name, tvnp::kFlagExecution);
  int session = int(e.session());
  if (e.port().acquire(session, 0) != session) return handler::fail(e, name, tvnp::kFlagBusy);
  std::string userName = narrow(user);
  if (auth) {
    // Any account may open the printer. The ownership taken above stays with
    // this connection until it closes the device or ends.
    UserAccounts accounts(e.config());
    if (accounts.verify(userName.c_str(), narrow(password).c_str()) != 0) {
      e.buildReply(tvnp::kFlagAuth, rc::kFail);
      e.logLine(1, name, userName.c_str());
      return;
    }
  }
  handler::dropCardLink(e);
  uint8_t handle[4];
  tvnp::storeU32(handle, e.session());
  e.buildReply(0, rc::kSuccess, {handle, 4});
  e.logLine(1, name, auth ? userName.c_str() : "");
}

void handleCloseDevice(CommandEngine& e, const char* name) {
  if (!handler::begin(e, name, 1, true)) return;
  int session = int(e.session());
  if (e.port().owner() == session && e.config().service().eject_on_close != 0) {
    // A card left in the printer goes out with its owner; failures here do
    // not stop the close.
    PrinterStatus st;
    if (e.api().getStatus(&st) == rc::kSuccess && (st.a & status_a::kCardInside) != 0)
      e.api().cardOut();
  }
  e.port().release(session);
  handler::dropCardLink(e);
  handler::finish(e, name, rc::kSuccess);
}

}  // namespace tavik
