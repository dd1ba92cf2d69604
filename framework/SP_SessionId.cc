#include "framework/SP_SessionId.h"

SP_SessionIdList::~SP_SessionIdList() {
  for (int i = 0; i < list_.count(); ++i) delete static_cast<const SP_SessionId*>(list_.itemAt(i));
}

void SP_SessionIdList::add(SP_SessionId id) { list_.append(new SP_SessionId(id)); }

SP_SessionId SP_SessionIdList::get(int index) const {
  const SP_SessionId* id = static_cast<const SP_SessionId*>(list_.itemAt(index));
  return id != nullptr ? *id : SP_SessionId{};
}

int SP_SessionIdList::find(SP_SessionId id) const {
  for (int i = 0; i < list_.count(); ++i) {
    if (*static_cast<const SP_SessionId*>(list_.itemAt(i)) == id) return i;
  }
  return -1;
}

SP_SessionId SP_SessionIdList::take(int index) {
  SP_SessionId* id = static_cast<SP_SessionId*>(list_.removeAt(index));
  if (id == nullptr) return SP_SessionId{};
  SP_SessionId copy = *id;
  delete id;
  return copy;
}
