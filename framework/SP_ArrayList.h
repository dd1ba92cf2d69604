// Growable array of untyped pointers. Items are not owned. Not thread-safe.
// Public face of framework/.
#pragma once

class SP_ArrayList {
 public:
  static const int LAST_INDEX = -1;

  // A capacity below 1 gives 2.
  explicit SP_ArrayList(int initCount = 2);
  virtual ~SP_ArrayList();
  SP_ArrayList(const SP_ArrayList&) = delete;
  SP_ArrayList& operator=(const SP_ArrayList&) = delete;

  int count() const { return count_; }
  int capacity() const { return capacity_; }
  // Refuses a null item with -1; otherwise stores it last and returns 0.
  int append(void* item);
  // LAST_INDEX selects the last item; out of range gives null.
  const void* itemAt(int index) const;
  void* takeItem(int index) { return const_cast<void*>(itemAt(index)); }
  // Removes and returns the item (null when out of range).
  void* removeAt(int index);
  // Forgets all items without deleting them.
  void clear();

 private:
  int normalise(int index) const;

  int capacity_;
  int count_;
  void** mFirst;  // capacity_ slots
};
