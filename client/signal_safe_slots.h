// A fixed table of values that threads add and remove while a signal
// handler may read it. The handler may touch nothing but lock-free state: a
// slot is claimed, filled, then marked live, and only live slots are read.
#pragma once

#include <atomic>

namespace thumbnail {

template <typename T, int kSlots>
class SignalSafeSlots {
 public:
  // The slot now holding `value`, or -1 when every slot is taken.
  int Add(const T& value) {
    for (int i = 0; i < kSlots; ++i) {
      int expected = kFree;
      if (slots_[i].state.compare_exchange_strong(expected, kClaimed)) {
        slots_[i].value = value;
        slots_[i].state.store(kLive);
        return i;
      }
    }
    return -1;
  }

  void Remove(int slot) {
    if (slot >= 0) slots_[slot].state.store(kFree);
  }

  // Calls visit(slot, value) for each live slot; safe in a signal handler
  // when `visit` is.
  template <typename Visit>
  void ForEachLive(Visit visit) {
    for (int i = 0; i < kSlots; ++i)
      if (slots_[i].state.load() == kLive) visit(i, slots_[i].value);
  }

 private:
  enum State { kFree, kClaimed, kLive };
  struct Slot {
    std::atomic<int> state{kFree};
    T value;
  };
  Slot slots_[kSlots];
};

}  // namespace thumbnail
