#pragma once

#include <algorithm>
#include <cstddef>
#include <memory>
#include <vector>

#include "quenvar/detail/name_stack.h"

namespace quenvar {

class Procedures;

// The parameter lists of the thread's stack entries, by stack index, shared by every handler of
// the thread. No table at all until the thread's first Push; a slot may hold no list yet.
class ProcParamTable {
 public:
  bool exists() const { return size_ > 0; }  // a Push leaves at least one slot
  size_t size() const { return size_; }
  // A slot to read or fill: from here on it may hold a list.
  std::shared_ptr<Procedures>& operator[](size_t i) {
    if (i >= listEnd_) {
      listEnd_ = i + 1;
      kept();
    }
    return slots_[i];
  }

  // Push's and Pop's usual move by one slot: onto kept storage, and back from a slot that holds
  // no list, so that nothing is released.
  // Only from a table that exists: Push checks its size is the new depth, never 0.
  bool canGrowInPlace() const { return size_ < held_; }
  void growInPlace() { ++size_; }
  bool canShrinkInPlace() const { return size_ > shrinkFloor_; }
  void shrinkInPlace() { --size_; }

  // Slots cut off release their lists; slots brought in hold none.
  void resize(size_t size) {
    for (size_t i = size; i < size_; ++i) slots_[i].reset();
    if (size > held_) slots_.resize(size);
    size_ = size;
    if (KeptStorage::trimsAt(size_, slots_.size())) {
      slots_.resize(KeptStorage::trimmedTo(size_));
      slots_.shrink_to_fit();
    }
    held_ = slots_.size();
    listEnd_ = std::min(listEnd_, size_);
    kept();
  }

 private:
  // Pop's usual move stays above the slots that may hold a list and above the size at which
  // storage is given back; worked out when either changes, so that the move reads no slot.
  void kept() { shrinkFloor_ = std::max(KeptStorage::popFloor(held_), listEnd_); }

  std::vector<std::shared_ptr<Procedures>> slots_;
  size_t size_ = 0;
  size_t held_ = 0;
  size_t listEnd_ = 0;  // no slot from here on holds a list
  size_t shrinkFloor_ = 1;
};

}  // namespace quenvar
