// Names one session of a server: its table key and the key's sequence at the
// time, so an id of a closed session never matches a later one. Public face
// of framework/.
#pragma once

#include <cstdint>

#include "framework/SP_ArrayList.h"

struct SP_SessionId {
  uint16_t mKey = 0;
  uint16_t mSeq = 0;

  // Keys 0 and 1 with sequence 0xFFFF never name a session.
  static const uint16_t RESERVED_SEQ = 0xFFFF;
  bool isReserved() const { return (mKey == 0 || mKey == 1) && mSeq == RESERVED_SEQ; }
  bool operator==(const SP_SessionId& other) const { return mKey == other.mKey && mSeq == other.mSeq; }
  bool operator!=(const SP_SessionId& other) const { return !(*this == other); }
};

// A list of session ids (copies). Not thread-safe.
class SP_SessionIdList {
 public:
  SP_SessionIdList() : list_(2) {}
  ~SP_SessionIdList();
  SP_SessionIdList(const SP_SessionIdList&) = delete;
  SP_SessionIdList& operator=(const SP_SessionIdList&) = delete;

  void add(SP_SessionId id);
  // A copy; an all-zero id when out of range; -1 selects the last.
  SP_SessionId get(int index) const;
  // Index of the first equal id, or -1.
  int find(SP_SessionId id) const;
  // Removes the record and returns its copy (all-zero when out of range).
  SP_SessionId take(int index);
  int count() const { return list_.count(); }

 private:
  SP_ArrayList list_;  // of SP_SessionId*, owned
};
