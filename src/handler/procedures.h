#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "handler/parameter.h"

namespace quenvar {

class LocaleText;

// The parameter list of one stack entry.
class Procedures {
 public:
  void Add(std::string sParam, std::string sType, Variant vVal);
  // The parameter text, or Empty when a failure other than a type mismatch stopped it.
  Variant ReadParams(const LocaleText& locale) const;
  size_t size() const { return params_.size(); }

  static const char* GetOrdinalSuffix(uint64_t i);

 private:
  std::vector<Parameter> params_;
};

// The parameter lists of the thread's stack entries, by stack index, shared by every handler of
// the thread. No table at all until the thread's first Push; a slot may hold no list yet.
class ProcParamTable {
 public:
  bool exists() const { return size_ > 0; }  // a Push leaves at least one slot
  size_t size() const { return size_; }
  std::shared_ptr<Procedures>& operator[](size_t i) { return slots_[i]; }

  // Push's and Pop's usual move by one slot: onto kept storage, and back from a slot that holds
  // no list, so that nothing is released.
  bool canGrowInPlace() const { return size_ > 0 && size_ < slots_.size(); }
  void growInPlace() { ++size_; }
  bool canShrinkInPlace() const { return size_ >= 2 && !trimsAt(size_ - 1) && !slots_[size_ - 1]; }
  void shrinkInPlace() { --size_; }

  // Slots cut off release their lists; slots brought in hold none.
  void resize(size_t size) {
    for (size_t i = size; i < size_; ++i) slots_[i].reset();
    if (size > slots_.size()) slots_.resize(size);
    size_ = size;
    // A table that went very deep and came back gives most of its storage back.
    if (trimsAt(size_)) {
      slots_.resize(std::max(size_ * 2, kKeptSlots));
      slots_.shrink_to_fit();
    }
  }

 private:
  static constexpr size_t kKeptSlots = 4096;
  bool trimsAt(size_t size) const { return slots_.size() > kKeptSlots && size < slots_.size() / 4; }

  // Slots past size_ are kept, empty, so that Push and Pop move the size without allocating.
  std::vector<std::shared_ptr<Procedures>> slots_;
  size_t size_ = 0;
};

}  // namespace quenvar
