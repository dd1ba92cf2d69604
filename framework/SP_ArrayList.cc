#include "framework/SP_ArrayList.h"

#include <cstdlib>
#include <cstring>

#include "framework/SP_Assert.h"

SP_ArrayList::SP_ArrayList(int initCount)
    : capacity_(initCount < 1 ? 2 : initCount), count_(0),
      mFirst(static_cast<void**>(std::calloc(static_cast<size_t>(capacity_), sizeof(void*)))) {
  SP_ASSERT(nullptr != mFirst, "__null != mFirst", "SP_ArrayList::SP_ArrayList(int)");
}

SP_ArrayList::~SP_ArrayList() { std::free(mFirst); }

int SP_ArrayList::append(void* item) {
  if (item == nullptr) return -1;
  if (count_ >= capacity_) {
    int grown = capacity_ * 3 / 2 + 1;
    void** slots = static_cast<void**>(std::realloc(mFirst, static_cast<size_t>(grown) * sizeof(void*)));
    SP_ASSERT(nullptr != slots, "__null != mFirst", "int SP_ArrayList::append(void*)");
    std::memset(slots + capacity_, 0, static_cast<size_t>(grown - capacity_) * sizeof(void*));
    mFirst = slots;
    capacity_ = grown;
  }
  mFirst[count_++] = item;
  return 0;
}

int SP_ArrayList::normalise(int index) const {
  if (index == LAST_INDEX) index = count_ - 1;
  return (index >= 0 && index < count_) ? index : -1;
}

const void* SP_ArrayList::itemAt(int index) const {
  int at = normalise(index);
  return at < 0 ? nullptr : mFirst[at];
}

void* SP_ArrayList::removeAt(int index) {
  int at = normalise(index);
  if (at < 0) return nullptr;
  void* item = mFirst[at];
  std::memmove(mFirst + at, mFirst + at + 1, static_cast<size_t>(count_ - at - 1) * sizeof(void*));
  --count_;
  mFirst[count_] = nullptr;
  return item;
}

void SP_ArrayList::clear() {
  std::memset(mFirst, 0, static_cast<size_t>(capacity_) * sizeof(void*));
  count_ = 0;
}
