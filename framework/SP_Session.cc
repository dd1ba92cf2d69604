#include "framework/SP_Session.h"

#include <cstdlib>
#include <cstring>

#include "framework/SP_Assert.h"
#include "framework/SP_Buffer.h"
#include "framework/SP_Handler.h"
#include "framework/SP_IOChannel.h"
#include "framework/SP_RequestContext.h"

SP_Session::SP_Session(SP_SessionId id, int socket)
    : id_(id), socket_(socket), inputBuffer_(new SP_Buffer()), request_(new SP_RequestContext()), outputList_(2) {
  std::memset(&readEvent_, 0, sizeof(readEvent_));
  std::memset(&writeEvent_, 0, sizeof(writeEvent_));
}

SP_Session::~SP_Session() {
  delete handler_;
  delete request_;
  delete inputBuffer_;
  delete ioChannel_;
}

SP_SessionManager::SP_SessionManager() = default;

SP_SessionManager::~SP_SessionManager() {
  for (Entry*& row : mArray) {
    if (row == nullptr) continue;
    for (int col = 0; col < 1024; ++col) delete row[col].mSession;
    std::free(row);
    row = nullptr;
  }
}

uint16_t SP_SessionManager::allocateKey(uint16_t* seq) {
  if (freeList_ == 0) {
    int row = 1;
    while (row < 64 && mArray[row] != nullptr) ++row;
    if (row == 64) return 0;
    Entry* entries = static_cast<Entry*>(std::calloc(1024, sizeof(Entry)));
    if (entries == nullptr) return 0;
    for (int col = 0; col < 1024; ++col) {
      entries[col].next = col < 1023 ? static_cast<uint16_t>(row * 1024 + col + 1) : 0;
    }
    mArray[row] = entries;
    freeList_ = static_cast<uint16_t>(row * 1024);
    freeCount_ += 1024;
  }
  uint16_t key = freeList_;
  Entry& entry = mArray[key / 1024][key % 1024];
  freeList_ = entry.next;
  entry.next = 0;
  --freeCount_;
  *seq = entry.mSeq;
  return key;
}

void SP_SessionManager::put(uint16_t key, uint16_t seq, SP_Session* session) {
  Entry* list = mArray[key / 1024];
  SP_ASSERT(nullptr != list, "__null != mArray[ row ]", "void SP_SessionManager::put(uint16_t, uint16_t, SP_Session*)");
  int col = key % 1024;
  SP_ASSERT(nullptr == list[col].mSession, "__null == list[ col ].mSession",
            "void SP_SessionManager::put(uint16_t, uint16_t, SP_Session*)");
  SP_ASSERT(seq == list[col].mSeq, "seq == list[ col ].mSeq",
            "void SP_SessionManager::put(uint16_t, uint16_t, SP_Session*)");
  list[col].mSession = session;
  ++count_;
}

SP_Session* SP_SessionManager::lookup(uint16_t key, uint16_t* seq) const {
  const Entry* list = mArray[key / 1024];
  if (list == nullptr || key < 1024) {
    *seq = 0;
    return nullptr;
  }
  *seq = list[key % 1024].mSeq;
  return list[key % 1024].mSession;
}

SP_Session* SP_SessionManager::remove(uint16_t key, uint16_t seq) {
  Entry* list = mArray[key / 1024];
  if (list == nullptr || key < 1024) return nullptr;
  Entry& entry = list[key % 1024];
  SP_ASSERT(seq == entry.mSeq, "seq == list[ col ].mSeq", "SP_Session* SP_SessionManager::remove(uint16_t, uint16_t)");
  SP_Session* session = entry.mSession;
  ++entry.mSeq;
  if (session != nullptr) --count_;
  entry.mSession = nullptr;
  entry.next = freeList_;
  freeList_ = key;
  ++freeCount_;
  return session;
}

void SP_SessionManager::forEach(void (*visit)(SP_Session* session, void* argument), void* argument) {
  for (int row = 1; row < 64; ++row) {
    if (mArray[row] == nullptr) continue;
    for (int col = 0; col < 1024; ++col) {
      if (mArray[row][col].mSession != nullptr) visit(mArray[row][col].mSession, argument);
    }
  }
}
